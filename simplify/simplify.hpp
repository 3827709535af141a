// Simplification: integer folding, neutral and absorbing elements, roots, trigonometric values
// and logarithms at special arguments, and the domain errors.
#pragma once

#include "core/expr.hpp"

namespace tavrelo {

// An empty handle gives an empty handle; the input is never changed.
[[nodiscard]] ExprPtr simplify(ExprPtr expr);

// True when simplify would give back the same tree, checked without building anything (see
// fixed_point.cpp); may say false for some simplified trees, never true for others.
[[nodiscard]] bool is_simplified(const ExprPtr& root);

// True when `e` is an Int of value `n`.
[[nodiscard]] bool is_int_value(const ExprPtr& e, int n);

// base ** exp for exp >= 0 (0 for exp < 0); exact, or the overflow error.
[[nodiscard]] int int_pow(int base, int exp);

}  // namespace tavrelo
