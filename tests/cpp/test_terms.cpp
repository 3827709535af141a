// Terms and like-term keys through the reference operations.
#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/checked_int.hpp"
#include "expand/bases.hpp"
#include "expand/keys.hpp"
#include "expand/term.hpp"
#include "reference/reference.hpp"
#include "tree_builders.hpp"

namespace tavrelo {
namespace {

using namespace build;

std::string describe(const Term& t) {
    std::string s = std::to_string(t.coefficient) + ";";
    for (const Factor& f : t.factors) {
        s += " " + f.base->to_string() + "^" + std::to_string(f.exponent);
    }
    return s;
}

struct TermRow {
    ExprPtr summand;
    std::string term;
    std::string key;
    ExprPtr built;
};

TEST(Terms, WorkedExamples) {
    const ExprPtr x = v("x");
    const ExprPtr y = v("y");
    const TermRow rows[] = {
        {i(7), "7;", "1", i(7)},
        {x, "1; x^1", "x", x},
        {neg(x), "-1; x^1", "x", neg(x)},
        {mul(i(2), mul(x, i(3))), "6; x^1", "x", mul(i(6), x)},
        {mul(x, x), "1; x^2", "x^{2}", pow(x, i(2))},
        {mul(x, y), "1; x^1 y^1", "yx", mul(y, x)},
        {mul(x, pow(x, i(-1))), "1; x^0", "1", i(1)},
        {pow(mul(x, y), i(2)), "1; xy^2", "\\left(xy\\right)^{2}", pow(mul(x, y), i(2))},
        {mul(i(2), q(1, 3)), "2; \\frac{1}{3}^1", "\\frac{1}{3}", mul(i(2), q(1, 3))},
        {mul(q(1, 2), x), "1; \\frac{1}{2}^1 x^1", "x\\frac{1}{2}", mul(x, q(1, 2))},
        {neg(add(x, i(1))), "-1; x + 1^1", "x + 1", neg(add(x, i(1)))},
        {mul(i(0), x), "0; x^1", "x", i(0)},
        {mul(i(3), mul(x, pow(x, i(-1)))), "3; x^0", "1", i(3)},
        {pow(x, v("n")), "1; x^{n}^1", "x^{n}", pow(x, v("n"))},
        {mul(pow(x, q(1, 2)), x), "1; x^{\\frac{1}{2}}^1 x^1", "x^{\\frac{1}{2}}x",
         mul(pow(x, q(1, 2)), x)},
        // Names beyond ASCII sort first; a backslash sorts before lower-case letters.
        {mul(mul(x, v("\xCE\xB1")), sqrt(x)), "1; x^1 \xCE\xB1^1 \\sqrt{x}^1", "\xCE\xB1x\\sqrt{x}",
         mul(mul(v("\xCE\xB1"), x), sqrt(x))},
    };
    for (const TermRow& row : rows) {
        SCOPED_TRACE(row.summand->to_string());
        const Term t = decompose_term(row.summand);
        EXPECT_EQ(describe(t), row.term);
        EXPECT_EQ(reference::term_key(t), row.key);
        const ExprPtr built = reference::build_term(t);
        EXPECT_TRUE(structurally_equal(*built, *row.built)) << built->to_string();
    }
}

TEST(Terms, SameTextKeepsListOrderAndHandles) {
    const ExprPtr named_e = v("e");
    const ExprPtr constant_e = e();
    const ExprPtr built = reference::build_term(decompose_term(mul(named_e, constant_e)));
    ASSERT_EQ(kind_of(*built), ExprKind::Mul);
    EXPECT_EQ(as<Mul>(*built).left, named_e);
    EXPECT_EQ(as<Mul>(*built).right, constant_e);
    EXPECT_EQ(built->to_string(), "ee");
}

TEST(Terms, OverflowIsAnErrorNotAWrap) {
    const std::vector<ExprPtr> failing = {
        mul(i(65536), i(65536)),
        neg(i(-2147483647 - 1)),
        mul(pow(v("x"), i(2147483647)), v("x")),
        mul(pow(v("x"), i(-2147483647 - 1)), pow(v("x"), i(-1))),
        neg(neg(i(-2147483647 - 1))),  // each step is checked, not only the result
    };
    for (const ExprPtr& summand : failing) {
        SCOPED_TRACE(summand->to_string());
        try {
            (void)decompose_term(summand);
            ADD_FAILURE() << "no error";
        } catch (const std::invalid_argument& err) {
            EXPECT_STREQ(err.what(), kOverflowMessage);
        }
    }
    EXPECT_EQ(decompose_term(mul(i(-65536), i(32768))).coefficient, -2147483647 - 1);
}

// Runs `work` on a thread whose stack is 64 KiB.
void on_small_stack(const std::function<void()>& work) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, std::size_t{64} << 10);
    pthread_t thread;
    auto call = [](void* w) -> void* {
        (*static_cast<const std::function<void()>*>(w))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attr, call, const_cast<std::function<void()>*>(&work)), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
}

TEST(Terms, DeepProductsAndNegationsNeedNoStack) {
    ExprPtr chain = v("x");
    for (int k = 0; k < 300000; ++k) {
        chain = k % 3 == 0 ? neg(chain) : mul(chain, i(-1));
    }
    Term t{0, {}};
    on_small_stack([&] { t = decompose_term(chain); });
    EXPECT_EQ(t.coefficient, 1);  // 300000 sign changes
    ASSERT_EQ(t.factors.size(), 1u);
    EXPECT_EQ(t.factors.front().exponent, 1);
}

// Keys composed from cached base texts agree with the text of the rebuilt term, separators and
// parentheses included, for bases that end or begin with digits, control words, letters beyond
// ASCII, a minus sign or nothing at all.
TEST(Terms, ComposedKeysMatchRenderedKeys) {
    const std::vector<ExprPtr> pool = {
        v("x"),
        v("y"),
        v(""),
        v("2"),
        v("a2"),
        v("\\alpha"),
        v("\xCE\xB1"),
        v("x^{2}"),
        v("-y"),
        e(),
        pi(),
        i(3),
        i(-2),
        q(1, 2),
        q(-3, 4),
        neg(v("x")),
        add(v("x"), i(1)),
        mul(v(""), v("y")),
        mul(i(2), v("z")),
        pow(v("x"), v("n")),
        pow(pi(), q(1, 2)),
        sqrt(i(2)),
        sin(v("x")),
    };
    std::mt19937 rng(11);
    const auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
    fast::Bases bases;
    fast::Keys keys(bases);
    for (int round = 0; round < 4000; ++round) {
        Term term{1, {}};
        fast::Powers powers;
        const int length = pick(5);
        for (int k = 0; k < length; ++k) {
            const ExprPtr& base = pool[pick(static_cast<int>(pool.size()))];
            const int exp = pick(3) == 0 ? pick(25) - 12 : 1;
            const std::uint32_t h = bases.handle_of(base);
            if (std::any_of(powers.begin(), powers.end(),
                            [&](const fast::Power& p) { return p.id == bases.id(h); })) {
                continue;  // a term's bases are distinct
            }
            term.factors.push_back(Factor{base, exp});
            powers.push_back(fast::Power{h, bases.id(h), exp});
        }
        SCOPED_TRACE(describe(term));
        EXPECT_EQ(keys.text(keys.key_of(powers)).str(), reference::term_key(term));
    }
}

}  // namespace
}  // namespace tavrelo
