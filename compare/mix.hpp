// The 64-bit mixing step behind structural hashes and the checksum of the binary format. Both are
// stored or compared across processes and machines, so this function is fixed for good.
#pragma once

#include <cstdint>

namespace tavrelo::detail {

// The finaliser of SplitMix64: a bijection on 64-bit words in which every input bit changes
// about half of the output bits.
[[nodiscard]] constexpr std::uint64_t mix64(std::uint64_t x) noexcept {
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ULL;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebULL;
    x ^= x >> 31;
    return x;
}

// Folds one word into a running hash; the order of the words matters.
[[nodiscard]] constexpr std::uint64_t absorb(std::uint64_t h, std::uint64_t word) noexcept {
    return mix64(h ^ word);
}

}  // namespace tavrelo::detail
