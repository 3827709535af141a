// The C++ interface of evaluation and substitution: strided and broadcast arguments, block
// boundaries, and what a C++ caller sees that Python hides.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "evaluate/evaluate.hpp"
#include "subs/subs.hpp"
#include "tree_builders.hpp"

namespace tavrelo {
namespace {

using namespace build;

// Bitwise, so that NaN equals NaN.
bool same(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(Evaluate, ArraysMatchPointsAcrossBlocksAndLayouts) {
    // Every operation with a domain rule, on a grid wider than one block of the array runner.
    const ExprPtr f =
        add(div(sin(mul(v("x"), v("y"))), add(v("x"), i(-3))), pow(sqrt(v("y")), q(3, 2)));
    const NumericProgram program(f, {"x", "y"});
    constexpr std::size_t rows = 7;
    constexpr std::size_t cols = 301;
    std::vector<double> xs(rows);
    std::vector<double> ys(2 * cols);  // read backwards, every other element
    for (std::size_t r = 0; r < rows; ++r) {
        xs[r] = static_cast<double>(r);  // x = 3 divides by zero
    }
    for (std::size_t c = 0; c < ys.size(); ++c) {
        ys[c] = (static_cast<double>(c) - 100.0) / 37.0;  // y < 0 has no square root
    }
    const std::vector<ArrayArg> args{
        {xs.data(), {rows, 1}, {1, 0}},
        {ys.data() + ys.size() - 1, {cols}, {-2}},
    };
    ASSERT_EQ(program.broadcast_shape(args), (std::vector<std::size_t>{rows, cols}));
    std::vector<double> out(rows * cols);
    program.run(args, out.data());
    for (std::size_t r = 0; r < rows; ++r) {
        for (std::size_t c = 0; c < cols; ++c) {
            const double point[2] = {xs[r], ys[ys.size() - 1 - 2 * c]};
            double want = std::nan("");
            try {
                want = program(point);
            } catch (const std::invalid_argument&) {
            }
            ASSERT_TRUE(same(out[r * cols + c], want)) << r << ", " << c;
        }
    }
}

TEST(Evaluate, RefusesWhatCannotRun) {
    EXPECT_THROW(NumericProgram(add(v("x"), v("y")), {"x"}), std::invalid_argument);
    EXPECT_THROW(NumericProgram(v("x"), {"x", "x"}), std::invalid_argument);
    const NumericProgram program(add(v("x"), v("y")), {"x", "y"});
    const double a[3] = {0, 0, 0};
    const std::vector<ArrayArg> args{{a, {3}, {1}}, {a, {2}, {1}}};
    EXPECT_THROW((void)program.broadcast_shape(args), std::invalid_argument);
}

TEST(Subs, SharesWhatItDoesNotChange) {
    const ExprPtr kept = sin(v("y"));
    const ExprPtr f = mul(add(v("x"), kept), kept);
    const ExprPtr g = subs(f, {{"x", i(2)}});
    EXPECT_EQ(g->to_string(), R"(\left(2 + \sin\left(y\right)\right)\sin\left(y\right))");
    EXPECT_EQ(as<Mul>(*g).right, kept);
    EXPECT_EQ(subs(f, {{"z", i(2)}}), f);
}

}  // namespace
}  // namespace tavrelo
