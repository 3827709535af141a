// Tokens of typed math: calculator and Python syntax.
#pragma once

#include <cstddef>
#include <string_view>

#include "builder.hpp"
#include "token.hpp"

namespace tavrelo::reading {

class TypedLexer {
public:
    TypedLexer(std::string_view text, bool split_letters, const Builder& errors)
        : t_(text), split_(split_letters), errors_(errors) {}

    [[nodiscard]] Token next();

private:
    void skip_spaces();
    [[nodiscard]] std::size_t name_char_end(std::size_t j) const;  // past the name character at j
    [[nodiscard]] bool paren_follows(std::size_t j) const;
    [[nodiscard]] Token word(std::size_t begin, std::size_t end);
    [[nodiscard]] Token split_word();
    [[noreturn]] void fail(std::size_t pos, std::string_view reason) const {
        errors_.fail(pos, reason);
    }

    std::string_view t_;
    bool split_;
    const Builder& errors_;
    std::size_t i_ = 0;
    std::size_t run_end_ = 0;  // splitting: the end of the run of letters being cut into names
};

}  // namespace tavrelo::reading
