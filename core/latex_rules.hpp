// The rules of the LaTeX text that more than one writer needs: the renderer, the size bound,
// the compressed texts of long results and the expander's keys must agree on them byte for byte.
#pragma once

#include <cstdint>
#include <string_view>

#include "expr.hpp"

namespace tavrelo::latex {

[[nodiscard]] constexpr bool is_ascii_letter(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
[[nodiscard]] constexpr bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

// How a factor's text ends, as far as the next factor beside it cares.
enum class Join : std::uint8_t { None, DigitEnd, ControlWordEnd };

// Factors that sit side by side in a product need a separator when their texts would run
// together: digits into digits ("2 \cdot 3"), or a control word into letters ("\pi x").
[[nodiscard]] constexpr std::string_view separator(Join left_end, unsigned char right_first) {
    if (left_end == Join::DigitEnd && is_digit(right_first)) {
        return " \\cdot ";
    }
    if (left_end == Join::ControlWordEnd && (is_ascii_letter(right_first) || right_first >= 0x80)) {
        return " ";
    }
    return {};
}

// How `text` ends: in a digit, in a control word (a backslash, then letters), or otherwise.
[[nodiscard]] constexpr Join ending_of(std::string_view text) {
    if (text.empty()) {
        return Join::None;
    }
    if (is_digit(static_cast<unsigned char>(text.back()))) {
        return Join::DigitEnd;
    }
    std::size_t run = text.size();
    while (run > 0 && is_ascii_letter(static_cast<unsigned char>(text[run - 1]))) {
        --run;
    }
    return run < text.size() && run > 0 && text[run - 1] == '\\' ? Join::ControlWordEnd
                                                                 : Join::None;
}

// A power's base is parenthesised when it binds looser than the power, is a power itself, or
// begins with a minus sign.
[[nodiscard]] inline bool wrapped_as_power_base(const Expr& b) {
    return b.precedence() < 4 || kind_of(b) == ExprKind::Pow ||
           (kind_of(b) == ExprKind::Int && as<Int>(b).value < 0) ||
           (kind_of(b) == ExprKind::Rational && as<Rational>(b).num < 0);
}

}  // namespace tavrelo::latex
