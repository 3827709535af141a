// Products of polynomials in plain variables on packed exponent vectors: one integer addition
// per pair of summands and one flat-table probe, no keys.
//
// With plain names the like-term key of a monomial is the concatenation of its pieces with no
// separator (latex::is_plain_name), and every piece starts with the only letter of its name, so
// equal keys mean equal monomials, and no two distinct bases print the same text. Merging by
// monomial in the same pair order therefore gives exactly the entries that merging by key
// gives: same first pairs, same sums, same kept nodes. When each base structure also has one
// node throughout, the order of either operand cannot show at all (the factor order inside an
// entry matters only between bases that print alike), so the operands need not be put in output
// order first.
#pragma once

#include <cstdint>
#include <vector>

#include "expand/bases.hpp"
#include "expand/packed_layout.hpp"
#include "expand/pair_table.hpp"
#include "expand/summand.hpp"

namespace tavrelo::fast {

class PackedProducts {
public:
    enum class Outcome {
        done,
        unfit,        // some base is not a plain variable, or the exponents do not pack
        needs_order,  // one structure stands for several nodes: pass the operands in order
    };

    // One operand of a product: a packed value, or else a list of summands.
    struct Operand {
        const PackedValue* packed;
        const std::vector<Summand>* list;
    };

    // The collected product of `left` and `right` (the same operand when `square`) kept packed,
    // when every base is a plain variable met as one node throughout; `needs_order` when some
    // base structure stands for several nodes. `out` is filled only when done. Throws the
    // overflow error as the pairwise product would.
    Outcome multiply(const Bases& bases, const Operand& left, const Operand& right, bool square,
                     PackedValue& out);

    // The collected product of `left` and `right` (pairs first-operand major), `square` when
    // both are the same list, which stand in their output order: entries in order of first
    // occurrence, cancelled ones dropped, factors (and kept nodes) as the first pair merges
    // them, keys not yet computed. `out` is filled only when done.
    Outcome multiply_in_order(const Bases& bases, const std::vector<Summand>& left,
                              const std::vector<Summand>& right, bool square,
                              std::vector<Summand>& out);

    // The collected n-th power (n >= 2) of `side`, as repeated products of expanded values give
    // it, when `side` qualifies with one node per base structure; `out` is filled only when
    // done. Throws the overflow error where those products would.
    Outcome power(const Bases& bases, const std::vector<Summand>& side, int n, PackedValue& out);

    // The collection of the summands of `first` then `second` (entries in order of first
    // occurrence, zero sums dropped, sums checked), kept packed, when every base is a plain
    // variable met as one node throughout.
    Outcome collect(const Bases& bases, const std::vector<Summand>& first,
                    const std::vector<Summand>* second, PackedValue& out);

    // Takes the room of a value no longer needed, for the next product's entries: large ones
    // would otherwise be paged in afresh on every expansion.
    void recycle(PackedValue&& value);

    [[nodiscard]] std::size_t bytes() const;

private:
    // Every pair in first-operand-major order as an entry of its own, products checked as the
    // collection checks them.
    void all_pairs(const std::uint64_t* lw, const int* lc, std::size_t left_count,
                   const std::uint64_t* rw, const int* rc, std::size_t right_count,
                   std::vector<std::uint64_t>& keys, std::vector<int>& coefs);
    void compact(const std::uint64_t* lw, const std::uint64_t* rw, std::vector<std::uint64_t>& keys,
                 std::vector<int>& coefs);
    // Empty outputs take the room of a value given back by `recycle`.
    void reuse_spare(std::vector<std::uint64_t>& keys, std::vector<int>& coefs);
    void emit(const std::vector<Summand>& left, const std::vector<Summand>& right,
              std::vector<Summand>& out);

    PackedLayout layout_;
    PairTable table_;
    std::vector<std::uint64_t> left_words_;
    std::vector<std::uint64_t> right_words_;
    std::vector<int> left_coef_;
    std::vector<int> right_coef_;
    std::vector<std::uint64_t> next_words_;
    std::vector<int> next_coef_;
    std::vector<std::uint64_t> spare_keys_;
    std::vector<int> spare_coefs_;
    std::vector<std::uint32_t> mark_;  // by field: the last entry whose left summand had it
};

}  // namespace tavrelo::fast
