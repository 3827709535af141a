// Multiplying out: products over sums, and powers by repeated squaring.
#pragma once

#include "core/expr.hpp"

namespace tavrelo {

// a times b, multiplied out over the Add chains at the top of both (a-major); not collected.
[[nodiscard]] ExprPtr distribute(const ExprPtr& a, const ExprPtr& b);

// The collected n-th power of an expanded base, n >= 0, collecting after every product.
[[nodiscard]] ExprPtr expand_power(const ExprPtr& base, int n);

// The expansion of a tree whose every subtree is already simplified, by the operations above:
// the reference that the fast engine is checked against.
[[nodiscard]] ExprPtr expand_simplified_reference(const ExprPtr& s);

}  // namespace tavrelo
