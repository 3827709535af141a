// Monomials over plain variables put in output order by the ranks of their tokens instead of
// their texts, the expansions built on that order, and the term builder's hints about the
// leading factors that the next term shares.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <functional>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "expand/bases.hpp"
#include "expand/engine.hpp"
#include "expand/term_builder.hpp"
#include "expand/token_order.hpp"
#include "reference/reference.hpp"
#include "tree_builders.hpp"

namespace tavrelo {
namespace {

using namespace build;
using fast::TokenOrder;
using Monomial = std::vector<TokenOrder::Piece>;  // pieces in rank order
using Key = std::array<std::uint64_t, 2>;

// Names that stress the claim that texts compare as their token sequences: one letter each,
// names that begin other names, both cases, and names sharing their first letter. In the last
// set the top token (x3 before another name) is in use, and with 1, 2 or 8 exponents a name the
// token ranks need every bit of their width.
const std::vector<std::vector<std::string>> kNameSets = {
    {"a", "b", "c", "x", "y", "z"},
    {"b", "b1", "b10", "b2", "b100"},
    {"A", "a", "Z", "z", "B1"},
    {"x", "x1", "x12", "x2", "x21", "x3", "y"},
    {"a", "a1", "a10", "B", "b", "b9", "Z", "z9", "z10", "c"},
    {"x1", "x2", "x21", "x3"},
};

// The names in descending byte order: the index is the rank.
std::vector<std::string> ranked(std::vector<std::string> names) {
    std::sort(names.begin(), names.end(), std::greater<>());
    return names;
}

std::string text_of(const std::vector<std::string>& names, const Monomial& m) {
    std::string text;
    for (const auto& [rank, exp] : m) {
        text += names[rank];
        if (exp != 1) {
            text += "^{" + std::to_string(exp) + "}";
        }
    }
    return text;
}

std::size_t common_prefix(const Monomial& a, const Monomial& b) {
    std::size_t k = 0;
    while (k < a.size() && k < b.size() && a[k] == b[k]) {
        ++k;
    }
    return k;
}

// Distinct random monomials of at most `longest` factors (the constant among them), exponents
// up to `most` with several-digit ones favoured.
std::vector<Monomial> random_monomials(std::size_t names, int most, std::size_t longest,
                                       std::size_t count, std::mt19937& rng) {
    static constexpr int kExps[] = {1, 2, 9, 10, 12, 19, 100, 123};
    const auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
    std::set<Monomial> seen{Monomial{}};
    std::vector<Monomial> out{Monomial{}};
    for (std::size_t attempt = 0; attempt < 4 * count && out.size() < count; ++attempt) {
        Monomial m;
        for (std::uint32_t r = 0; r < names && m.size() < longest; ++r) {
            if (pick(2) == 0) {
                continue;
            }
            const int e = pick(2) == 0 ? kExps[pick(8)] : pick(most) + 1;
            m.emplace_back(r, std::min(e, most));
        }
        if (seen.insert(m).second) {
            out.push_back(m);
        }
    }
    std::shuffle(out.begin(), out.end(), rng);
    return out;
}

// Orders `monos` by tokens and checks the visit order against sorting the texts, the next
// keys handed along, the pieces read back from the keys, and the shared leading pieces.
void expect_orders_like_texts(TokenOrder& order, const std::vector<std::string>& names,
                              const std::vector<int>& most, std::size_t longest,
                              const std::vector<Monomial>& monos, std::mt19937& rng) {
    const std::vector<std::string_view> views(names.begin(), names.end());
    ASSERT_TRUE(order.prepare(views, most, longest, SIZE_MAX));
    std::vector<std::string> expected;
    for (const Monomial& m : monos) {
        expected.push_back(text_of(names, m));
    }
    std::sort(expected.begin(), expected.end(), std::greater<>());

    std::vector<std::uint32_t> visited;
    std::vector<Key> keys;
    std::vector<Key> nexts;
    // Two words are always readable: a record holds its key words and then its payload.
    const Key none{~0ull, 0};
    const auto copy = [&](const std::uint64_t* k) { return k ? Key{k[0], k[1]} : none; };
    order.order(
        monos.size(),
        [&](std::size_t e, std::uint64_t* out) -> std::uint64_t {
            order.key(monos[e].data(), monos[e].size(), out);
            // The branch-free key of one word, from every rank's exponent, is the same.
            if (order.words() == 1 && names.size() <= TokenOrder::kMaxRanksInOneWord) {
                std::vector<int> exps(names.size(), 0);
                for (const auto& [rank, exp] : monos[e]) {
                    exps[rank] = exp;
                }
                EXPECT_EQ(order.one_word_key(names.size(), [&](std::size_t r) { return exps[r]; }),
                          out[0]);
            }
            return e;
        },
        [&](std::uint64_t payload, const std::uint64_t* key, const std::uint64_t* next) {
            const auto e = static_cast<std::uint32_t>(payload);
            visited.push_back(e);
            keys.push_back(copy(key));
            nexts.push_back(copy(next));
            Monomial back;
            order.for_each_piece(key, [&](std::uint32_t r, int x) { back.emplace_back(r, x); });
            EXPECT_EQ(back, monos[e]) << text_of(names, monos[e]);
        });
    ASSERT_EQ(visited.size(), monos.size());
    for (std::size_t i = 0; i < visited.size(); ++i) {
        ASSERT_EQ(text_of(names, monos[visited[i]]), expected[i]) << "place " << i;
        ASSERT_EQ(nexts[i], i + 1 < keys.size() ? keys[i + 1] : none) << "place " << i;
    }
    const auto pick = [&] {
        return std::uniform_int_distribution<std::size_t>(0, visited.size() - 1)(rng);
    };
    for (std::size_t t = 0; t < 4 * visited.size(); ++t) {
        // Neighbours first (what the builder asks), then any two.
        const std::size_t a = t < visited.size() ? t : pick();
        const std::size_t b = t < visited.size() ? std::min(t + 1, visited.size() - 1) : pick();
        ASSERT_EQ(order.shared_pieces(keys[a].data(), keys[b].data()),
                  common_prefix(monos[visited[a]], monos[visited[b]]))
            << expected[a] << " / " << expected[b];
    }
}

TEST(TokenOrder, OrdersLikeTheTexts) {
    TokenOrder order;  // one object throughout: its tables are reused as the expander does
    std::mt19937 rng(11);
    struct Row {
        int most;             // largest exponent of every name
        std::size_t longest;  // most factors a monomial has
        std::size_t count;
    };
    const Row rows[] = {{1, 10, 300}, {2, 10, 2000}, {8, 4, 1500}, {12, 3, 1500}, {123, 8, 3000}};
    for (const auto& set : kNameSets) {
        const std::vector<std::string> names = ranked(set);
        for (const Row& row : rows) {
            SCOPED_TRACE(names.front() + "... most " + std::to_string(row.most) + " longest " +
                         std::to_string(row.longest));
            const std::vector<int> most(names.size(), row.most);
            const auto monos =
                random_monomials(names.size(), row.most, row.longest, row.count, rng);
            std::size_t longest = 0;
            for (const Monomial& m : monos) {
                longest = std::max(longest, m.size());
            }
            expect_orders_like_texts(order, names, most, longest, monos, rng);
            if (HasFatalFailure()) {
                return;
            }
        }
    }
}

// Refusals leave the object fit for the next preparation.
TEST(TokenOrder, RefusesTooManyTokensOrWords) {
    const std::vector<std::string> six = ranked(kNameSets[0]);  // 7 kinds of following byte
    std::vector<std::string> letters;
    for (char c = 'a'; c <= 'z'; ++c) {
        letters.emplace_back(1, c);
    }
    letters = ranked(letters);  // 26 names, 27 followers: 702 tokens of 10 bits, 6 a word
    struct Row {
        const std::vector<std::string>* names;
        int most;
        std::size_t longest;
        std::size_t budget;
        bool accepted;
    };
    const Row rows[] = {
        {&six, 10, 6, 420, true},             // 6 names * 10 exponents * 7 followers
        {&six, 10, 6, 419, false},            // one token over the budget
        {&six, 390, 6, SIZE_MAX, true},       // 16380 tokens
        {&six, 391, 6, SIZE_MAX, false},      // 16422 tokens
        {&six, INT_MAX, 6, SIZE_MAX, false},  // a count that would overflow
        {&letters, 1, 12, SIZE_MAX, true},    // two words
        {&letters, 1, 13, SIZE_MAX, false},   // three words
        {&letters, 1, 26, 100, false},
    };
    TokenOrder order;
    std::mt19937 rng(5);
    for (const Row& row : rows) {
        SCOPED_TRACE("most " + std::to_string(row.most) + " longest " +
                     std::to_string(row.longest) + " budget " + std::to_string(row.budget));
        const std::vector<std::string_view> views(row.names->begin(), row.names->end());
        const std::vector<int> most(views.size(), row.most);
        EXPECT_EQ(order.prepare(views, most, row.longest, row.budget), row.accepted);
        const std::vector<std::string> names = ranked(kNameSets[1]);
        const auto monos = random_monomials(names.size(), 19, 5, 200, rng);
        expect_orders_like_texts(order, names, std::vector<int>(names.size(), 19), 5, monos, rng);
    }
}

// Lowers the threshold of the token order for the life of the object.
struct TokenThreshold {
    explicit TokenThreshold(std::size_t terms) { fast::set_token_order_threshold(terms); }
    ~TokenThreshold() { fast::set_token_order_threshold(0); }
    TokenThreshold(const TokenThreshold&) = delete;
    TokenThreshold& operator=(const TokenThreshold&) = delete;
};

std::string outcome(const std::function<ExprPtr()>& run, std::string& text) {
    try {
        text = run()->to_string();
        return "ok";
    } catch (const std::invalid_argument& err) {
        return err.what();
    }
}

std::size_t terms_of(const std::string& text) {
    std::size_t terms = 1;
    for (std::size_t at = 0; (at = text.find(' ', at)) != std::string::npos; at += 2) {
        terms += text.compare(at, 3, " + ") == 0 || text.compare(at, 3, " - ") == 0 ? 1 : 0;
    }
    return terms;
}

// Sums of monomials over one name set: coefficients (now and then big enough to overflow),
// powers with several-digit exponents, variables as one shared node each.
class SumMaker {
public:
    // `big` mixes in coefficients whose products leave 32 bits.
    SumMaker(const std::vector<std::string>& names, unsigned seed, bool big)
        : rng_(seed), big_(big) {
        for (const std::string& n : names) {
            vars_.push_back(v(n));
        }
    }

    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

    ExprPtr sum(int terms, int most) {
        ExprPtr s = monomial(most);
        for (int k = 1; k < terms; ++k) {
            s = add(s, monomial(most));
        }
        return s;
    }

private:
    ExprPtr monomial(int most) {
        static constexpr int kExps[] = {1, 2, 9, 10, 12, 19};
        ExprPtr m;
        for (const ExprPtr& x : vars_) {
            if (pick(3) != 0) {
                continue;
            }
            const int e = std::min(most, pick(2) == 0 ? kExps[pick(6)] : pick(most) + 1);
            ExprPtr f = e == 1 ? x : pow(x, i(e));
            m = m ? (pick(2) == 0 ? mul(m, f) : mul(f, m)) : f;
        }
        static constexpr int kCoefs[] = {1, 1, 1, -1, 2, -3, 7, 46341, 65536};
        const int c = kCoefs[pick(big_ ? 9 : 7)];
        if (!m) {
            return i(c);
        }
        return c == 1 ? m : mul(i(c), m);
    }

    std::mt19937 rng_;
    bool big_;
    std::vector<ExprPtr> vars_;
};

// The token order against the texts' order in whole expansions: the same input expanded with
// the token order kept for large results, with it tried on every result, and by the reference
// operations (which sort key texts) give the same text or the same error.
TEST(TokenOrder, ExpansionsMatchTheTextOrder) {
    int large = 0;      // results of a thousand terms or more
    int by_tokens = 0;  // results ordered by tokens at the default threshold too
    int errors = 0;
    for (unsigned seed = 1; seed <= 300; ++seed) {
        const auto& names = kNameSets[seed % kNameSets.size()];
        SumMaker maker(names, seed, seed % 10 == 0);
        const auto sum = [&](int most_terms, int most) {
            return maker.sum(maker.pick(most_terms) + 2, most);
        };
        ExprPtr input;
        switch (seed % 5) {
        case 0: input = mul(sum(60, 2), sum(60, 2)); break;
        case 1: input = mul(sum(90, 19), sum(90, 19)); break;
        case 2: input = pow(sum(6, 12), i(maker.pick(5) + 2)); break;
        case 3: input = mul(mul(sum(12, 10), sum(12, 3)), sum(12, 100)); break;
        default: input = pow(sum(3, 2), i(maker.pick(12) + 2)); break;
        }
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::string text_default;
        std::string text_tokens;
        std::string text_reference;
        const std::string d = outcome([&] { return fast::Engine{}.expand(input); }, text_default);
        std::string t;
        {
            const TokenThreshold lowered(1);
            t = outcome([&] { return fast::Engine{}.expand(input); }, text_tokens);
        }
        const std::string r =
            outcome([&] { return reference::expand_simplified(input); }, text_reference);
        ASSERT_EQ(d, r);
        ASSERT_EQ(t, r);
        if (r != "ok") {
            ++errors;
            continue;
        }
        ASSERT_EQ(text_default, text_reference);
        ASSERT_EQ(text_tokens, text_reference);
        const std::size_t terms = terms_of(text_reference);
        large += terms >= 1000 ? 1 : 0;
        // Exponents up to 4 over at most 10 names of 6 first letters: at most 280 tokens, so
        // the default threshold and budget take the token order from 280 terms on.
        by_tokens += seed % 5 == 0 && terms >= 280 ? 1 : 0;
    }
    EXPECT_GE(large, 10);
    EXPECT_GE(by_tokens, 10);
    EXPECT_GE(errors, 3);  // the big coefficients do reach the overflow checks
}

std::size_t distinct_nodes(const ExprPtr& root) {
    std::unordered_set<const Expr*> seen;
    std::vector<const Expr*> pending{root.get()};
    while (!pending.empty()) {
        const Expr* e = pending.back();
        pending.pop_back();
        if (!seen.insert(e).second) {
            continue;
        }
        switch (kind_of(*e)) {
        case ExprKind::Neg: pending.push_back(as<Neg>(*e).operand.get()); break;
        case ExprKind::Add:
            pending.push_back(as<Add>(*e).left.get());
            pending.push_back(as<Add>(*e).right.get());
            break;
        case ExprKind::Mul:
            pending.push_back(as<Mul>(*e).left.get());
            pending.push_back(as<Mul>(*e).right.get());
            break;
        case ExprKind::Pow:
            pending.push_back(as<Pow>(*e).base.get());
            pending.push_back(as<Pow>(*e).exp.get());
            break;
        default: break;
        }
    }
    return seen.size();
}

// A wrong hint about the next term's shared factors costs nodes at most, never the result;
// right hints share as much as no hints.
TEST(TermBuilder, HintsOnlyDecideSharing) {
    std::mt19937 rng(3);
    const auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
    for (const auto& set : kNameSets) {
        const std::vector<std::string> names = ranked(set);
        fast::Bases bases;
        std::vector<std::uint32_t> handles;
        for (const std::string& n : names) {
            handles.push_back(bases.handle_of(v(n)));
        }
        for (const std::size_t count : {std::size_t{5}, std::size_t{80}, std::size_t{1500}}) {
            SCOPED_TRACE(names.front() + "... " + std::to_string(count) + " terms");
            auto monos = random_monomials(names.size(), 12, names.size(), count, rng);
            // Output order, the constant last.
            std::sort(monos.begin(), monos.end(), [&](const Monomial& a, const Monomial& b) {
                return text_of(names, a) > text_of(names, b);
            });
            std::vector<int> coefs;
            for (std::size_t k = 0; k < monos.size(); ++k) {
                static constexpr int kCoefs[] = {1, -1, 2, -5, 0};
                coefs.push_back(kCoefs[pick(5)]);
            }
            enum class Hints { none, right, wrong, plain };
            const auto build = [&](Hints hints) {
                fast::TermBuilder builder(bases, hints == Hints::plain ? 0 : monos.size());
                ExprPtr sum;
                for (std::size_t k = 0; k < monos.size(); ++k) {
                    const std::size_t shared =
                        k + 1 < monos.size() ? common_prefix(monos[k], monos[k + 1]) : 0;
                    if (hints == Hints::right || hints == Hints::plain) {
                        builder.keep_next(shared);
                    } else if (hints == Hints::wrong && pick(4) != 0) {
                        builder.keep_next(
                            static_cast<std::size_t>(pick(static_cast<int>(monos[k].size()) + 3)));
                    }
                    for (const auto& [rank, exp] : monos[k]) {
                        builder.factor(handles[rank], exp);
                    }
                    ExprPtr t = builder.finish(coefs[k]);
                    sum = sum ? add(sum, t) : t;
                }
                return sum;
            };
            const ExprPtr plain = build(Hints::plain);
            const ExprPtr none = build(Hints::none);
            const ExprPtr right = build(Hints::right);
            ASSERT_TRUE(structurally_equal(*none, *plain));
            ASSERT_TRUE(structurally_equal(*right, *plain));
            EXPECT_EQ(right->to_string(), plain->to_string());
            EXPECT_EQ(distinct_nodes(right), distinct_nodes(none));
            if (count >= fast::TermBuilder::kShareFrom) {
                EXPECT_LT(distinct_nodes(right), distinct_nodes(plain));
            }
            for (int round = 0; round < 5; ++round) {
                const ExprPtr wrong = build(Hints::wrong);
                ASSERT_TRUE(structurally_equal(*wrong, *plain));
                ASSERT_EQ(wrong->to_string(), plain->to_string());
                EXPECT_GE(distinct_nodes(wrong), distinct_nodes(right));
            }
        }
    }
}

}  // namespace
}  // namespace tavrelo
