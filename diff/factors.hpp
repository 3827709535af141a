// Products of factors without their numeric coefficients: equal bases merge (x x^2 is x^3),
// factors with the same base above and below a fraction bar cancel, and factors stand in the
// order a teacher writes them. An empty handle stands for the factor 1.
#pragma once

#include <cstdint>

#include "core/expr.hpp"

namespace tavrelo::textbook {

// x * y: merges factors of y into x where the bases agree, else writes them side by side,
// polynomial-like factors before functions (x\cos(x), not \cos(x)x).
[[nodiscard]] ExprPtr multiply_factors(const ExprPtr& x, const ExprPtr& y);

// num / den with common bases cancelled; either may become empty.
void cancel_factors(ExprPtr& num, ExprPtr& den);

// base^k for an integer k != 0, folding (b^j)^k, sqrt(b)^2, cbrt(b)^3 and (-b)^2.
[[nodiscard]] ExprPtr power(const ExprPtr& base, std::int64_t k);

// Structural equality of two possibly empty trees (empty equals empty).
[[nodiscard]] bool same_tree(const ExprPtr& a, const ExprPtr& b);

}  // namespace tavrelo::textbook
