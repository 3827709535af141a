// Texts built node by node against the renderer, and expansions whose texts are kept compressed
// (the threshold lowered to a few bytes) against the same expansions with plain texts.
#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/latex_text.hpp"
#include "expand/expand.hpp"
#include "tree_builders.hpp"

namespace tavrelo {
namespace {

using namespace build;

// Random trees with shared subtrees, over the renderer's corners: separators between digits and
// control words, empty and non-ASCII names, signs of numbers on the right of sums and products,
// -1 and 1 as factors.
class Maker {
public:
    explicit Maker(unsigned seed) : rng_(seed) {}

    ExprPtr make(int depth) {
        if (!made_.empty() && pick(5) == 0) {
            return made_[pick(static_cast<int>(made_.size()))];
        }
        ExprPtr e = depth <= 0 ? leaf() : inner(depth);
        made_.push_back(e);
        return e;
    }

private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

    ExprPtr leaf() {
        static const char* const names[] = {"x", "y",  "\\alpha", "\xCE\xB1", "2",
                                            "",  "ab", "\\",      "-z"};
        switch (pick(6)) {
        case 0: return i(pick(7) - 3);
        case 1: return q(pick(5) - 2, pick(3) + 2);
        case 2: return pick(2) == 0 ? e() : pi();
        default: return v(names[pick(9)]);
        }
    }

    ExprPtr inner(int depth) {
        switch (pick(11)) {
        case 0: return neg(make(depth - 1));
        case 1:
        case 2: return add(make(depth - 1), make(depth - 1));
        case 3:
        case 4: return mul(make(depth - 1), make(depth - 1));
        case 5: return mul(i(pick(3) - 1), make(depth - 1));
        case 6: return pow(make(depth - 1), i(pick(5) - 1));
        case 7: return pow(make(depth - 1), make(depth - 1));
        case 8: return sqrt(make(depth - 1));
        case 9: return sin(make(depth - 1));
        default: return div(make(depth - 1), make(depth - 1));
        }
    }

    std::mt19937 rng_;
    std::vector<ExprPtr> made_;
};

std::string flat(const Text& t) {
    std::string out;
    t.rope()->copy(0, static_cast<std::size_t>(t.size()), out);
    return out;
}

TEST(LatexText, PiecesGiveTheRenderersText) {
    for (unsigned seed = 1; seed <= 3000; ++seed) {
        Maker maker(seed);
        const ExprPtr tree = maker.make(static_cast<int>(seed % 6) + 1);
        const std::string want = tree->to_string();
        for (const std::size_t limit : {std::size_t{0}, std::size_t{3}, std::size_t{40}}) {
            LatexTexts texts(limit);
            const Text got = texts.of(tree);
            ASSERT_EQ(got.is_long(), want.size() > limit);
            ASSERT_EQ(flat(got), want) << "seed " << seed;
            ASSERT_EQ(texts.of(tree), got);  // remembered, same form
        }
    }
}

TEST(LatexText, CappedRenderingStopsPastTheCap) {
    const ExprPtr tree = add(mul(v("x"), i(2)), sin(v("y")));
    const std::string full = tree->to_string();
    EXPECT_EQ(render_latex_within(*tree, full.size()), full);
    EXPECT_EQ(render_latex_within(*tree, full.size() - 1), std::nullopt);
    EXPECT_EQ(render_latex_within(*tree, 0), std::nullopt);
    const std::unordered_set<const Expr*> stop{as<Add>(*tree).right.get()};
    EXPECT_EQ(render_latex_within(*tree, 1000, &stop), std::nullopt);
    EXPECT_EQ(render_latex_within(*v(""), 0), "");
}

// Expansions with every text longer than a few bytes compressed give the same results.
class Threshold {
public:
    explicit Threshold(std::size_t bytes) { set_long_text_threshold(bytes); }
    ~Threshold() { set_long_text_threshold(0); }
    Threshold(const Threshold&) = delete;
    Threshold& operator=(const Threshold&) = delete;
};

std::string expanded(const ExprPtr& input) {
    try {
        return expand(input)->to_string();
    } catch (const std::invalid_argument& err) {
        return std::string("error: ") + err.what();
    }
}

TEST(LatexText, CompressedExpansionMatchesPlain) {
    std::vector<ExprPtr> inputs;
    for (unsigned seed = 1; seed <= 1500; ++seed) {
        inputs.push_back(Maker(seed).make(static_cast<int>(seed % 5) + 1));
    }
    // Shared sums under negation (the shapes whose texts double at every level), small.
    for (int levels = 1; levels <= 7; ++levels) {
        ExprPtr a = v("x");
        ExprPtr b = v("x");
        ExprPtr c = v("x");
        for (int k = 0; k < levels; ++k) {
            a = add(a, neg(add(a, i(1))));
            b = add(neg(add(b, i(1))), neg(add(b, i(2))));
            c = mul(add(c, v("y")), neg(add(c, i(1))));
        }
        inputs.insert(inputs.end(), {a, b, c, pow(add(a, b), i(2))});
    }
    std::vector<std::string> plain;
    for (const ExprPtr& input : inputs) {
        plain.push_back(expanded(input));
    }
    for (const std::size_t bytes : {std::size_t{1}, std::size_t{6}, std::size_t{30}}) {
        const Threshold lowered(bytes);
        for (std::size_t k = 0; k < inputs.size(); ++k) {
            ASSERT_EQ(expanded(inputs[k]), plain[k]) << bytes << ": " << inputs[k]->to_string();
        }
    }
}

}  // namespace
}  // namespace tavrelo
