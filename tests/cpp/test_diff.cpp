// The C++ interface of diff: orders, the step hook an interrupt check uses, and its errors.
#include <gtest/gtest.h>

#include <stdexcept>

#include "diff/diff.hpp"
#include "tree_builders.hpp"

namespace tavrelo {
namespace {

using namespace build;

TEST(Diff, OrdersAndTheStepHook) {
    const ExprPtr cube = pow(v("x"), i(3));
    int steps = 0;
    const auto count = [&steps] { ++steps; };
    EXPECT_EQ(diff(cube, "x", 2, count)->to_string(), "6x");
    EXPECT_EQ(steps, 2);
    steps = 0;
    EXPECT_EQ(diff(cube, "x", 1000, count)->to_string(), "0");
    EXPECT_EQ(steps, 4);  // the zero derivative ends the loop
    EXPECT_EQ(diff(nullptr, "x"), nullptr);
}

TEST(Diff, AHookThatThrowsStopsTheCall) {
    const auto stop = [] { throw std::runtime_error("interrupted"); };
    EXPECT_THROW((void)diff(sin(v("x")), "x", 5, stop), std::runtime_error);
    EXPECT_THROW((void)diff(v("x"), "x", -1), std::invalid_argument);
}

}  // namespace
}  // namespace tavrelo
