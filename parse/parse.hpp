// Readers of expressions: typed math (calculator and Python syntax) and LaTeX. Both build the
// tree the text spells, in source order, without evaluating anything.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

#include "core/expr.hpp"

namespace tavrelo {

struct ParseOptions {
    // false: a run of letters and digits is one name, as in Python (`xy`, `x2`, `theta`).
    // true: it is a product of one-letter names, as on paper (`2xy` is 2·x·y); a letter keeps
    // the digits that follow it (`x2`), and function names and `pi` are still recognised.
    bool split_letters = false;
};

// Bad input: says what is wrong and where, with the text and a caret under the place. The
// message starts with "構文エラー", or with "整数オーバーフローエラー" for an integer outside
// signed 32 bits. It is an std::invalid_argument, like the library's other errors.
class ParseError : public std::invalid_argument {
public:
    ParseError(std::string_view text, std::size_t offset, std::string_view reason,
               bool overflow = false);

    // Bytes of the text before the place.
    [[nodiscard]] std::size_t offset() const noexcept { return offset_; }
    // Characters (code points) before the place: the index in a Python str.
    [[nodiscard]] std::size_t position() const noexcept { return position_; }

private:
    std::size_t offset_;
    std::size_t position_;
};

// Typed math: `2x^2 - 3*sqrt(x)/2 + exp(-x)`, `x**2*y + pi*E`. Throws ParseError.
[[nodiscard]] ExprPtr parse(std::string_view text, const ParseOptions& options = {});

// LaTeX: everything to_string writes, and the LaTeX people type (`\frac{1}{2}`, `\sin^2 x`,
// `\sqrt[3]{x}`, `x_{12}`, `\theta`). For every tree e whose names are names this reader
// gives, parse_latex(e.to_string())->to_string() == e.to_string(). Throws ParseError.
[[nodiscard]] ExprPtr parse_latex(std::string_view text, const ParseOptions& options = {});

}  // namespace tavrelo
