// Entry point of the simplifier: children first, left before right, then the rule list of the
// node's kind.
#include "simplify/simplify.hpp"

#include <utility>

#include "core/rebuild.hpp"
#include "simplify/rules.hpp"

namespace tavrelo {
namespace {

// The rule list of a kind with children, given the simplified children (`b` only for binary).
ExprPtr apply_rules(ExprKind kind, ExprPtr&& a, ExprPtr&& b) {
    switch (kind) {
    case ExprKind::Neg: return detail::neg_rules(std::move(a));
    case ExprKind::Sqrt: return detail::sqrt_rules(std::move(a));
    case ExprKind::Cbrt: return detail::cbrt_rules(std::move(a));
    case ExprKind::Sin:
    case ExprKind::Cos:
    case ExprKind::Tan: return detail::trig_rules(kind, std::move(a));
    case ExprKind::Log: return detail::log_rules(std::move(a));
    case ExprKind::Add: return detail::add_rules(std::move(a), std::move(b));
    case ExprKind::Mul: return detail::mul_rules(std::move(a), std::move(b));
    case ExprKind::Div: return detail::div_rules(std::move(a), std::move(b));
    case ExprKind::Pow: return detail::pow_rules(std::move(a), std::move(b));
    default: return nullptr;  // leaves and constants never get here
    }
}

}  // namespace

ExprPtr simplify(ExprPtr expr) {
    if (!expr) {
        return expr;
    }
    return rebuild_bottom_up(expr, apply_rules);
}

bool is_int_value(const ExprPtr& e, int n) {
    return kind_of(*e) == ExprKind::Int && as<Int>(*e).value == n;
}

}  // namespace tavrelo
