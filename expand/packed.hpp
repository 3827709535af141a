// Products of polynomials in plain variables (a letter, then digits) with packed exponent
// vectors: one integer addition per pair of summands and one flat hash probe, no keys.
//
// With such names the like-term key of a monomial is the concatenation of its pieces with no
// separator, and every piece starts with the only letter of its name, so equal keys mean equal
// monomials, and no two distinct bases print the same text. Merging by monomial in the same
// pair order therefore gives exactly the entries that merging by key gives: same first pairs,
// same sums, same kept nodes. When each base structure also has one node throughout, the
// order of either operand cannot show at all (the factor order inside an entry matters only
// between bases that print alike), so the operands need not be put in output order first.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "expand/bases.hpp"
#include "expand/poly.hpp"
#include "expand/token_order.hpp"

namespace tavrelo::fast {

class PackedProducts {
public:
    // Ready for a new expansion: node handles are numbered afresh.
    void begin() { plain_.clear(); }
    // Whether the tables are small enough to keep for the next expansion.
    [[nodiscard]] bool small() const;

    enum class Outcome {
        done,
        unfit,        // some base is not a plain variable, or the exponents do not pack
        needs_order,  // one structure stands for several nodes: pass the operands in order
    };

    // The collected product of `left` and `right` (pairs first-operand major), `square` when
    // both are the same list, which stand in their output order: entries in order of first
    // occurrence, cancelled ones dropped, factors (and kept nodes) as the first pair merges
    // them, keys not yet computed. `out` is filled only when done. Throws the overflow error as
    // the pairwise product would.
    Outcome multiply(Bases& bases, const std::vector<Summand>& left,
                     const std::vector<Summand>& right, bool square, std::vector<Summand>& out);

    // One operand of a product: a packed value, or else a list of summands.
    struct Operand {
        const PackedValue* packed;
        const std::vector<Summand>* list;
    };

    // The collected product of `left` and `right` (the same operand when `square`) kept packed,
    // when every base is a plain variable met as one node throughout; `needs_order` when some
    // base structure stands for several nodes. `out` is filled only when done. Throws the
    // overflow error as the pairwise product would.
    Outcome multiply_packed(Bases& bases, const Operand& left, const Operand& right, bool square,
                            PackedValue& out);

    // The collected n-th power (n >= 2) of `side`, as repeated products of expanded values give
    // it, when `side` qualifies with one node per base structure; `out` is filled only when
    // done. Throws the overflow error where those products would.
    Outcome power(Bases& bases, const std::vector<Summand>& side, int n, PackedValue& out);

    // The collection of the summands of `first` then `second` (entries in order of first
    // occurrence, zero sums dropped, sums checked), kept packed, when every base is a plain
    // variable met as one node throughout.
    Outcome collect(Bases& bases, const std::vector<Summand>& first,
                    const std::vector<Summand>* second, PackedValue& out);

    // The entries of a packed value with their factors in field order.
    static void unpack(const PackedValue& value, std::vector<Summand>& out);

    // Puts collected entries over plain variables in output order (descending key text, the
    // constant last) without keying them: the key text of such a monomial is written straight
    // from the names. Each entry's factors are put in name order too. Returns false, with
    // `entries` untouched, when some base is not plain.
    bool sort_plain(Bases& bases, std::vector<Summand>& entries);

    // The sum tree of entries already in output order, each term's factors in descending name
    // order; false, with `sum` empty, when some base is not a plain variable. `ranked`: the
    // entries are those that sort_plain has just ordered, factors included.
    bool build_plain(Bases& bases, const std::vector<Summand>& entries, bool ranked, ExprPtr& sum);

    // The sum tree of a packed value in output order, written without unpacking it.
    void build_packed(Bases& bases, const PackedValue& value, ExprPtr& sum);

    // Takes the room of a value no longer needed, for the next product's entries: large ones
    // would otherwise be paged in afresh on every expansion.
    void recycle(PackedValue&& value);

private:
    void next_session();
    bool plain(Bases& bases, std::uint32_t handle) {
        if (handle < plain_.size() && plain_[handle] >= 0) {
            return plain_[handle] == 1;
        }
        return classify(bases, handle);
    }
    bool classify(Bases& bases, std::uint32_t handle);
    bool rank_fields(Bases& bases, const std::vector<Summand>& entries);
    void rank_gathered_fields(Bases& bases);
    void sort_texts(std::size_t used);
    [[nodiscard]] char* write_text(char* out) const;
    bool place(const Summand& s);
    const std::string& name_of(Bases& bases, std::uint32_t field) const;
    bool assign_fields(Bases& bases, const std::vector<Summand>& side, std::vector<int>& most,
                       bool& mixed);
    void pack_side(const std::vector<Summand>& side, std::vector<std::uint64_t>& words);
    void assign_packed_fields(const PackedValue& value, std::vector<int>& most, bool& mixed);
    void begin_fields();
    std::int64_t most_product_exponent(bool square);
    const std::uint64_t* repack(const PackedValue& value, std::vector<std::uint64_t>& words);
    void all_pairs(const std::uint64_t* lw, const int* lc, std::size_t left_count,
                   const std::uint64_t* rw, const int* rc, std::size_t right_count,
                   std::vector<std::uint64_t>& keys, std::vector<int>& coefs);
    void compact(const std::uint64_t* lw, const std::uint64_t* rw, std::vector<std::uint64_t>& keys,
                 std::vector<int>& coefs);
    // Empty outputs take the room of a value given back by `recycle`.
    void reuse_spare(std::vector<std::uint64_t>& keys, std::vector<int>& coefs);
    std::vector<std::uint64_t> spare_keys_;
    std::vector<int> spare_coefs_;
    void fill(Bases& bases, PackedValue& out, const std::vector<int>& most) const;

    template <std::size_t W>
    void collect_pairs(const std::uint64_t* lw, const int* lc, std::size_t left_count,
                       const std::uint64_t* rw, const int* rc, std::size_t right_count,
                       bool square);
    void pairs_of(const std::uint64_t* lw, const int* lc, std::size_t left_count,
                  const std::uint64_t* rw, const int* rc, std::size_t right_count, bool square);
    template <std::size_t W>
    void grow();

    void emit(const std::vector<Summand>& left, const std::vector<Summand>& right,
              std::vector<Summand>& out);

    std::vector<std::int8_t> plain_;  // by handle: -1 not looked at yet

    // Fields: base id -> field (valid when the stamp is current), field -> a node of it.
    std::uint32_t session_ = 0;
    std::vector<std::uint32_t> field_stamp_;
    std::vector<std::uint32_t> field_of_id_;
    std::vector<std::uint32_t> handle_of_field_;
    std::vector<int> most_left_;
    std::vector<int> most_right_;
    std::vector<std::uint32_t> seen_;  // by field: the last summand that had it
    std::uint32_t seen_stamp_ = 0;

    bool lay_out_fields(std::int64_t most);

    unsigned bits_ = 0;
    std::size_t words_ = 0;
    std::vector<std::uint8_t> word_of_field_;
    std::vector<std::uint8_t> shift_of_field_;
    std::vector<std::uint64_t> left_words_;
    std::vector<std::uint64_t> right_words_;
    std::vector<int> left_coef_;
    std::vector<int> right_coef_;
    std::vector<std::uint64_t> next_words_;
    std::vector<int> next_coef_;

    struct Entry {
        std::int64_t sum;
        std::uint32_t left;
        std::uint32_t right;
    };
    std::vector<Entry> entries_;
    // Open addressing: W key words then the entry index (kEmpty when free), per slot.
    std::vector<std::uint64_t> slots_;
    std::size_t mask_ = 0;

    std::vector<std::uint32_t> mark_;  // by field: the last entry whose left summand had it

    static constexpr std::size_t kPrefixBytes = 32;
    struct Keyed {
        std::uint64_t prefix[kPrefixBytes / 8];  // the first bytes, big-endian, zero-padded
        std::uint32_t offset;
        std::uint32_t length;
        std::uint32_t entry;
        std::uint32_t placed;  // into placed_: the entry's factor positions in name order
    };
    std::vector<std::uint32_t> rank_;   // by field: place in descending name order
    std::vector<std::uint32_t> order_;  // by rank: the field
    std::vector<int> at_rank_;          // by rank: position in the summand being placed
    std::vector<std::string_view> name_at_rank_;
    std::size_t longest_name_ = 0;
    static constexpr std::size_t kMaskWords = 4;
    std::vector<std::pair<std::uint32_t, int>> pieces_;
    Powers ordered_powers_;
    std::vector<std::uint32_t> placed_;
    std::string text_;
    std::vector<Keyed> keyed_;
    std::vector<Keyed> keyed_scratch_;
    // Ordering by tokens instead of texts, for large results.
    TokenOrder tokens_;
    std::vector<int> most_by_rank_;
    void sort_keyed(std::size_t lo, std::size_t hi, std::size_t depth, std::string_view all);
};

}  // namespace tavrelo::fast
