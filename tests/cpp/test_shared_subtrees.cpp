// Trees that share subtrees: two separately built copies of a DAG standing for 2^60 leaves
// compare in time linear in their distinct nodes.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "core/expr.hpp"

namespace tavrelo {
namespace {

using Twice = std::function<ExprPtr(const ExprPtr&)>;

ExprPtr doubled(const Twice& twice, ExprPtr e, int levels) {
    for (int k = 0; k < levels; ++k) {
        e = twice(e);
    }
    return e;
}

TEST(SharedSubtrees, EqualityOfSeparateCopies) {
    const Twice shapes[] = {
        [](const ExprPtr& e) { return std::make_shared<Add>(e, e); },
        [](const ExprPtr& e) { return std::make_shared<Pow>(e, std::make_shared<Neg>(e)); },
        [](const ExprPtr& e) {
            return std::make_shared<Mul>(std::make_shared<Sin>(e), std::make_shared<Sin>(e));
        },
    };
    const auto x = [] { return std::make_shared<Var>("x"); };
    for (const auto& twice : shapes) {
        const ExprPtr a = doubled(twice, x(), 60);
        const ExprPtr b = doubled(twice, x(), 60);
        EXPECT_TRUE(a->equals(b));
        EXPECT_TRUE(b->equals(a));
        // A difference at the bottom or the top is still found.
        EXPECT_FALSE(a->equals(doubled(twice, std::make_shared<Var>("y"), 60)));
        EXPECT_FALSE(a->equals(doubled(twice, x(), 59)));
        // Nodes shared by both sides count once, whichever way they are reached.
        const ExprPtr half = doubled(twice, x(), 30);
        EXPECT_TRUE(doubled(twice, half, 30)->equals(doubled(twice, doubled(twice, x(), 30), 30)));
    }
}

}  // namespace
}  // namespace tavrelo
