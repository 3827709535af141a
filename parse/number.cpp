#include "number.hpp"

#include <numeric>

#include "text.hpp"

namespace tavrelo::reading {
namespace {

constexpr std::uint64_t kLimit = std::uint64_t{1} << 31;

// Appends digits to `digits` (as a value, saturating past 19 significant digits).
struct Digits {
    std::uint64_t value = 0;
    int significant = 0;  // digits after leading zeros
    int after_point = 0;  // digits after the decimal point
    bool saturated = false;

    void add(char c, bool fraction) {
        if (fraction) {
            ++after_point;
        }
        if (value == 0 && c == '0') {
            return;
        }
        if (significant >= 19) {
            saturated = true;
            return;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        ++significant;
    }
};

std::size_t skip_spaces(std::string_view t, std::size_t i, bool spaces) {
    if (!spaces) {
        return i;
    }
    std::size_t j = i;
    while (j < t.size() && is_space(t[j])) {
        ++j;
    }
    return j;
}

}  // namespace

Number read_number(std::string_view t, std::size_t i, bool exponent, bool spaces) {
    // The common case: a plain integer of a few digits.
    std::size_t j = i;
    std::uint64_t v = 0;
    while (j < t.size() && j - i < 10 && is_digit(t[j])) {
        v = v * 10 + static_cast<std::uint64_t>(t[j] - '0');
        ++j;
    }
    const bool more =
        j < t.size() && (is_digit(t[j]) || t[j] == '.' ||
                         (exponent && (t[j] == 'e' || t[j] == 'E')) || (spaces && is_space(t[j])));
    if (j > i && !more) {
        Number n;
        n.num = v;
        n.end = j;
        n.too_large = v > kLimit;
        return n;
    }
    Digits d;
    Number n;
    bool point = false;
    std::size_t end = i;
    while (true) {
        const std::size_t j = end == i ? i : skip_spaces(t, end, spaces);
        if (j < t.size() && is_digit(t[j])) {
            d.add(t[j], point);
            end = j + 1;
        } else if (!point && j < t.size() && t[j] == '.' && j + 1 < t.size() &&
                   is_digit(t[j + 1])) {
            point = true;
            end = j + 1;
        } else if (!point && j < t.size() && t[j] == '.' && j == end && end > i) {
            point = true;  // "2." as in Python
            end = j + 1;
        } else {
            break;
        }
    }
    n.decimal = point;
    std::int64_t power = -d.after_point;
    if (exponent && end < t.size() && (t[end] == 'e' || t[end] == 'E')) {
        std::size_t j = end + 1;
        bool minus = false;
        if (j < t.size() && (t[j] == '+' || t[j] == '-')) {
            minus = t[j] == '-';
            ++j;
        }
        if (j < t.size() && is_digit(t[j])) {
            std::int64_t e = 0;
            while (j < t.size() && is_digit(t[j])) {
                e = e < 100000 ? e * 10 + (t[j] - '0') : e;
                ++j;
            }
            power += minus ? -e : e;
            n.decimal = true;
            end = j;
        }
    }
    n.end = end;
    if (d.value == 0) {
        return n;  // zero, however written
    }
    if (d.saturated) {
        n.too_large = true;
        return n;
    }
    std::uint64_t num = d.value;
    while (num % 10 == 0 && power < 0) {
        num /= 10;
        ++power;
    }
    std::uint64_t den = 1;
    for (; power > 0; --power) {
        if (num > kLimit) {
            break;
        }
        num *= 10;
    }
    for (; power < 0; ++power) {
        if (den >= kLimit) {
            break;
        }
        den *= 10;
    }
    if (power != 0) {
        n.too_large = true;
        return n;
    }
    const std::uint64_t g = std::gcd(num, den);
    n.num = num / g;
    n.den = den / g;
    n.too_large = n.num > kLimit || n.den >= kLimit;
    return n;
}

}  // namespace tavrelo::reading
