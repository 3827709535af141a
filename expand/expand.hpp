// Expansion: multiply out products and non-negative integer powers of sums, collect like terms.
#pragma once

#include "core/expr.hpp"

namespace tavrelo {

// An empty handle gives an empty handle; errors of the simplifier pass through unchanged.
[[nodiscard]] ExprPtr expand(ExprPtr expr);

}  // namespace tavrelo
