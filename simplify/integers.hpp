// Exact 32-bit integer helpers of the simplifier: powers, square factors and cube roots.
#pragma once

#include <cstdint>
#include <optional>

namespace tavrelo::detail {

// base ** exp exactly (exp >= 0, as wide as a negated 32-bit exponent needs), or the overflow
// error when the result does not fit signed 32 bits.
[[nodiscard]] int exact_pow(int base, std::int64_t exp);

// v = outside^2 * inside with `inside` free of square factors (v >= 1).
struct SquareSplit {
    int outside;
    int inside;
};
[[nodiscard]] SquareSplit split_square_factor(int v);

// The integer r with r^3 == v, when there is one.
[[nodiscard]] std::optional<int> exact_cube_root(int v);

}  // namespace tavrelo::detail
