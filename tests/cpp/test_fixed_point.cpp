// is_simplified: never true for a tree that simplify would change or reject.
#include <gtest/gtest.h>

#include <random>
#include <stdexcept>

#include "core/expr.hpp"
#include "expand/expand.hpp"
#include "simplify/simplify.hpp"
#include "tree_builders.hpp"

namespace tavrelo {
namespace {

using namespace build;

// Small random trees over every kind, with the numbers the rules look at.
class Trees {
public:
    explicit Trees(unsigned seed) : rng_(seed) {}

    ExprPtr tree(int depth) {
        if (depth == 0 || pick(4) == 0) {
            return leaf();
        }
        switch (pick(11)) {
        case 0: return neg(tree(depth - 1));
        case 1: return add(tree(depth - 1), tree(depth - 1));
        case 2: return mul(tree(depth - 1), tree(depth - 1));
        case 3: return div(tree(depth - 1), tree(depth - 1));
        case 4: return pow(tree(depth - 1), tree(depth - 1));
        case 5: return sqrt(tree(depth - 1));
        case 6: return std::make_shared<Cbrt>(tree(depth - 1));
        case 7: return sin(tree(depth - 1));
        case 8: return std::make_shared<Cos>(tree(depth - 1));
        case 9: return std::make_shared<Tan>(tree(depth - 1));
        default: return std::make_shared<Log>(tree(depth - 1));
        }
    }

private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

    ExprPtr leaf() {
        switch (pick(7)) {
        case 0: return i(pick(7) - 2);
        case 1: return v("x");
        case 2: return v("y");
        case 3: return q(1, 2 + pick(2));
        case 4: return pi();
        case 5: return e();
        default: return div(pi(), i(1 + pick(4)));
        }
    }

    std::mt19937 rng_;
};

TEST(IsSimplified, NeverClaimsATreeSimplifyWouldChange) {
    Trees trees(7);
    int claimed = 0;
    for (int n = 0; n < 20000; ++n) {
        const ExprPtr t = trees.tree(4);
        ExprPtr s;
        try {
            s = simplify(t);
        } catch (const std::invalid_argument&) {
            EXPECT_FALSE(is_simplified(t)) << t->to_string();
            continue;
        }
        if (is_simplified(t)) {
            EXPECT_TRUE(structurally_equal(*s, *t)) << t->to_string();
        }
        claimed += is_simplified(s) ? 1 : 0;
    }
    EXPECT_GT(claimed, 10000);  // most results are recognised, so the check is worth its walk
}

TEST(IsSimplified, RecognisesResultsOfExpand) {
    const ExprPtr x = v("x");
    EXPECT_TRUE(is_simplified(expand(pow(add(add(x, v("y")), i(1)), i(6)))));
    EXPECT_FALSE(is_simplified(add(x, i(0))));
}

}  // namespace
}  // namespace tavrelo
