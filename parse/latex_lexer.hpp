// Tokens of LaTeX math: TeX's own rules for what one token is, and the names of this library.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "builder.hpp"
#include "token.hpp"

namespace tavrelo::reading {

class LatexLexer {
public:
    LatexLexer(std::string_view text, bool split_letters, const Builder& errors)
        : t_(text), split_(split_letters), errors_(errors) {}

    [[nodiscard]] Token next();
    [[nodiscard]] Token peek();
    // One TeX argument: "{", or a single digit, letter or symbol command (x^2, \frac12).
    [[nodiscard]] Token next_argument(const char* what = "引数");
    // Whether a number follows that after \cdot can only print as a product of two numbers: a
    // fraction of two integers, or a negative number.
    [[nodiscard]] bool lone_number_follows();
    // Skips spaces; true when the next character is `c` (then consumed).
    bool take(char c);

    [[nodiscard]] std::size_t position() const { return i_; }

private:
    void skip_ignored();
    [[nodiscard]] bool integer_argument();
    [[nodiscard]] Token command(std::size_t begin, bool argument);
    [[nodiscard]] std::string_view command_word(std::size_t& j) const;
    [[nodiscard]] Token name(std::size_t begin, bool one_letter);
    [[nodiscard]] std::size_t letter_end(std::size_t j) const;  // end of the letter at j, or j
    [[nodiscard]] bool argument_follows(std::size_t j) const;
    void subscript(std::size_t name_begin, Token& tok);
    [[nodiscard]] Token number(std::size_t begin, bool one_digit);
    [[noreturn]] void fail(std::size_t pos, std::string_view reason) const {
        errors_.fail(pos, reason);
    }

    std::string_view t_;
    bool split_;
    const Builder& errors_;
    std::size_t i_ = 0;
    std::string scratch_;  // a name spelled differently from its text (x_{1} is x_1)
};

}  // namespace tavrelo::reading
