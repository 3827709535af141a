// Sums of coefficients by packed monomial, for the pairs of summands of a product: an
// open-addressing table keyed by the packed words, entries in order of first occurrence.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace tavrelo::fast {

class PairTable {
public:
    struct Entry {
        std::int64_t sum;  // exact; checked once collected
        std::uint32_t left;
        std::uint32_t right;  // the entry's first pair
    };

    // Every pair of (lw, lc)[0, left_count) and (rw, rc)[0, right_count) in first-operand-major
    // order, or for a square each unordered pair once (i <= j), collected by the sum of their
    // `words`-word keys. Each pairwise product is checked as the collection checks it.
    void collect(std::size_t words, const std::uint64_t* lw, const int* lc, std::size_t left_count,
                 const std::uint64_t* rw, const int* rc, std::size_t right_count, bool square);

    [[nodiscard]] const std::vector<Entry>& entries() const { return entries_; }

    // The surviving entries of the last collection as packed keys and checked coefficients.
    void compact(std::size_t words, const std::uint64_t* lw, const std::uint64_t* rw,
                 std::vector<std::uint64_t>& keys, std::vector<int>& coefs) const;

    [[nodiscard]] std::size_t bytes() const {
        return 8 * room_ + sizeof(Entry) * entries_.capacity();
    }

private:
    template <std::size_t W>
    void collect_in(const std::uint64_t* lw, const int* lc, std::size_t left_count,
                    const std::uint64_t* rw, const int* rc, std::size_t right_count, bool square);
    template <std::size_t W>
    void clear(std::size_t capacity);
    template <std::size_t W>
    void grow();

    std::vector<Entry> entries_;
    // W key words then the entry index (kEmpty when free), per slot; mask_ + 1 slots in use.
    std::unique_ptr<std::uint64_t[]> slots_;
    std::size_t room_ = 0;  // words
    std::size_t mask_ = 0;
};

}  // namespace tavrelo::fast
