// Positional structural equality, walked with an explicit stack so depth costs heap, not stack.
#include <utility>
#include <vector>

#include "expr.hpp"

namespace tavrelo {
namespace {

// Children of a node in comparison order; unary nodes have one, constants and leaves none.
struct Children {
    const Expr* first = nullptr;
    const Expr* second = nullptr;
};

Children children_of(const Expr& e) {
    switch (kind_of(e)) {
    case ExprKind::Neg: return {as<Neg>(e).operand.get()};
    case ExprKind::Sqrt: return {as<Sqrt>(e).operand.get()};
    case ExprKind::Cbrt: return {as<Cbrt>(e).operand.get()};
    case ExprKind::Sin: return {as<Sin>(e).operand.get()};
    case ExprKind::Cos: return {as<Cos>(e).operand.get()};
    case ExprKind::Tan: return {as<Tan>(e).operand.get()};
    case ExprKind::Log: return {as<Log>(e).operand.get()};
    case ExprKind::Add: return {as<Add>(e).left.get(), as<Add>(e).right.get()};
    case ExprKind::Mul: return {as<Mul>(e).left.get(), as<Mul>(e).right.get()};
    case ExprKind::Div: return {as<Div>(e).num.get(), as<Div>(e).den.get()};
    case ExprKind::Pow: return {as<Pow>(e).base.get(), as<Pow>(e).exp.get()};
    default: return {};
    }
}

bool same_leaf(const Expr& a, const Expr& b) {
    switch (kind_of(a)) {
    case ExprKind::Int: return as<Int>(a).value == as<Int>(b).value;
    case ExprKind::Var: return as<Var>(a).name == as<Var>(b).name;
    case ExprKind::Rational:
        return as<Rational>(a).num == as<Rational>(b).num &&
               as<Rational>(a).den == as<Rational>(b).den;
    default: return true;
    }
}

}  // namespace

bool structurally_equal(const Expr& a, const Expr& b) {
    std::vector<std::pair<const Expr*, const Expr*>> pending;
    const Expr* x = &a;
    const Expr* y = &b;
    for (;;) {
        if (x != y) {
            if (x->kind() != y->kind() || !same_leaf(*x, *y)) {
                return false;
            }
            const Children cx = children_of(*x);
            const Children cy = children_of(*y);
            if (cx.second != nullptr) {
                pending.emplace_back(cx.second, cy.second);
            }
            if (cx.first != nullptr) {
                x = cx.first;
                y = cy.first;
                continue;
            }
        }
        if (pending.empty()) {
            return true;
        }
        std::tie(x, y) = pending.back();
        pending.pop_back();
    }
}

}  // namespace tavrelo
