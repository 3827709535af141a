// The renderer's size check: the bound it computes tracks the real text, shared subtrees render
// like their unshared copies, and a text larger than memory is refused before it is written.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <random>
#include <string>

#include "core/expr.hpp"
#include "core/latex_size.hpp"

namespace tavrelo {
namespace {

ExprPtr x() { return std::make_shared<Var>("x"); }
ExprPtr i(int v) { return std::make_shared<Int>(v); }

// Random trees of every class, with the integers the renderer treats specially.
class TreeMaker {
public:
    explicit TreeMaker(unsigned seed) : rng_(seed) {}

    ExprPtr make(int depth) {
        const int pick = depth <= 0 ? below(5) : below(16);
        switch (pick) {
        case 0: return i(integer());
        case 1: return std::make_shared<Var>(below(4) == 0 ? "" : below(2) ? "x" : "\xce\xb1");
        case 2: return std::make_shared<Rational>(integer(), nonzero());
        case 3: return std::make_shared<Pi>();
        case 4: return std::make_shared<E>();
        case 5: return std::make_shared<Neg>(make(depth - 1));
        case 6: return std::make_shared<Add>(make(depth - 1), make(depth - 1));
        case 7: return std::make_shared<Mul>(make(depth - 1), make(depth - 1));
        case 8: return std::make_shared<Div>(make(depth - 1), make(depth - 1));
        case 9: return std::make_shared<Pow>(make(depth - 1), make(depth - 1));
        case 10: return std::make_shared<Sqrt>(make(depth - 1));
        case 11: return std::make_shared<Cbrt>(make(depth - 1));
        case 12: return std::make_shared<Sin>(make(depth - 1));
        case 13: return std::make_shared<Cos>(make(depth - 1));
        case 14: return std::make_shared<Tan>(make(depth - 1));
        default: return std::make_shared<Log>(make(depth - 1));
        }
    }

private:
    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    int integer() {
        static constexpr int kSpecial[] = {0, 1, -1, 2, -2, 10, -2147483647 - 1, 2147483647};
        return below(2) ? kSpecial[below(8)] : std::uniform_int_distribution<int>()(rng_);
    }
    int nonzero() {
        const int v = integer();
        return v == 0 || v == -1 || v == -2147483647 - 1 ? 3 : v;
    }
    std::mt19937 rng_;
};

int count_products(const Expr& e) {
    int n = kind_of(e) == ExprKind::Mul ? 1 : 0;
    const auto visit = [&](const ExprPtr& c) { n += count_products(*c); };
    switch (kind_of(e)) {
    case ExprKind::Neg: visit(as<Neg>(e).operand); break;
    case ExprKind::Sqrt: visit(as<Sqrt>(e).operand); break;
    case ExprKind::Cbrt: visit(as<Cbrt>(e).operand); break;
    case ExprKind::Sin: visit(as<Sin>(e).operand); break;
    case ExprKind::Cos: visit(as<Cos>(e).operand); break;
    case ExprKind::Tan: visit(as<Tan>(e).operand); break;
    case ExprKind::Log: visit(as<Log>(e).operand); break;
    case ExprKind::Add: visit(as<Add>(e).left), visit(as<Add>(e).right); break;
    case ExprKind::Mul: visit(as<Mul>(e).left), visit(as<Mul>(e).right); break;
    case ExprKind::Div: visit(as<Div>(e).num), visit(as<Div>(e).den); break;
    case ExprKind::Pow: visit(as<Pow>(e).base), visit(as<Pow>(e).exp); break;
    default: break;
    }
    return n;
}

TEST(LatexSize, BoundTracksTheText) {
    TreeMaker maker(20261208);
    for (int round = 0; round < 3000; ++round) {
        const ExprPtr e = maker.make(1 + round % 7);
        const std::string text = e->to_string();
        const std::uint64_t bound = latex_size_bound(*e);
        ASSERT_GE(bound, text.size()) << text;
        // Only what stands between side-by-side factors (at most "\left(" and "\right)") is
        // estimated.
        ASSERT_LE(bound, text.size() + 13 * std::uint64_t(count_products(*e))) << text;
    }
}

// Shapes that use a subtree twice; given two distinct operands they build an ordinary tree.
using Twice = std::function<ExprPtr(const ExprPtr&, const ExprPtr&)>;
const std::pair<const char*, Twice> kShapes[] = {
    {"Add", [](const ExprPtr& a, const ExprPtr& b) { return std::make_shared<Add>(a, b); }},
    {"Mul", [](const ExprPtr& a, const ExprPtr& b) { return std::make_shared<Mul>(a, b); }},
    {"Div", [](const ExprPtr& a, const ExprPtr& b) { return std::make_shared<Div>(a, b); }},
    {"Pow", [](const ExprPtr& a, const ExprPtr& b) { return std::make_shared<Pow>(a, b); }},
    {"Add-Neg",
     [](const ExprPtr& a, const ExprPtr& b) {
         return std::make_shared<Add>(a, std::make_shared<Neg>(b));
     }},
    {"Sin-Mul",
     [](const ExprPtr& a, const ExprPtr& b) {
         return std::make_shared<Sin>(std::make_shared<Mul>(a, b));
     }},
};

ExprPtr shared_tree(const Twice& twice, ExprPtr e, int levels) {
    for (int k = 0; k < levels; ++k) {
        e = twice(e, e);
    }
    return e;
}

ExprPtr distinct_tree(const Twice& twice, const std::function<ExprPtr()>& leaf, int levels) {
    if (levels == 0) {
        return leaf();
    }
    return twice(distinct_tree(twice, leaf, levels - 1), distinct_tree(twice, leaf, levels - 1));
}

TEST(LatexSize, SharedSubtreesRenderLikeCopies) {
    const std::function<ExprPtr()> leaves[] = {
        [] { return std::make_shared<Add>(i(12), x()); },
        [] { return std::make_shared<Mul>(i(3), std::make_shared<Pi>()); },
        [] { return std::make_shared<Var>(std::string(100, 'v')); },
        [] { return i(-7); },
    };
    for (const auto& [name, twice] : kShapes) {
        for (const auto& leaf : leaves) {
            const ExprPtr shared = shared_tree(twice, leaf(), 8);
            const std::string text = shared->to_string();
            EXPECT_EQ(text, distinct_tree(twice, leaf, 8)->to_string()) << name;
            EXPECT_LE(text.size(), latex_size_bound(*shared)) << name;
        }
    }
}

// Past the size where the renderer measures the whole text first, it still writes it exactly.
TEST(LatexSize, LongSharedTextIsWrittenWhole) {
    ExprPtr e = std::make_shared<Var>("abcdefgh");
    std::string want = "abcdefgh";
    for (int k = 0; k < 22; ++k) {
        e = std::make_shared<Add>(e, e);
        want = want + " + " + want;
    }
    ASSERT_GT(want.size(), std::size_t{32} << 20);
    EXPECT_TRUE(e->to_string() == want);
}

TEST(LatexSize, TextBeyondMemoryIsRefused) {
    for (const auto& [name, twice] : kShapes) {
        const ExprPtr huge = shared_tree(twice, x(), 60);
        EXPECT_THROW((void)huge->to_string(), std::bad_alloc) << name;
        EXPECT_GT(latex_size_bound(*huge), latex_text_limit()) << name;
    }
}

}  // namespace
}  // namespace tavrelo
