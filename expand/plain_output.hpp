// Results over plain variables put in output order and built as trees, without a key per
// entry: the key text of a monomial over plain names is written straight from the names
// (latex::write_plain_power), and large results are ordered by the ranks of its tokens.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/expr.hpp"
#include "expand/bases.hpp"
#include "expand/packed_layout.hpp"
#include "expand/summand.hpp"
#include "expand/token_order.hpp"

namespace tavrelo::fast {

class PlainOutput {
public:
    // Puts collected entries over plain variables in output order (descending key text, the
    // constant last), and each entry's factors in name order. Returns false, with `entries`
    // untouched, when some base is not plain.
    bool sort(const Bases& bases, std::vector<Summand>& entries);

    // The sum tree of entries already in output order, each term's factors in descending name
    // order; false, with `sum` empty, when some base is not a plain variable. `sorted`: the
    // entries are those that sort() has just ordered, factors included.
    bool build(const Bases& bases, const std::vector<Summand>& entries, bool sorted, ExprPtr& sum);

    // The sum tree of a packed value in output order, written without unpacking it.
    void build(const Bases& bases, const PackedValue& value, ExprPtr& sum);

    [[nodiscard]] std::size_t bytes() const;

private:
    bool rank_fields(const Bases& bases, const std::vector<Summand>& entries);
    void rank_gathered_fields(const Bases& bases);
    bool place(const Summand& s);
    [[nodiscard]] char* write_text(char* out) const;
    void sort_texts(std::size_t used);
    void sort_keyed(std::size_t lo, std::size_t hi, std::size_t depth, std::string_view all);

    FieldMap fields_;
    std::vector<std::uint32_t> rank_;   // by field: place in descending name order
    std::vector<std::uint32_t> order_;  // by rank: the field
    std::vector<int> at_rank_;          // by rank: position in the summand being placed
    std::vector<std::string_view> name_at_rank_;
    std::size_t longest_name_ = 0;
    static constexpr std::size_t kMaskWords = 4;
    std::vector<std::pair<std::uint32_t, int>> pieces_;
    Powers ordered_powers_;
    std::vector<std::uint32_t> placed_;

    static constexpr std::size_t kPrefixBytes = 32;
    struct Keyed {
        std::uint64_t prefix[kPrefixBytes / 8];  // the first bytes, big-endian, zero-padded
        std::uint32_t offset;
        std::uint32_t length;
        std::uint32_t entry;
        std::uint32_t placed;  // into placed_: the entry's factor positions in name order
    };
    std::string text_;
    std::vector<Keyed> keyed_;
    std::vector<Keyed> keyed_scratch_;
    // Ordering by tokens instead of texts, for large results.
    TokenOrder tokens_;
    std::vector<int> most_by_rank_;
};

}  // namespace tavrelo::fast
