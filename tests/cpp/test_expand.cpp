// Expansion: worked examples, overflow, and the fast engine against the reference operations.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/checked_int.hpp"
#include "expand/engine.hpp"
#include "expand/expand.hpp"
#include "reference/reference.hpp"
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

// Which of several equal leaves a result keeps: the first summand of each key provides the
// factors, as a fresh collection would, in whichever operand the engine works in place.
TEST(Expand, FirstSummandOfAKeyProvidesTheFactors) {
    const ExprPtr x1 = v("x");
    const ExprPtr x2 = v("x");
    const ExprPtr x3 = v("x");
    const ExprPtr y = v("y");
    const ExprPtr named_e = v("e");
    const ExprPtr constant_e = e();
    struct Row {
        ExprPtr input;
        std::string text;
        std::function<const ExprPtr&(const ExprPtr&)> leaf;
        ExprPtr expected;
    };
    const auto right_of_right = [](const ExprPtr& r) -> const ExprPtr& {
        return as<Mul>(*as<Add>(*r).right).right;
    };
    const auto right_of_mul = [](const ExprPtr& r) -> const ExprPtr& { return as<Mul>(*r).right; };
    const auto right_of_sum = [](const ExprPtr& r) -> const ExprPtr& { return as<Add>(*r).right; };
    const auto base_of_right = [](const ExprPtr& r) -> const ExprPtr& {
        return as<Pow>(*as<Mul>(*r).right).base;
    };
    const Row rows[] = {
        {add(x1, add(x2, y)), "y + 2x", right_of_right, x1},
        {add(add(x1, y), x2), "y + 2x", right_of_right, x1},
        {add(add(add(x1, y), neg(x2)), x3), "y + x", right_of_sum, x3},
        {mul(mul(x1, y), x2), "yx^{2}", base_of_right, x1},
        {mul(mul(mul(x1, y), pow(x2, i(-1))), x3), "yx", right_of_mul, x3},
        {add(constant_e, add(named_e, y)), "y + 2e", right_of_right, constant_e},
        {add(add(named_e, y), constant_e), "y + 2e", right_of_right, named_e},
        {pow(add(x1, i(1)), i(2)), "x^{2} + 2x + 1",
         [](const ExprPtr& r) -> const ExprPtr& {
             return as<Pow>(*as<Add>(*as<Add>(*r).left).left).base;
         },
         x1},
        {mul(pow(x1, i(30)), mul(x2, y)), "yx^{31}", base_of_right, x1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.input->to_string());
        for (const ExprPtr& result : {expand(row.input), reference::expand_simplified(row.input)}) {
            ASSERT_EQ(result->to_string(), row.text);
            EXPECT_EQ(row.leaf(result), row.expected);
        }
    }
}

// Random trees over the corners where keys and decomposition are delicate: names that print
// like other nodes, numbers as factors, powers of products and sums, shared subtrees.
class TreeMaker {
public:
    // `big` mixes in numbers near the ends of the 32-bit range, for the overflow checks.
    TreeMaker(unsigned seed, bool big) : rng_(seed), big_(big) {}

    ExprPtr make(int depth) {
        if (!made_.empty() && pick(8) == 0) {
            return made_[pick(static_cast<int>(made_.size()))];  // share a subtree
        }
        ExprPtr e = depth <= 0 ? leaf() : inner(depth);
        made_.push_back(e);
        return e;
    }

private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

    ExprPtr leaf() {
        static const char* const names[] = {"x",        "y", "e", "z", "\\alpha",
                                            "\xCE\xB1", "2", "",  "X", "-z"};
        switch (pick(7)) {
        case 0: return i(big_ && pick(3) == 0 ? kBig[pick(4)] : pick(7) - 3);
        case 1: return q(pick(5) - 2, pick(3) + 2);
        case 2: return e();
        case 3: return pi();
        default: return v(names[pick(10)]);
        }
    }

    ExprPtr inner(int depth) {
        switch (pick(9)) {
        case 0: return neg(make(depth - 1));
        case 1:
        case 2: return add(make(depth - 1), make(depth - 1));
        case 3:
        case 4: return mul(make(depth - 1), make(depth - 1));
        case 5: return pow(make(depth - 1), i(big_ && pick(3) == 0 ? kBig[pick(4)] : pick(6) - 2));
        case 6: return pow(make(depth - 1), pick(2) == 0 ? v("n") : q(1, 2));
        case 7: return sqrt(make(depth - 1));
        default: return div(make(depth - 1), make(depth - 1));
        }
    }

    static constexpr int kBig[] = {65536, -46341, 2147483647, -2147483647 - 1};
    std::mt19937 rng_;
    bool big_;
    std::vector<ExprPtr> made_;
};

std::vector<const ExprPtr*> children(const Expr& e) {
    switch (kind_of(e)) {
    case ExprKind::Neg: return {&as<Neg>(e).operand};
    case ExprKind::Sqrt: return {&as<Sqrt>(e).operand};
    case ExprKind::Add: return {&as<Add>(e).left, &as<Add>(e).right};
    case ExprKind::Mul: return {&as<Mul>(e).left, &as<Mul>(e).right};
    case ExprKind::Div: return {&as<Div>(e).num, &as<Div>(e).den};
    case ExprKind::Pow: return {&as<Pow>(e).base, &as<Pow>(e).exp};
    default: return {};
    }
}

void collect_nodes(const ExprPtr& root, std::unordered_set<const Expr*>& out) {
    std::vector<const Expr*> pending{root.get()};
    while (!pending.empty()) {
        const Expr* e = pending.back();
        pending.pop_back();
        if (out.insert(e).second) {
            for (const ExprPtr* c : children(*e)) {
                pending.push_back(c->get());
            }
        }
    }
}

// Same shape, and every node taken from the input is the very same node on both sides.
void expect_same_nodes(const ExprPtr& expected, const ExprPtr& actual,
                       const std::unordered_set<const Expr*>& input) {
    std::vector<std::pair<const Expr*, const Expr*>> pending{{expected.get(), actual.get()}};
    while (!pending.empty()) {
        const auto [a, b] = pending.back();
        pending.pop_back();
        ASSERT_EQ(input.count(a), input.count(b)) << a->to_string();
        if (input.count(a) != 0) {
            ASSERT_EQ(a, b) << a->to_string();
            continue;
        }
        ASSERT_EQ(a->kind(), b->kind());
        const auto ca = children(*a);
        const auto cb = children(*b);
        if (ca.empty()) {
            EXPECT_TRUE(structurally_equal(*a, *b));
        }
        for (std::size_t k = 0; k < ca.size(); ++k) {
            pending.emplace_back(ca[k]->get(), cb[k]->get());
        }
    }
}

std::string outcome(const std::function<ExprPtr()>& run, ExprPtr& result) {
    try {
        result = run();
        return "ok";
    } catch (const std::invalid_argument& err) {
        return err.what();
    }
}

// The engine on any tree (simplified or not) against the reference operations.
TEST(Expand, EngineMatchesTheReference) {
    int compared = 0;
    int failed = 0;
    for (unsigned seed = 1; seed <= 4000; ++seed) {
        TreeMaker maker(seed, seed > 3000);
        const ExprPtr input = maker.make(static_cast<int>(seed % 5) + 1);
        ExprPtr expected;
        ExprPtr actual;
        const std::string want =
            outcome([&] { return reference::expand_simplified(input); }, expected);
        const std::string got = outcome([&] { return fast::Engine{}.expand(input); }, actual);
        ASSERT_EQ(got, want) << "seed " << seed << ": " << input->to_string();
        if (want != "ok") {
            ++failed;
            continue;
        }
        ASSERT_EQ(actual->to_string(), expected->to_string()) << "seed " << seed;
        std::unordered_set<const Expr*> nodes;
        collect_nodes(input, nodes);
        SCOPED_TRACE("seed " + std::to_string(seed));
        expect_same_nodes(expected, actual, nodes);
        ++compared;
    }
    EXPECT_GT(compared, 2000);
    EXPECT_GT(failed, 20);  // the big numbers do reach the overflow checks
}

// Equal base texts, and (past a few hundred distinct base texts) keys ordered by comparing
// texts instead of ranks.
TEST(Expand, TextTiesAndManyBasesMatchTheReference) {
    ExprPtr wide = v("w0");
    for (int k = 1; k < 300; ++k) {
        wide = add(wide, pow(v("w" + std::to_string(k)), i(k % 3 + 1)));
    }
    const ExprPtr ties = add(add(v("e"), e()), add(mul(v("e"), pow(e(), i(2))), i(1)));
    // Bases printing the same text keep their merge order inside keys: e e^{2} and e^{2} e are
    // different terms.
    const ExprPtr crossed =
        mul(add(v("e"), pow(e(), i(2))), add(add(pow(e(), i(2)), v("e")), pow(v("e"), i(3))));
    for (const ExprPtr& input : {crossed, pow(add(add(v("e"), e()), pow(e(), i(2))), i(3)),
                                 mul(wide, ties), mul(ties, wide), pow(add(wide, ties), i(2))}) {
        const ExprPtr expected = reference::expand_simplified(input);
        const ExprPtr actual = fast::Engine{}.expand(input);
        ASSERT_EQ(actual->to_string(), expected->to_string());
        std::unordered_set<const Expr*> nodes;
        collect_nodes(input, nodes);
        expect_same_nodes(expected, actual, nodes);
    }
}

// Long chains go through the in-place paths (factor index, dead factors, entry table).
TEST(Expand, LongChainsMatchTheReference) {
    std::mt19937 rng(7);
    const auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
    std::vector<ExprPtr> pool;
    for (const char* name : {"a", "b", "c", "e", "\\pi", "2"}) {
        pool.push_back(v(name));
    }
    pool.push_back(e());
    pool.push_back(pi());
    pool.push_back(mul(v("a"), v("b")));
    pool.push_back(add(v("a"), i(1)));
    for (int k = 0; k < 40; ++k) {
        pool.push_back(v("v" + std::to_string(k)));
    }
    for (int round = 0; round < 40; ++round) {
        ExprPtr chain = pool[pick(static_cast<int>(pool.size()))];
        for (int step = 0; step < 120; ++step) {
            ExprPtr f = pool[pick(static_cast<int>(pool.size()))];
            if (kind_of(*f) == ExprKind::Var && pick(2) == 0) {
                f = v(as<Var>(*f).name);  // equal but not the same node
            }
            switch (pick(6)) {
            case 0: f = pow(f, i(pick(5) - 2)); break;
            case 1: f = neg(f); break;
            case 2: f = i(2 * pick(2) - 1); break;
            default: break;
            }
            if (round % 2 == 0) {
                chain = step % 9 == 0 ? neg(mul(chain, f)) : mul(chain, f);
            } else {
                chain = add(chain, step % 5 == 0 ? mul(i(pick(5) - 2), f) : f);
            }
        }
        SCOPED_TRACE("round " + std::to_string(round));
        const ExprPtr expected = reference::expand_simplified(chain);
        const ExprPtr actual = fast::Engine{}.expand(chain);
        ASSERT_EQ(actual->to_string(), expected->to_string());
        std::unordered_set<const Expr*> nodes;
        collect_nodes(chain, nodes);
        expect_same_nodes(expected, actual, nodes);
    }
}

// Engine and reference agree on `input`: the same error, or the same text, shape and leaves.
void expect_engine_matches(const ExprPtr& input, int& errors) {
    ExprPtr expected;
    ExprPtr actual;
    const std::string want = outcome([&] { return reference::expand_simplified(input); }, expected);
    const std::string got = outcome([&] { return fast::Engine{}.expand(input); }, actual);
    ASSERT_EQ(got, want) << input->to_string();
    if (want != "ok") {
        ++errors;
        return;
    }
    ASSERT_EQ(actual->to_string(), expected->to_string());
    std::unordered_set<const Expr*> nodes;
    collect_nodes(input, nodes);
    expect_same_nodes(expected, actual, nodes);
}

// Polynomials in variables named by a letter and digits, where products take packed exponents:
// equal names as one shared node or as separate nodes, powers and squares of sums, repeated
// subtrees (a value times itself), coefficients near the 32-bit ends, and now and then a base
// that is not such a variable, so that values pass between the packed and the general paths.
class PolyMaker {
public:
    PolyMaker(unsigned seed, bool big) : rng_(seed), big_(big) {
        for (const char* name : kNames) {
            shared_.push_back(v(name));
        }
    }

    ExprPtr make(int depth) {
        if (!made_.empty() && pick(6) == 0) {
            return made_[pick(static_cast<int>(made_.size()))];
        }
        ExprPtr e = depth <= 0 ? leaf() : inner(depth);
        made_.push_back(e);
        return e;
    }

private:
    static constexpr const char* kNames[] = {"x", "y", "z", "a1", "b12", "x1", "x10", "X", "a"};

    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

    ExprPtr variable() {
        const int k = pick(static_cast<int>(std::size(kNames)));
        return pick(4) == 0 ? v(kNames[k]) : shared_[static_cast<std::size_t>(k)];
    }

    ExprPtr number() {
        if (big_ && pick(3) == 0) {
            static constexpr int kBig[] = {46341, -46340, 65536, 2147483647, -2147483647 - 1};
            return i(kBig[pick(5)]);
        }
        return i(pick(9) - 4);
    }

    ExprPtr leaf() {
        switch (pick(12)) {
        case 0: return number();
        case 1: return pick(2) == 0 ? e() : v("e");
        case 2: return pick(2) == 0 ? v("\\alpha") : pow(variable(), i(-1));
        default: return variable();
        }
    }

    ExprPtr inner(int depth) {
        switch (pick(8)) {
        case 0: return neg(make(depth - 1));
        case 1:
        case 2: return add(make(depth - 1), make(depth - 1));
        case 3:
        case 4: return mul(make(depth - 1), make(depth - 1));
        case 5: {
            const ExprPtr twice = make(depth - 1);
            return mul(twice, twice);
        }
        default: return pow(make(depth - 1), big_ && pick(4) == 0 ? i(30) : i(pick(6)));
        }
    }

    std::mt19937 rng_;
    bool big_;
    std::vector<ExprPtr> shared_;
    std::vector<ExprPtr> made_;
};

TEST(Expand, PlainVariablePolynomialsMatchTheReference) {
    int errors = 0;
    for (unsigned seed = 1; seed <= 3000; ++seed) {
        PolyMaker maker(seed, seed > 2000);
        const ExprPtr input = maker.make(static_cast<int>(seed % 4) + 2);
        SCOPED_TRACE("seed " + std::to_string(seed));
        expect_engine_matches(input, errors);
        if (HasFatalFailure()) {
            return;
        }
    }
    EXPECT_GT(errors, 20);  // the big coefficients do reach the overflow checks
}

// Fixed shapes at the edges of the packed path: exponent sums that need wide fields or more
// than one word, many variables, collected coefficients at the 32-bit ends (products checked
// pairwise, sums only once collected), and operands holding separate nodes of one name.
TEST(Expand, PackedProductEdgesMatchTheReference) {
    const auto sum_of = [](const std::vector<ExprPtr>& terms) {
        ExprPtr s = terms.front();
        for (std::size_t k = 1; k < terms.size(); ++k) {
            s = add(s, terms[k]);
        }
        return s;
    };
    std::vector<ExprPtr> many;
    std::vector<ExprPtr> wide;
    for (int k = 0; k < 300; ++k) {
        (k < 40 ? many : wide).push_back(v("v" + std::to_string(k)));
    }
    // Terms whose texts agree well past their first 32 bytes.
    ExprPtr long_names = add(v("v100"), v("w100"));
    for (int k = 101; k < 110; ++k) {
        const std::string n = std::to_string(k);
        long_names = mul(long_names, add(v("v" + n), pow(v("w" + n), i(k % 3 + 1))));
    }
    const ExprPtr x = v("x");
    const ExprPtr y = v("y");
    const ExprPtr x_again = v("x");
    const ExprPtr x1 = v("x1");
    const ExprPtr inputs[] = {
        pow(add(x, i(1)), i(33)),
        pow(add(x, i(1)), i(34)),
        pow(add(x, i(-1)), i(34)),
        mul(pow(add(x, i(1)), i(17)), pow(add(x, i(1)), i(17))),
        pow(add(mul(i(46341), x), y), i(2)),
        pow(add(mul(i(46340), x), mul(i(46340), y)), i(2)),
        pow(add(mul(i(32768), x), mul(i(-32768), y)), i(2)),
        mul(add(mul(i(65536), x), y), add(mul(i(32768), x), mul(i(-65536), y))),
        mul(add(pow(x, i(1000000)), y), add(pow(x, i(2147483647)), y)),
        mul(add(pow(x, i(1073741824)), y), add(pow(x, i(1073741823)), y)),
        mul(add(pow(x, i(1073741824)), y), add(pow(x, i(1073741824)), y)),
        pow(add(pow(x, i(65535)), pow(y, i(65535))), i(2)),
        pow(sum_of(many), i(2)),
        mul(sum_of(many), add(pow(many[3], i(5)), x)),
        mul(sum_of(many), add(pow(many[0], i(200)), x)),
        mul(sum_of(wide), add(pow(x, i(3)), sum_of(many))),
        mul(add(x, y), add(x_again, i(1))),
        mul(add(x_again, i(1)), add(x, y)),
        pow(add(add(x, x_again), y), i(3)),
        pow(add(add(x, x1), add(v("x10"), y)), i(4)),
        mul(pow(add(x, y), i(3)), add(add(x, e()), v("e"))),
        add(pow(add(x, y), i(2)), mul(neg(x_again), add(x, mul(i(2), y)))),
        long_names,
        mul(long_names, add(v("v100"), i(-1))),
    };
    int errors = 0;
    for (const ExprPtr& input : inputs) {
        SCOPED_TRACE(input->to_string());
        expect_engine_matches(input, errors);
    }
    EXPECT_GE(errors, 4);
}

// Products of products: values stay packed from one product to the next, so the chains below
// pass packed values into every other operation (sums, negation, powers, shared subtrees, the
// general path) and change field widths and word counts along the way; some fail in the middle
// with the overflow error, as the reference does.
TEST(Expand, ProductChainsMatchTheReference) {
    const auto chain = [](int from, int to, const std::function<ExprPtr(int)>& factor) {
        ExprPtr c = factor(from);
        for (int k = from + 1; k < to; ++k) {
            c = mul(c, factor(k));
        }
        return c;
    };
    const auto name = [](const char* letter, int k) { return letter + std::to_string(k); };
    const auto binomial = [&](int k) { return add(v(name("a", k)), v(name("b", k))); };
    const ExprPtr x = v("x");
    const ExprPtr y = v("y");
    const ExprPtr x_again = v("x");
    const ExprPtr pair = chain(0, 2, binomial);  // one node, used twice below
    const ExprPtr inputs[] = {
        chain(0, 10, binomial),
        chain(0, 6, [&](int k) { return add(v(name("b", k)), v(name("b", 10 * k + 1))); }),
        chain(0, 7, [&](int k) { return k % 3 == 1 ? add(e(), v(name("a", k))) : binomial(k); }),
        chain(0, 6, [&](int k) { return k == 3 ? add(x_again, i(2)) : add(x, v(name("a", k))); }),
        chain(0, 5, [&](int k) { return k == 2 ? sin(binomial(k)) : binomial(k); }),
        // More fields than two words hold: the packed value goes back to factor lists.
        mul(chain(0, 140, [&](int k) { return k == 0 ? add(x, y) : v(name("v", k)); }),
            add(x, i(1))),
        // Field widths growing along the chain, then an exponent sum past 32 bits.
        mul(mul(mul(add(x, y), add(pow(x, i(1000)), y)), add(pow(x, i(70000)), i(1))),
            add(pow(y, i(1 << 30)), x)),
        mul(mul(add(x, y), add(pow(x, i(1 << 30)), y)), add(pow(x, i(1 << 30)), i(1))),
        // Coefficients: a pairwise product, then a collected sum, past 32 bits mid-chain.
        mul(mul(add(x, y), add(mul(i(46341), x), i(1))), add(mul(i(46341), x), i(1))),
        mul(mul(add(mul(i(32768), x), y), add(mul(i(32768), x), y)), add(mul(i(2), x), i(1))),
        mul(mul(add(x, y), add(x, neg(y))), add(pow(x, i(2)), pow(y, i(2)))),
        // Packed values meeting sums, negation, powers and themselves.
        add(mul(chain(0, 3, binomial), i(2)), mul(add(v("a0"), i(1)), add(v("b0"), v("b1")))),
        mul(neg(chain(0, 3, binomial)), binomial(3)),
        pow(pair, i(3)),
        mul(pair, pair),
        mul(mul(pair, binomial(2)), pair),
        add(pair, neg(pair)),
        mul(binomial(0), mul(binomial(1), mul(binomial(2), add(binomial(3), i(1))))),
        // Operands without a common base, one of them holding like terms not yet collected.
        mul(pair, add(add(v("c"), v("d")), v("c"))),
        mul(add(add(v("c"), mul(i(0), v("d"))), mul(i(2), v("c"))), pair),
        mul(pair, add(v("c"), neg(v("c")))),
        mul(mul(pair, add(mul(i(65536), v("c")), v("d"))), add(mul(i(32768), v("e1")), i(1))),
        mul(pow(add(add(x, pow(y, i(3))), i(1)), i(4)), pow(add(add(y, pow(x, i(5))), i(2)), i(3))),
        mul(pow(add(pow(x, i(3)), y), i(5)), pow(add(x, pow(v("z"), i(70000))), i(2))),
        mul(mul(add(x, y), add(x, i(1))), add(pow(x, i(-1)), y)),
    };
    int errors = 0;
    for (const ExprPtr& input : inputs) {
        SCOPED_TRACE(input->to_string());
        expect_engine_matches(input, errors);
    }
    EXPECT_GE(errors, 3);
}

}  // namespace
}  // namespace tavrelo
