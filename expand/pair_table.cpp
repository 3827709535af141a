#include "expand/pair_table.hpp"

#include <algorithm>
#include <bit>
#include <memory>

#include "core/checked_int.hpp"

namespace tavrelo::fast {
namespace {

constexpr std::uint64_t kEmpty = ~std::uint64_t{0};

template <std::size_t W>
std::size_t slot_of(const std::uint64_t* key, unsigned shift) {
    std::uint64_t h = key[0];
    if constexpr (W == 2) {
        h ^= key[1] * 0xC2B2AE3D27D4EB4Full;
    }
    return static_cast<std::size_t>((h * 0x9E3779B97F4A7C15ull) >> shift);
}

}  // namespace

void PairTable::collect(std::size_t words, const std::uint64_t* lw, const int* lc,
                        std::size_t left_count, const std::uint64_t* rw, const int* rc,
                        std::size_t right_count, bool square) {
    if (words == 1) {
        collect_in<1>(lw, lc, left_count, rw, rc, right_count, square);
    } else {
        collect_in<2>(lw, lc, left_count, rw, rc, right_count, square);
    }
}

void PairTable::compact(std::size_t words, const std::uint64_t* lw, const std::uint64_t* rw,
                        std::vector<std::uint64_t>& keys, std::vector<int>& coefs) const {
    keys.clear();
    coefs.clear();
    keys.reserve(entries_.size() * words);
    coefs.reserve(entries_.size());
    for (const Entry& e : entries_) {
        if (e.sum == 0) {
            continue;
        }
        coefs.push_back(to_int32(e.sum));
        for (std::size_t w = 0; w < words; ++w) {
            keys.push_back(lw[e.left * words + w] + rw[e.right * words + w]);
        }
    }
}

// Free slots have kEmpty for an index; their key words are never read, so only the index words
// are written. The array may be larger than the table: it keeps its room between products.
template <std::size_t W>
void PairTable::clear(std::size_t capacity) {
    constexpr std::size_t stride = W + 1;
    if (room_ < capacity * stride) {
        room_ = capacity * stride;
        slots_ = std::make_unique_for_overwrite<std::uint64_t[]>(room_);
    }
    for (std::size_t i = 0; i < capacity; ++i) {
        slots_[i * stride + W] = kEmpty;
    }
    mask_ = capacity - 1;
}

template <std::size_t W>
void PairTable::grow() {
    const std::size_t stride = W + 1;
    const std::size_t old_capacity = mask_ + 1;
    std::vector<std::uint64_t> live;  // the occupied slots
    live.reserve(entries_.size() * stride);
    for (std::size_t i = 0; i < old_capacity; ++i) {
        const std::uint64_t* s = &slots_[i * stride];
        if (s[W] != kEmpty) {
            live.insert(live.end(), s, s + stride);
        }
    }
    const std::size_t capacity = 2 * old_capacity;
    clear<W>(capacity);
    const auto shift = static_cast<unsigned>(64 - std::countr_zero(capacity));
    for (std::size_t k = 0; k < live.size(); k += stride) {
        const std::uint64_t* s = &live[k];
        std::size_t at = slot_of<W>(s, shift);
        while (slots_[at * stride + W] != kEmpty) {
            at = (at + 1) & mask_;
        }
        std::copy(s, s + stride, &slots_[at * stride]);
    }
}

// For a square, the first occurrence of a monomial in the full order is its least pair, which
// has i <= j, so entries are met in the same order, and the other half only doubles the sums.
template <std::size_t W>
void PairTable::collect_in(const std::uint64_t* lw, const int* lc, std::size_t left_count,
                           const std::uint64_t* rw, const int* rc, std::size_t right_count,
                           bool square) {
    constexpr std::size_t stride = W + 1;

    entries_.clear();
    const std::size_t pairs = square ? left_count * (left_count + 1) / 2 : left_count * right_count;
    // Sparse products keep most of their pairs; dense ones collect far fewer entries. Products
    // of two different sums are more often sparse, and a table of kRoomyGuess entries costs
    // less to clear than to grow twice.
    constexpr std::size_t kRoomyGuess = std::size_t{1} << 15;
    const std::size_t guess =
        std::min<std::size_t>(pairs, std::max({4 * (left_count + right_count) + 16, pairs / 4,
                                               square ? std::size_t{0} : kRoomyGuess}));
    const std::size_t capacity = std::bit_ceil(std::max<std::size_t>(4 * guess / 3, 2));
    clear<W>(capacity);
    auto shift = static_cast<unsigned>(64 - std::countr_zero(capacity));

    std::uint64_t key[W];
    for (std::size_t i = 0; i < left_count; ++i) {
        const std::int64_t ca = lc[i];
        if (ca == 0) {
            continue;
        }
        const std::uint64_t* ka = lw + i * W;
        for (std::size_t j = square ? i : 0; j < right_count; ++j) {
            std::int64_t product = ca * rc[j];
            if (!fits_int32(product)) {
                throw_overflow();
            }
            if (product == 0) {
                continue;
            }
            if (square && j != i) {
                product *= 2;
            }
            const std::uint64_t* kb = rw + j * W;
            for (std::size_t w = 0; w < W; ++w) {
                key[w] = ka[w] + kb[w];
            }
            std::size_t at = slot_of<W>(key, shift);
            while (true) {
                std::uint64_t* s = &slots_[at * stride];
                if (s[W] == kEmpty) {
                    std::copy(key, key + W, s);
                    s[W] = entries_.size();
                    entries_.push_back(Entry{product, static_cast<std::uint32_t>(i),
                                             static_cast<std::uint32_t>(j)});
                    if (4 * entries_.size() > 3 * (mask_ + 1)) {
                        grow<W>();
                        shift = static_cast<unsigned>(64 - std::countr_zero(mask_ + 1));
                    }
                    break;
                }
                if (std::equal(key, key + W, s)) {
                    entries_[s[W]].sum += product;
                    break;
                }
                at = (at + 1) & mask_;
            }
        }
    }
}

}  // namespace tavrelo::fast
