// The pieces of the binary format that the writer and the reader share (see FORMAT.md).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "compare/mix.hpp"

namespace tavrelo::serial {

inline constexpr std::array<char, 3> kMagic{'T', 'V', 'R'};
inline constexpr std::size_t kHeaderBytes = 4;  // the magic, then the version byte
inline constexpr std::size_t kChecksumBytes = 4;

// Record tags. A node record is its kind (0-15), plus kSharedBit when later references may
// name it; its children are the values most recently completed.
inline constexpr std::uint8_t kSharedBit = 0x10;
inline constexpr std::uint8_t kReference = 0x20;
inline constexpr std::uint8_t kEnd = 0x21;

[[nodiscard]] constexpr std::uint32_t zigzag(std::int32_t v) noexcept {
    return (static_cast<std::uint32_t>(v) << 1) ^ static_cast<std::uint32_t>(v >> 31);
}

[[nodiscard]] constexpr std::int32_t unzigzag(std::uint32_t u) noexcept {
    return static_cast<std::int32_t>((u >> 1) ^ (~(u & 1) + 1));
}

// Fletcher-style sums over 4-byte little-endian words (the last padded with zero bytes), folded
// with the byte count: a changed, dropped or swapped word changes it. Fast enough to be noise
// beside building the nodes.
[[nodiscard]] inline std::uint32_t checksum(std::string_view data) noexcept {
    const auto byte = [&data](std::size_t i) {
        return std::uint64_t{static_cast<unsigned char>(data[i])};
    };
    std::uint64_t a = 1;
    std::uint64_t b = 0;
    std::size_t i = 0;
    for (; i + 4 <= data.size(); i += 4) {
        a += byte(i) | byte(i + 1) << 8 | byte(i + 2) << 16 | byte(i + 3) << 24;
        b += a;
    }
    if (i < data.size()) {
        std::uint64_t word = 0;
        for (std::size_t k = 0; i + k < data.size(); ++k) {
            word |= byte(i + k) << (8 * k);
        }
        a += word;
        b += a;
    }
    using detail::absorb;
    return static_cast<std::uint32_t>(absorb(absorb(detail::mix64(data.size()), a), b));
}

}  // namespace tavrelo::serial
