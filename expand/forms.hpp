// The forms an expanded value takes. A value starts as the raw split of a tree, or as the
// collection of summands; products keep it packed while its bases are plain variables, and a
// single entry multiplied again and again becomes a chain. Every form converts to the others
// only through forms.cpp, and check_invariants states what each form promises.
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <variant>
#include <vector>

#include "core/expr.hpp"
#include "expand/packed_layout.hpp"
#include "expand/summand.hpp"

namespace tavrelo::fast {

// A tree the expander returns as it is: `terms` are the summands of the value's tree.
struct Raw {
    std::vector<Summand> terms;
};

// The result of a collection: one entry per key, non-zero coefficients, no zero exponents.
struct Collected {
    std::vector<Summand> entries;
    bool sorted = true;  // entries stand in output order
    bool rare = false;   // some entry's tree does not decompose back into that entry
    // The summands of the tree of a rare value, computed on first need.
    std::vector<Summand> splits;
    bool splits_ready = false;
    // Key id -> entry position, for in-place additions.
    std::unordered_map<std::uint32_t, std::uint32_t> key_index;
    bool key_index_ready = false;
};

// At least two collected entries over plain variables, each base structure one node, in order
// of first occurrence; never rare.
struct Packed {
    PackedValue value;
};

// A single entry multiplied in place: powers that fell to exponent zero stay as dead positions
// (absent factors), and counts decide rarity without a scan.
struct Chain {
    Summand entry;
    std::unordered_map<std::uint32_t, std::uint32_t> index;  // base id -> position
    std::size_t dead = 0;
    std::size_t live = 0;
    std::size_t odd = 0;  // live exponent-1 powers of bases that decomposition takes apart
    bool rare = false;
};

struct Poly {
    std::variant<Raw, Collected, Packed, Chain> form;
    ExprPtr tree;  // a Raw value's own tree; for the others built on first need

    [[nodiscard]] bool raw() const { return std::holds_alternative<Raw>(form); }
    [[nodiscard]] Collected* collected() { return std::get_if<Collected>(&form); }
    [[nodiscard]] Packed* packed() { return std::get_if<Packed>(&form); }
    [[nodiscard]] Chain* chain() { return std::get_if<Chain>(&form); }
    // A collected value (of any form but Raw) whose entries are their own trees' summands.
    [[nodiscard]] bool plain_entries() const;
    // One entry, collected and not rare: the value that can be multiplied or negated in place.
    [[nodiscard]] bool single_entry() const;
};

using PolyRef = std::shared_ptr<Poly>;

class Bases;
class Keys;

// Throws std::logic_error naming the first broken promise of `p`'s form. `keys`, when given,
// also checks the output order of sorted entries that have keys.
void check_invariants(const Poly& p, const Bases& bases, const Keys* keys = nullptr);

// Debug and sanitizer builds check every value the expander makes.
#if !defined(NDEBUG) || defined(TAVRELO_CHECKED)
inline constexpr bool kCheckInvariants = true;
#else
inline constexpr bool kCheckInvariants = false;
#endif

}  // namespace tavrelo::fast
