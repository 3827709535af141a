// Exponent vectors of monomials over plain variables, packed into one or two 64-bit words: one
// field per base, every field as wide as the largest exponent needs. Equal monomials have equal
// words, and a product's exponents are the sum of its factors' words.
#pragma once

#include <cstdint>
#include <vector>

#include "expand/bases.hpp"
#include "expand/summand.hpp"

namespace tavrelo::fast {

// A collected value kept packed between products, so that no entry gets a factor list until one
// is needed; each base structure is met as one node only. Entries stand in order of first
// occurrence.
struct PackedValue {
    std::vector<std::uint32_t> handles;  // by field: the one node of the base
    std::vector<std::uint32_t> ids;      // by field: its structure
    std::vector<int> most;               // by field: no exponent exceeds it
    unsigned bits = 1;                   // width of every field
    std::size_t words = 1;               // per entry
    std::vector<std::uint64_t> keys;     // `words` per entry
    std::vector<int> coefs;              // non-zero
};

// The entries of a packed value with their factors in field order.
void unpack(const PackedValue& value, std::vector<Summand>& out);

// Base structures numbered as fields, afresh for every operation.
class FieldMap {
public:
    void begin();
    // The field of the structure `id`, registered with its node `handle` on first sight.
    std::uint32_t field_of(std::uint32_t id, std::uint32_t handle);
    // The field of a structure registered since begin().
    [[nodiscard]] std::uint32_t at(std::uint32_t id) const { return field_of_id_[id]; }
    [[nodiscard]] std::uint32_t handle(std::uint32_t field) const { return handles_[field]; }
    [[nodiscard]] const std::vector<std::uint32_t>& handles() const { return handles_; }
    [[nodiscard]] std::size_t size() const { return handles_.size(); }
    // The fields of a packed value, in its own order.
    void assign(const std::vector<std::uint32_t>& handles) { handles_ = handles; }

private:
    std::uint32_t session_ = 0;
    std::vector<std::uint32_t> stamp_;  // by id: the session its field belongs to
    std::vector<std::uint32_t> field_of_id_;
    std::vector<std::uint32_t> handles_;  // by field: a node of the base
};

// The fields of one operation and how they are packed.
class PackedLayout {
public:
    // Fields afresh, with no exponent seen yet on either side.
    void begin();

    // Gives every base of `side` a field and raises `most` (by field) to its exponents. False
    // on anything but plain variables with exponents >= 0 met once per summand; `mixed` is set
    // when a structure is met as another node than its field's.
    bool assign(const Bases& bases, const std::vector<Summand>& side, std::vector<int>& most,
                bool& mixed);
    // The same for the fields of a packed value.
    void assign(const PackedValue& value, std::vector<int>& most, bool& mixed);

    // The largest exponent a product can reach in any field (at least 1); a square's right
    // side is its left.
    std::int64_t most_product_exponent(bool square);

    // Fields just wide enough for `most`; false past two words.
    bool lay_out(std::int64_t most);

    void pack(const std::vector<Summand>& side, std::vector<std::uint64_t>& words) const;
    // The value's keys in this layout: its own when the layouts agree, else moved into `words`.
    const std::uint64_t* repack(const PackedValue& value, std::vector<std::uint64_t>& words) const;
    // The description of this layout in `out`, with the largest exponent of each field.
    void fill(const Bases& bases, PackedValue& out, const std::vector<int>& most) const;

    // The exponent of the base `id` in the packed monomial `key`.
    [[nodiscard]] int exponent(const std::uint64_t* key, std::uint32_t id) const {
        const std::uint32_t f = fields.at(id);
        const std::uint64_t mask = (std::uint64_t{1} << bits_) - 1;
        return static_cast<int>((key[word_of_field_[f]] >> shift_of_field_[f]) & mask);
    }

    [[nodiscard]] unsigned bits() const { return bits_; }
    [[nodiscard]] std::size_t words() const { return words_; }

    FieldMap fields;
    std::vector<int> most_left;   // by field
    std::vector<int> most_right;  // by field

private:
    void add_field();

    unsigned bits_ = 0;
    std::size_t words_ = 0;
    std::vector<std::uint8_t> word_of_field_;
    std::vector<std::uint8_t> shift_of_field_;
    std::vector<std::uint32_t> seen_;  // by field: the last summand that had it
    std::uint32_t seen_stamp_ = 0;
};

}  // namespace tavrelo::fast
