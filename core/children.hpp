// The child handles of a node, in their positional order, for walks that treat every class alike.
#pragma once

#include "expr.hpp"

namespace tavrelo {

// Unary nodes fill `first` only; leaves and constants have no children.
struct Children {
    const ExprPtr* first = nullptr;
    const ExprPtr* second = nullptr;
};

[[nodiscard]] inline Children children_of(const Expr& e) {
    switch (kind_of(e)) {
    case ExprKind::Neg: return {&as<Neg>(e).operand};
    case ExprKind::Sqrt: return {&as<Sqrt>(e).operand};
    case ExprKind::Cbrt: return {&as<Cbrt>(e).operand};
    case ExprKind::Sin: return {&as<Sin>(e).operand};
    case ExprKind::Cos: return {&as<Cos>(e).operand};
    case ExprKind::Tan: return {&as<Tan>(e).operand};
    case ExprKind::Log: return {&as<Log>(e).operand};
    case ExprKind::Add: return {&as<Add>(e).left, &as<Add>(e).right};
    case ExprKind::Mul: return {&as<Mul>(e).left, &as<Mul>(e).right};
    case ExprKind::Div: return {&as<Div>(e).num, &as<Div>(e).den};
    case ExprKind::Pow: return {&as<Pow>(e).base, &as<Pow>(e).exp};
    default: return {};
    }
}

}  // namespace tavrelo
