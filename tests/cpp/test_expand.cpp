// Expansion: worked examples, overflow, and the fast engine against the reference operations.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "core/checked_int.hpp"
#include "expand/distribute.hpp"
#include "expand/expand.hpp"
#include "tree_builders.hpp"

namespace tavrelo {
namespace {

using namespace build;

struct ExpandRow {
    ExprPtr input;
    ExprPtr result;
    std::string text;
};

TEST(Expand, WorkedExamples) {
    const ExprPtr x = v("x");
    const ExprPtr y = v("y");
    const ExprPtr n = v("n");
    const ExprPtr square = add(add(pow(x, i(2)), mul(i(2), x)), i(1));
    const ExpandRow rows[] = {
        {mul(add(x, i(1)), add(x, i(1))), square, "x^{2} + 2x + 1"},
        {pow(add(x, i(1)), i(2)), square, "x^{2} + 2x + 1"},
        {pow(add(x, i(1)), i(3)),
         add(add(add(pow(x, i(3)), mul(i(3), pow(x, i(2)))), mul(i(3), x)), i(1)),
         "x^{3} + 3x^{2} + 3x + 1"},
        {pow(add(x, i(-1)), i(2)), add(add(pow(x, i(2)), mul(i(-2), x)), i(1)), "x^{2} + -2x + 1"},
        {pow(add(x, y), i(2)), add(add(mul(i(2), mul(y, x)), pow(y, i(2))), pow(x, i(2))),
         "2yx + y^{2} + x^{2}"},
        {mul(x, add(y, i(2))), add(mul(y, x), mul(i(2), x)), "yx + 2x"},
        {mul(x, add(x, i(-1))), add(pow(x, i(2)), neg(x)), "x^{2} - x"},
        {mul(add(x, i(1)), add(x, neg(i(1)))), add(pow(x, i(2)), i(-1)), "x^{2} - 1"},
        {add(x, neg(x)), i(0), "0"},
        {add(x, y), add(y, x), "y + x"},
        {mul(x, i(2)), mul(i(2), x), "2x"},
        {neg(add(x, i(1))), neg(add(x, i(1))), "-\\left(x + 1\\right)"},
        {sin(mul(x, add(x, i(1)))), sin(add(pow(x, i(2)), x)), "\\sin\\left(x^{2} + x\\right)"},
        {div(mul(x, add(x, i(1))), y), div(mul(x, add(x, i(1))), y),
         "\\frac{x\\left(x + 1\\right)}{y}"},
        {pow(add(x, i(1)), i(-1)), pow(add(x, i(1)), i(-1)), "\\left(x + 1\\right)^{-1}"},
        {pow(mul(x, x), n), pow(pow(x, i(2)), n), "\\left(x^{2}\\right)^{n}"},
        {pow(x, i(0)), i(1), "1"},
        {mul(y, x), mul(y, x), "yx"},
        {mul(x, y), mul(y, x), "yx"},
        {mul(neg(add(x, i(1))), y), neg(mul(y, add(x, i(1)))), "-y\\left(x + 1\\right)"},
        {mul(q(1, 2), add(x, x)), mul(i(2), mul(x, q(1, 2))), "2x\\frac{1}{2}"},
    };
    for (const ExpandRow& row : rows) {
        SCOPED_TRACE(row.input->to_string());
        const ExprPtr result = expand(row.input);
        EXPECT_TRUE(structurally_equal(*result, *row.result)) << result->to_string();
        EXPECT_EQ(result->to_string(), row.text);
    }
}

TEST(Expand, EmptyHandleStaysEmpty) { EXPECT_EQ(expand(nullptr), nullptr); }

TEST(Expand, CoefficientsAreExactOrAnError) {
    const ExprPtr x = v("x");
    const ExprPtr power33 = expand(pow(add(x, i(1)), i(33)));
    EXPECT_NE(power33->to_string().find("1166803110x^{17}"), std::string::npos);
    EXPECT_NE(power33->to_string().find("1166803110x^{16}"), std::string::npos);
    try {
        (void)expand(pow(add(x, i(1)), i(34)));
        ADD_FAILURE() << "no error";
    } catch (const std::invalid_argument& err) {
        EXPECT_STREQ(err.what(), kOverflowMessage);
    }
}

}  // namespace
}  // namespace tavrelo
