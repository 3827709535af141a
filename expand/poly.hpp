// The expander's working form of an expanded value: terms as coefficient and powers of
// registered bases, the tree built only when someone needs it.
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "core/expr.hpp"
#include "expand/packed_layout.hpp"
#include "expand/summand.hpp"

namespace tavrelo::fast {

// Either the raw split of a tree that the expander returns as it is (`collected` false: `terms`
// are the summands of `tree`), or the result of a collection (`collected` true: one entry per
// key, non-zero coefficients, no zero exponents outside the chain mode below).
struct Poly {
    bool collected = false;
    bool sorted = true;  // entries stand in output order
    bool rare = false;   // some entry's tree does not decompose back into that entry
    std::vector<Summand> terms;
    ExprPtr tree;

    // When set, the entries are held here instead (collected, not rare, at least two entries)
    // and `terms` is empty until they are unpacked.
    std::unique_ptr<PackedValue> packed;

    // The summands of the tree of a rare collected value, computed on first need.
    std::vector<Summand> splits;
    bool splits_ready = false;

    // Key id -> entry position, for in-place additions.
    std::unordered_map<std::uint32_t, std::uint32_t> key_index;
    bool key_index_ready = false;

    // Chain mode: a single entry multiplied in place. Base id -> position, dead positions (zero
    // exponents standing for absent factors), and counts that decide rarity without a scan.
    std::unordered_map<std::uint32_t, std::uint32_t> power_index;
    bool chain = false;
    std::size_t dead = 0;
    std::size_t live = 0;
    std::size_t odd = 0;  // live exponent-1 powers of bases that decomposition takes apart
};

using PolyRef = std::shared_ptr<Poly>;

}  // namespace tavrelo::fast
