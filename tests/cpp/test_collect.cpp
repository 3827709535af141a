// Like-term collection through the reference operations.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "core/checked_int.hpp"
#include "reference/reference.hpp"
#include "tree_builders.hpp"

namespace tavrelo {
namespace {

using namespace build;

struct CollectRow {
    ExprPtr input;
    ExprPtr result;
    std::string text;
};

TEST(Collect, WorkedExamples) {
    const ExprPtr x = v("x");
    const ExprPtr y = v("y");
    const CollectRow rows[] = {
        {add(x, x), mul(i(2), x), "2x"},
        {mul(x, i(2)), mul(i(2), x), "2x"},
        {add(x, neg(x)), i(0), "0"},
        {add(i(2), i(3)), i(5), "5"},
        {add(add(i(1), x), pow(x, i(2))), add(add(pow(x, i(2)), x), i(1)), "x^{2} + x + 1"},
        {add(x, y), add(y, x), "y + x"},
        {add(mul(x, y), mul(y, x)), mul(i(2), mul(y, x)), "2yx"},
        {add(mul(i(2), x), mul(i(-3), x)), neg(x), "-x"},
        {add(i(1), mul(i(-2), x)), add(mul(i(-2), x), i(1)), "-2x + 1"},
        {add(pow(x, i(2)), mul(i(-1), x)), add(pow(x, i(2)), neg(x)), "x^{2} - x"},
        {add(add(x, i(3)), add(i(-3), neg(x))), i(0), "0"},
        {add(sqrt(x), x), add(x, sqrt(x)), "x + \\sqrt{x}"},
        {add(add(pow(x, i(10)), pow(x, i(2))), x), add(add(pow(x, i(2)), pow(x, i(10))), x),
         "x^{2} + x^{10} + x"},
        {add(add(pow(x, i(2)), pow(x, i(9))), pow(x, i(10))),
         add(add(pow(x, i(9)), pow(x, i(2))), pow(x, i(10))), "x^{9} + x^{2} + x^{10}"},
        {neg(add(x, i(1))), neg(add(x, i(1))), "-\\left(x + 1\\right)"},
        {i(0), i(0), "0"},
        {add(add(x, y), neg(x)), y, "y"},
        {add(add(i(2), x), i(5)), add(x, i(7)), "x + 7"},
        {add(mul(x, pow(x, i(-1))), i(2)), i(3), "3"},
        {add(i(1), q(-1, 2)), add(q(-1, 2), i(1)), "-\\frac{1}{2} + 1"},
        {mul(x, x), pow(x, i(2)), "x^{2}"},
        // Sums are exact; only the collected coefficient has to fit.
        {add(add(i(2147483647), i(1)), i(-2)), i(2147483646), "2147483646"},
    };
    for (const CollectRow& row : rows) {
        SCOPED_TRACE(row.input->to_string());
        const ExprPtr result = reference::collect_terms(row.input);
        EXPECT_TRUE(structurally_equal(*result, *row.result)) << result->to_string();
        EXPECT_EQ(result->to_string(), row.text);
    }
}

TEST(Collect, SameTextMergesKeepingTheFirstFactorList) {
    const ExprPtr named_e = v("e");
    const ExprPtr result = reference::collect_terms(add(named_e, e()));
    ASSERT_EQ(result->to_string(), "2e");
    EXPECT_EQ(as<Mul>(*result).right, named_e);
    const ExprPtr reversed = reference::collect_terms(add(e(), named_e));
    EXPECT_EQ(kind_of(*as<Mul>(*reversed).right), ExprKind::E);
}

TEST(Collect, CollectedCoefficientOutOfRangeIsAnError) {
    try {
        (void)reference::collect_terms(add(i(2147483647), i(1)));
        ADD_FAILURE() << "no error";
    } catch (const std::invalid_argument& err) {
        EXPECT_STREQ(err.what(), kOverflowMessage);
    }
}

TEST(Collect, KeyOrder) {
    EXPECT_TRUE(reference::key_before("y", "x"));
    EXPECT_TRUE(reference::key_before("x", "1"));
    EXPECT_TRUE(reference::key_before("-\\frac{1}{2}", "1"));
    EXPECT_FALSE(reference::key_before("1", "-"));
    EXPECT_TRUE(reference::key_before("\xCE\xB1", "z"));
    EXPECT_TRUE(reference::key_before("x^{2}", "x"));
}

}  // namespace
}  // namespace tavrelo
