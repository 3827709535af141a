#include "expand/distribute.hpp"

#include <memory>

#include "core/deep_stack.hpp"
#include "core/node_pool.hpp"
#include "expand/collect.hpp"

namespace tavrelo {

ExprPtr distribute(const ExprPtr& a, const ExprPtr& b) {
    return with_stack_room([&]() -> ExprPtr {
        if (kind_of(*a) == ExprKind::Add) {
            const Add& s = as<Add>(*a);
            return make_node<Add>(distribute(s.left, b), distribute(s.right, b));
        }
        if (kind_of(*b) == ExprKind::Add) {
            const Add& s = as<Add>(*b);
            return make_node<Add>(distribute(a, s.left), distribute(a, s.right));
        }
        return make_node<Mul>(a, b);
    });
}

ExprPtr expand_power(const ExprPtr& base, int n) {
    if (n == 0) {
        return make_node<Int>(1);
    }
    if (n == 1) {
        return base;
    }
    const ExprPtr half = expand_power(base, n / 2);
    ExprPtr square = collect_terms(distribute(half, half));
    if (n % 2 == 1) {
        return collect_terms(distribute(square, base));
    }
    return square;
}

namespace {

template <class Node>
ExprPtr rebuild_unary(const Expr& e) {
    return make_node<Node>(expand_simplified_reference(as<Node>(e).operand));
}

}  // namespace

ExprPtr expand_simplified_reference(const ExprPtr& s) {
    return with_stack_room([&]() -> ExprPtr {
        const Expr& e = *s;
        switch (kind_of(e)) {
        case ExprKind::Neg:
            return collect_terms(make_node<Neg>(expand_simplified_reference(as<Neg>(e).operand)));
        case ExprKind::Add: {
            ExprPtr left = expand_simplified_reference(as<Add>(e).left);
            ExprPtr right = expand_simplified_reference(as<Add>(e).right);
            return collect_terms(make_node<Add>(std::move(left), std::move(right)));
        }
        case ExprKind::Mul: {
            const ExprPtr left = expand_simplified_reference(as<Mul>(e).left);
            const ExprPtr right = expand_simplified_reference(as<Mul>(e).right);
            return collect_terms(distribute(left, right));
        }
        case ExprKind::Pow: {
            const Pow& p = as<Pow>(e);
            ExprPtr base = expand_simplified_reference(p.base);
            if (kind_of(*p.exp) == ExprKind::Int && as<Int>(*p.exp).value >= 0) {
                return collect_terms(expand_power(base, as<Int>(*p.exp).value));
            }
            return make_node<Pow>(std::move(base), p.exp);
        }
        case ExprKind::Sqrt: return rebuild_unary<Sqrt>(e);
        case ExprKind::Cbrt: return rebuild_unary<Cbrt>(e);
        case ExprKind::Sin: return rebuild_unary<Sin>(e);
        case ExprKind::Cos: return rebuild_unary<Cos>(e);
        case ExprKind::Tan: return rebuild_unary<Tan>(e);
        case ExprKind::Log: return rebuild_unary<Log>(e);
        default: return s;
        }
    });
}

}  // namespace tavrelo
