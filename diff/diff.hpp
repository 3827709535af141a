// Derivatives of expression trees, simplified and written in textbook form.
#pragma once

#include <functional>
#include <string_view>

#include "core/expr.hpp"

namespace tavrelo {

// The order-th derivative of `expr` with respect to the variable named `var`; order 0 gives
// simplify(expr) and an empty handle gives an empty handle. The tree is simplified first, so
// its errors are the simplifier's; an exact integer of the result that leaves signed 32 bits is
// the overflow error. A negative order throws std::invalid_argument. `before_step`, when given,
// is called before each derivative is taken and may throw to stop the call (for interrupts).
[[nodiscard]] ExprPtr diff(ExprPtr expr, std::string_view var, int order = 1,
                           const std::function<void()>& before_step = {});

// One derivative of a tree that is already simplified (a result of simplify or of diff): the
// steps diff takes after its first simplify. A variable that does not occur gives Int(0).
[[nodiscard]] ExprPtr diff_simplified(const ExprPtr& simplified, std::string_view var);

}  // namespace tavrelo
