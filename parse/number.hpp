// Decimal numbers as exact fractions, shared by both lexers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tavrelo::reading {

struct Number {
    std::uint64_t num = 0;  // in lowest terms
    std::uint64_t den = 1;
    bool decimal = false;    // written with a point or an exponent
    bool too_large = false;  // num beyond 2^31 or den beyond 2^31 - 1
    std::size_t end = 0;     // first byte after it
};

// Reads digits [. digits] [e [+-] digits] from text[i] (exponent only when `exponent`); in
// LaTeX, spaces between digits are skipped as TeX does (`spaces`).
[[nodiscard]] Number read_number(std::string_view text, std::size_t i, bool exponent, bool spaces);

}  // namespace tavrelo::reading
