// The rule lists of the simplifier. Each takes children that are already simplified, tries its
// rules in order and returns the first match: a new node, or one of the given handles.
#pragma once

#include "core/expr.hpp"

namespace tavrelo::detail {

[[nodiscard]] ExprPtr neg_rules(ExprPtr operand);
[[nodiscard]] ExprPtr add_rules(ExprPtr left, ExprPtr right);
[[nodiscard]] ExprPtr mul_rules(ExprPtr left, ExprPtr right);
[[nodiscard]] ExprPtr div_rules(ExprPtr num, ExprPtr den);
[[nodiscard]] ExprPtr pow_rules(ExprPtr base, ExprPtr exp);

[[nodiscard]] ExprPtr sqrt_rules(ExprPtr operand);
[[nodiscard]] ExprPtr cbrt_rules(ExprPtr operand);
// One list for Sin, Cos and Tan; `kind` picks the function.
[[nodiscard]] ExprPtr trig_rules(ExprKind kind, ExprPtr operand);
[[nodiscard]] ExprPtr log_rules(ExprPtr operand);

}  // namespace tavrelo::detail
