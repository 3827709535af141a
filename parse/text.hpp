// Characters as both readers see them: UTF-8 decoding and the classes of characters.
#pragma once

#include <cstddef>
#include <string_view>

namespace tavrelo::reading {

[[nodiscard]] constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }
[[nodiscard]] constexpr bool is_ascii_letter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
[[nodiscard]] constexpr bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

struct CodePoint {
    char32_t value = 0;
    std::size_t length = 0;  // 0: not valid UTF-8 here
};

// The code point that starts at s[i] (which must be a byte of 0x80 or more).
[[nodiscard]] CodePoint decode(std::string_view s, std::size_t i);

// Non-ASCII characters that mean something of their own; every other one is a letter.
enum class Symbol : unsigned char { Letter, Pi, Times, Divide, Minus, Space };
[[nodiscard]] Symbol symbol_of(char32_t c);

// Columns a code point takes in a terminal (2 for East Asian wide characters).
[[nodiscard]] int display_width(char32_t c);

}  // namespace tavrelo::reading
