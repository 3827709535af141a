// The rules of the LaTeX text in one place: the pieces each node's text is made of, where
// parentheses go, and what stands between two factors written side by side. The renderer, the
// size bound, the compressed texts of long results and the expander's keys are all built on
// these, so they agree byte for byte.
#pragma once

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

#include "expr.hpp"

namespace tavrelo::latex {

inline constexpr std::string_view kOpen = "\\left(";
inline constexpr std::string_view kClose = "\\right)";
inline constexpr std::string_view kPowerOpen = "^{";
inline constexpr std::string_view kGroupClose = "}";
inline constexpr std::string_view kFracOpen = "\\frac{";
inline constexpr std::string_view kFracMiddle = "}{";
inline constexpr std::string_view kPlus = " + ";
inline constexpr std::string_view kMinus = " - ";
inline constexpr std::string_view kSign = "-";
inline constexpr std::string_view kCdot = " \\cdot ";
inline constexpr std::string_view kSqrtOpen = "\\sqrt{";
inline constexpr std::string_view kCbrtOpen = "\\sqrt[3]{";
inline constexpr std::string_view kSinOpen = "\\sin\\left(";
inline constexpr std::string_view kCosOpen = "\\cos\\left(";
inline constexpr std::string_view kTanOpen = "\\tan\\left(";
inline constexpr std::string_view kLnOpen = "\\ln\\left(";
inline constexpr std::string_view kPi = "\\pi";
inline constexpr std::string_view kE = "e";

// Where a child stands, as the least precedence it keeps without parentheses.
inline constexpr Precedence kAnywhere = Precedence::Sum;      // never wrapped
inline constexpr Precedence kNegated = Precedence::Negation;  // a sum is wrapped
inline constexpr Precedence kFactor = Precedence::Product;    // a sum or a negation is wrapped

[[nodiscard]] inline bool wrapped_at(const Expr& child, Precedence least) {
    return child.precedence() < static_cast<int>(least);
}

// A power's base is wrapped when it binds looser than the power, is a power itself, or begins
// with a minus sign.
[[nodiscard]] inline bool wrapped_as_power_base(const Expr& b) {
    return wrapped_at(b, Precedence::Power) || kind_of(b) == ExprKind::Pow ||
           (kind_of(b) == ExprKind::Int && as<Int>(b).value < 0) ||
           (kind_of(b) == ExprKind::Rational && as<Rational>(b).num < 0);
}

[[nodiscard]] constexpr bool is_ascii_letter(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
[[nodiscard]] constexpr bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

// How a text ends, as far as a factor written after it cares.
enum class Ending : std::uint8_t { Other, Digit, ControlWord };

// `last`: the last byte of a non-empty text; `letters_after_backslash`: the text ends in a run
// of ASCII letters that follows a backslash.
[[nodiscard]] constexpr Ending ending(unsigned char last, bool letters_after_backslash) {
    return is_digit(last)            ? Ending::Digit
           : letters_after_backslash ? Ending::ControlWord
                                     : Ending::Other;
}

[[nodiscard]] constexpr Ending ending_of(std::string_view text) {
    if (text.empty()) {
        return Ending::Other;
    }
    std::size_t run = text.size();
    while (run > 0 && is_ascii_letter(static_cast<unsigned char>(text[run - 1]))) {
        --run;
    }
    return ending(static_cast<unsigned char>(text.back()),
                  run < text.size() && run > 0 && text[run - 1] == '\\');
}

// What stands between two factors written side by side, decided by how the left text ends and
// the first byte of the right one (a right text that is empty needs nothing). Digits would run
// together; a control word would swallow the letters after it; a minus sign would read as a
// subtraction, so the right factor goes in parentheses.
enum class Join : std::uint8_t { Nothing, Cdot, Space, Parentheses };

[[nodiscard]] constexpr Join join(Ending left, unsigned char right_first) {
    if (right_first == '-') {
        return Join::Parentheses;
    }
    if (left == Ending::Digit && is_digit(right_first)) {
        return Join::Cdot;
    }
    if (left == Ending::ControlWord && (is_ascii_letter(right_first) || right_first >= 0x80)) {
        return Join::Space;
    }
    return Join::Nothing;
}

// What a join writes before the right factor (Parentheses also closes it with kClose).
[[nodiscard]] constexpr std::string_view before_right(Join j) {
    switch (j) {
    case Join::Cdot: return kCdot;
    case Join::Space: return " ";
    case Join::Parentheses: return kOpen;
    default: return {};
    }
}

// Appends `right` to the text `left` as the right factor of a side-by-side product.
inline void append_right_factor(std::string& left, std::string_view right) {
    if (right.empty()) {
        return;
    }
    const Join j = join(ending_of(left), static_cast<unsigned char>(right.front()));
    left += before_right(j);
    left += right;
    if (j == Join::Parentheses) {
        left += kClose;
    }
}

// A plain name: one ASCII letter, then digits. Its text is itself, and a product of powers of
// plain names is written piece after piece with nothing between: every piece begins with a
// letter, and none ends in a control word.
[[nodiscard]] constexpr bool is_plain_name(std::string_view name) {
    if (name.empty() || !is_ascii_letter(static_cast<unsigned char>(name.front()))) {
        return false;
    }
    for (const char c : name.substr(1)) {
        if (!is_digit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}
static_assert(join(Ending::Other, 'x') == Join::Nothing &&
              join(Ending::Digit, 'x') == Join::Nothing);

// The most bytes a power of a plain name adds to its name: "^{", a 32-bit exponent, "}".
inline constexpr std::size_t kLongestPlainExponent = 14;

// Writes the text of a plain name to the power `exp` (>= 1) at `out`, which has room for the
// name and kLongestPlainExponent more bytes; returns the end.
inline char* write_plain_power(char* out, std::string_view name, int exp) {
    // Names are a few bytes: a plain loop beats a call to the library's copy.
    for (const char c : name) {
        *out++ = c;
    }
    if (exp != 1) {
        *out++ = kPowerOpen[0];
        *out++ = kPowerOpen[1];
        out = std::to_chars(out, out + 11, exp).ptr;
        *out++ = kGroupClose[0];
    }
    return out;
}

// The right operand of a sum: a negation, or a negative number (written as " - " and its
// magnitude), turns the sum into a subtraction.
enum class SumRight : std::uint8_t { Negation, NegativeNumber, Plus };

[[nodiscard]] inline SumRight sum_right(const Expr& r) {
    switch (kind_of(r)) {
    case ExprKind::Neg: return SumRight::Negation;
    case ExprKind::Int: return as<Int>(r).value < 0 ? SumRight::NegativeNumber : SumRight::Plus;
    case ExprKind::Rational:
        return as<Rational>(r).num < 0 ? SumRight::NegativeNumber : SumRight::Plus;
    default: return SumRight::Plus;
    }
}

// How a product is written: a unit factor is left out (-1 as a sign before the other), two
// numbers are kept apart by " \cdot ", and other factors stand side by side (see `join`).
enum class ProductForm : std::uint8_t { Negated, RightOnly, LeftOnly, Dotted, SideBySide };

[[nodiscard]] inline ProductForm product_form(const Mul& m) {
    const auto is_int = [](const Expr& x, int v) {
        return kind_of(x) == ExprKind::Int && as<Int>(x).value == v;
    };
    if (is_int(*m.left, -1)) {
        return ProductForm::Negated;
    }
    if (is_int(*m.left, 1)) {
        return ProductForm::RightOnly;
    }
    if (is_int(*m.right, 1)) {
        return ProductForm::LeftOnly;
    }
    if (m.left->is_number() && m.right->is_number()) {
        return ProductForm::Dotted;
    }
    return ProductForm::SideBySide;
}

// The pieces of the text of `e` without outer parentheses, in order, as calls on `sink`:
//   literal(text)            fixed bytes, or a Var's name
//   integer(v)               the decimal form of v (64-bit: the magnitude of -2^31 fits)
//   child(node, least)       the text of a child, in parentheses when wrapped_at(node, least)
//   side_by_side(product)    the two factors of `product`, each at kFactor, joined by `join`
template <class Sink>
void describe(const Expr& e, Sink& sink) {
    const auto fraction = [&](std::int64_t num, std::int64_t den) {
        sink.literal(kFracOpen);
        sink.integer(num);
        sink.literal(kFracMiddle);
        sink.integer(den);
        sink.literal(kGroupClose);
    };
    // Wide arithmetic: the magnitude of -2^31 is written exactly.
    const auto magnitude = [&](const Expr& number) {
        if (kind_of(number) == ExprKind::Int) {
            sink.integer(-std::int64_t{as<Int>(number).value});
        } else if (as<Rational>(number).den == 1) {
            sink.integer(-std::int64_t{as<Rational>(number).num});
        } else {
            fraction(-std::int64_t{as<Rational>(number).num}, as<Rational>(number).den);
        }
    };
    const auto around = [&](std::string_view open, const ExprPtr& operand, std::string_view close) {
        sink.literal(open);
        sink.child(operand, kAnywhere);
        sink.literal(close);
    };
    switch (kind_of(e)) {
    case ExprKind::Int: sink.integer(as<Int>(e).value); return;
    case ExprKind::Var: sink.literal(as<Var>(e).name); return;
    case ExprKind::Rational: {
        const Rational& q = as<Rational>(e);
        if (q.den == 1) {
            sink.integer(q.num);
        } else if (q.num < 0) {
            sink.literal(kSign);
            magnitude(q);
        } else {
            fraction(q.num, q.den);
        }
        return;
    }
    case ExprKind::Neg:
        sink.literal(kSign);
        sink.child(as<Neg>(e).operand, kNegated);
        return;
    case ExprKind::Add: {
        const Add& a = as<Add>(e);
        sink.child(a.left, kAnywhere);
        switch (sum_right(*a.right)) {
        case SumRight::Negation:
            sink.literal(kMinus);
            sink.child(as<Neg>(*a.right).operand, kNegated);
            return;
        case SumRight::NegativeNumber:
            sink.literal(kMinus);
            magnitude(*a.right);
            return;
        case SumRight::Plus:
            sink.literal(kPlus);
            sink.child(a.right, kAnywhere);
            return;
        }
        return;
    }
    case ExprKind::Mul: {
        const Mul& m = as<Mul>(e);
        switch (product_form(m)) {
        case ProductForm::Negated:
            sink.literal(kSign);
            sink.child(m.right, kFactor);
            return;
        case ProductForm::RightOnly: sink.child(m.right, kFactor); return;
        case ProductForm::LeftOnly: sink.child(m.left, kFactor); return;
        case ProductForm::Dotted:
            sink.child(m.left, kFactor);
            sink.literal(kCdot);
            sink.child(m.right, kFactor);
            return;
        case ProductForm::SideBySide: sink.side_by_side(m); return;
        }
        return;
    }
    case ExprKind::Div:
        sink.literal(kFracOpen);
        sink.child(as<Div>(e).num, kAnywhere);
        sink.literal(kFracMiddle);
        sink.child(as<Div>(e).den, kAnywhere);
        sink.literal(kGroupClose);
        return;
    case ExprKind::Pow: {
        const Pow& p = as<Pow>(e);
        if (wrapped_as_power_base(*p.base)) {
            around(kOpen, p.base, kClose);
        } else {
            sink.child(p.base, kAnywhere);
        }
        around(kPowerOpen, p.exp, kGroupClose);
        return;
    }
    case ExprKind::Sqrt: around(kSqrtOpen, as<Sqrt>(e).operand, kGroupClose); return;
    case ExprKind::Cbrt: around(kCbrtOpen, as<Cbrt>(e).operand, kGroupClose); return;
    // A function's argument is always in parentheses.
    case ExprKind::Sin: around(kSinOpen, as<Sin>(e).operand, kClose); return;
    case ExprKind::Cos: around(kCosOpen, as<Cos>(e).operand, kClose); return;
    case ExprKind::Tan: around(kTanOpen, as<Tan>(e).operand, kClose); return;
    case ExprKind::Log: around(kLnOpen, as<Log>(e).operand, kClose); return;
    case ExprKind::Pi: sink.literal(kPi); return;
    case ExprKind::E: sink.literal(kE); return;
    }
}

}  // namespace tavrelo::latex
