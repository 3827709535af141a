// Like-term keys of monomials: the text of the monomial rebuilt with coefficient 1, computed
// once per distinct monomial (and without building nodes in the common case), interned to ids.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "expand/bases.hpp"
#include "expand/flat_index.hpp"
#include "expand/summand.hpp"
#include "expand/term_builder.hpp"

namespace tavrelo::fast {

class Keys {
public:
    static constexpr std::uint32_t kOne = 0;  // the key of the constant term, "1"

    explicit Keys(Bases& bases);

    // The key id of `powers`; zero exponents do not count.
    [[nodiscard]] std::uint32_t key_of(const Powers& powers);
    // The key of a monomial already given in canonical form (base id and exponent words in rank
    // order, zero exponents left out) with its hash_words hash, or FlatIndex::kAbsent when that
    // form has not been keyed yet.
    [[nodiscard]] std::uint32_t find_canonical(const std::vector<std::uint32_t>& words,
                                               std::uint64_t hash) const;
    // The same, keying the form when it is new (it must then be in text order).
    [[nodiscard]] std::uint32_t key_of_canonical(const std::vector<std::uint32_t>& words,
                                                 std::uint64_t hash);
    [[nodiscard]] const Text& text(std::uint32_t key) const { return texts_[key]; }
    // Output order: descending bytes, "1" last.
    [[nodiscard]] bool before(std::uint32_t a, std::uint32_t b) const;

    [[nodiscard]] std::uint32_t count() const { return static_cast<std::uint32_t>(texts_.size()); }

private:
    Text render(const std::vector<const Power*>& by_text);
    std::uint32_t intern(Text text);

    struct Monomial {
        std::uint32_t offset;  // into words_
        std::uint32_t length;
        std::uint32_t key;
    };

    Bases& bases_;
    std::deque<Text> texts_;
    FlatIndex text_index_;
    // Canonical monomials (base id and exponent words) already keyed.
    std::vector<std::uint32_t> words_;
    std::vector<Monomial> monomials_;
    FlatIndex monomial_index_;

    std::vector<std::pair<std::uint32_t, const Power*>> live_;
    std::vector<std::uint32_t> packed_;
    std::vector<const Power*> by_text_;
    Powers canonical_powers_;
};

// The tree of one term: factors in text order (stable), powers of exponent 0 skipped. With a
// builder, the term shares nodes with the terms that builder made before it.
[[nodiscard]] ExprPtr build_summand(Bases& bases, TermBuilder& builder, int coef,
                                    const Powers& powers);
[[nodiscard]] ExprPtr build_summand(Bases& bases, int coef, const Powers& powers);

}  // namespace tavrelo::fast
