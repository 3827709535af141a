// What the lexers hand the readers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "words.hpp"

namespace tavrelo::reading {

enum class Tok : unsigned char {
    End,
    Number,  // num/den, `decimal` when written with a point or an exponent
    Name,    // `text`
    Pi,
    E,
    Function,  // `function`
    Plus,
    Minus,
    Times,   // * \cdot \times × ·
    Divide,  // / \div ÷
    Power,   // ^ **
    LParen,
    RParen,
    LeftParen,     // \left(
    RightParen,    // \right)
    LBracket,      // [
    RBracket,      // ]
    LeftBracket,   // \left[
    RightBracket,  // \right]
    LBrace,
    RBrace,
    Frac,  // \frac \dfrac \tfrac
    Sqrt,  // \sqrt
};

struct Token {
    Tok kind = Tok::End;
    std::size_t begin = 0;  // bytes of the text it spans
    std::size_t end = 0;
    std::uint64_t num = 0;  // Number: the exact value num/den, in lowest terms
    std::uint64_t den = 1;
    bool decimal = false;
    std::string_view text;  // Name
    Function function = Function::Sin;
};

}  // namespace tavrelo::reading
