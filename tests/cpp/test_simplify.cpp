// Integer helpers of the simplifier and properties that Python cannot observe directly.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>

#include "core/expr.hpp"
#include "simplify/integers.hpp"
#include "simplify/rules.hpp"
#include "simplify/simplify.hpp"

namespace tavrelo {
namespace {

constexpr int kMin = std::numeric_limits<int>::min();
constexpr int kMax = std::numeric_limits<int>::max();

ExprPtr i(int v) { return std::make_shared<Int>(v); }
ExprPtr x() { return std::make_shared<Var>("x"); }

bool overflows(auto&& f) {
    try {
        f();
    } catch (const std::invalid_argument& e) {
        return std::string(e.what()) == "整数オーバーフローエラー";
    }
    return false;
}

TEST(IntPow, ExactResults) {
    struct Row {
        int base, exp, want;
    };
    const Row rows[] = {
        {2, 10, 1024},
        {3, 0, 1},
        {0, 0, 1},
        {0, 5, 0},
        {-2, 3, -8},
        {7, -1, 0},
        {5, kMin, 0},
        {-1, kMax, -1},
        {-1, kMax - 1, 1},
        {1, kMax, 1},
        {2, 30, 1 << 30},
        {-2, 31, kMin},
        {46340, 2, 2147395600},
        {-46340, 2, 2147395600},
        {1290, 3, 2146689000},
        {kMin, 1, kMin},
        {kMax, 1, kMax},
        {-3, 19, -1162261467},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::to_string(r.base) + "^" + std::to_string(r.exp));
        EXPECT_EQ(int_pow(r.base, r.exp), r.want);
    }
}

TEST(IntPow, OverflowIsReportedNotWrapped) {
    struct Row {
        int base, exp;
    };
    const Row rows[] = {{2, 31},   {2, 32},   {2, 64}, {-2, 32},   {46341, 2}, {1291, 3},
                        {kMin, 2}, {kMax, 2}, {3, 20}, {10, kMax}, {-3, 21},   {65536, 2}};
    for (const auto& r : rows) {
        SCOPED_TRACE(std::to_string(r.base) + "^" + std::to_string(r.exp));
        EXPECT_TRUE(overflows([&] { (void)int_pow(r.base, r.exp); }));
    }
}

TEST(IntPow, WideExponentOfUnitBases) {
    const std::int64_t huge = -std::int64_t{kMin};  // 2^31, the negation of the most negative
    EXPECT_EQ(detail::exact_pow(-1, huge), 1);
    EXPECT_EQ(detail::exact_pow(-1, huge + 1), -1);
    EXPECT_EQ(detail::exact_pow(1, huge), 1);
    EXPECT_EQ(detail::exact_pow(0, huge), 0);
    EXPECT_TRUE(overflows([&] { (void)detail::exact_pow(2, huge); }));
}

// Reference: the plain trial-division loop over f*f <= c.
detail::SquareSplit reference_split(int v) {
    std::int64_t a = 1, c = v;
    for (std::int64_t f = 2; f * f <= c; ++f) {
        while (c % (f * f) == 0) {
            a *= f;
            c /= f * f;
        }
    }
    return {static_cast<int>(a), static_cast<int>(c)};
}

TEST(SquareFactor, MatchesTheReferenceLoop) {
    const int samples[] = {1,
                           2,
                           4,
                           8,
                           12,
                           72,
                           1000000,
                           2147483647,
                           2147395600,
                           2147483646,
                           2147395601,
                           1073741824,
                           999999937,
                           46337 * 46337,
                           2 * 3 * 5 * 7 * 11 * 13 * 17 * 19 * 23,
                           1 << 30,
                           (1 << 30) + (1 << 29)};
    for (const int v : samples) {
        SCOPED_TRACE(v);
        const auto got = detail::split_square_factor(v);
        const auto want = reference_split(v);
        EXPECT_EQ(got.outside, want.outside);
        EXPECT_EQ(got.inside, want.inside);
    }
    for (int v = 1; v <= 20000; ++v) {
        const auto got = detail::split_square_factor(v);
        const auto want = reference_split(v);
        ASSERT_EQ(got.outside, want.outside) << v;
        ASSERT_EQ(got.inside, want.inside) << v;
    }
}

TEST(CubeRoot, ExactOnCubesOnly) {
    for (int r = -1290; r <= 1290; ++r) {
        const int cube = r * r * r;
        ASSERT_EQ(detail::exact_cube_root(cube), r) << cube;
        if (cube != 0 && std::abs(r) > 1) {
            ASSERT_FALSE(detail::exact_cube_root(cube + 1).has_value()) << cube + 1;
            ASSERT_FALSE(detail::exact_cube_root(cube - 1).has_value()) << cube - 1;
        }
    }
    EXPECT_FALSE(detail::exact_cube_root(kMin).has_value());
    EXPECT_FALSE(detail::exact_cube_root(kMax).has_value());
}

// Rationalising a square-root denominator applies the product and quotient rules to parts that
// are already simplified; it must agree with simplifying the rebuilt product and quotient.
TEST(Rationalise, SameAsSimplifyingTheRebuiltTrees) {
    const ExprPtr numerators[] = {
        i(1),
        i(6),
        i(-4),
        x(),
        std::make_shared<Add>(x(), i(1)),
        std::make_shared<Sqrt>(i(12)),
        std::make_shared<Mul>(i(1), x()),
        std::make_shared<Div>(i(1), std::make_shared<Sqrt>(i(3))),
    };
    const int roots[] = {2, 3, 8, 12, 50};
    for (const auto& n0 : numerators) {
        for (const int k0 : roots) {
            const ExprPtr n = simplify(n0);
            const ExprPtr d = simplify(std::make_shared<Sqrt>(i(k0)));
            if (d->kind() != static_cast<int>(ExprKind::Sqrt)) {
                continue;  // 8, 12, 50 pull a factor out: no bare root left to rationalise
            }
            const int k = as<Int>(*as<Sqrt>(*d).operand).value;
            const ExprPtr product = simplify(std::make_shared<Mul>(n, d));
            const ExprPtr rebuilt = simplify(std::make_shared<Div>(product, i(k)));
            const ExprPtr direct = detail::div_rules(n, d);
            SCOPED_TRACE(n->to_string() + " / " + d->to_string());
            EXPECT_TRUE(structurally_equal(*direct, *rebuilt))
                << direct->to_string() << " vs " << rebuilt->to_string();
            EXPECT_EQ(direct->to_string(), rebuilt->to_string());
        }
    }
}

}  // namespace
}  // namespace tavrelo
