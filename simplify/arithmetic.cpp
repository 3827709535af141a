// Rule lists of negation, sums, products, quotients and powers.
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <utility>

#include "core/checked_int.hpp"
#include "core/node_pool.hpp"
#include "simplify/integers.hpp"
#include "simplify/rules.hpp"
#include "simplify/simplify.hpp"

namespace tavrelo::detail {
namespace {

bool is_kind(const ExprPtr& e, ExprKind kind) { return kind_of(*e) == kind; }

int int_of(const ExprPtr& e) { return as<Int>(*e).value; }

ExprPtr new_int(int v) { return make_node<Int>(v); }

}  // namespace

ExprPtr neg_rules(ExprPtr s) {
    switch (kind_of(*s)) {
    case ExprKind::Neg: return as<Neg>(*s).operand;  // double negation
    case ExprKind::Int: return new_int(checked_neg(int_of(s)));
    case ExprKind::Rational: {
        const auto& q = as<Rational>(*s);
        return make_node<Rational>(checked_neg(q.num), q.den);
    }
    default: return make_node<Neg>(std::move(s));
    }
}

// Each list reads the two kinds once; the tests below compare them.

ExprPtr add_rules(ExprPtr l, ExprPtr r) {
    const ExprKind lk = kind_of(*l);
    const ExprKind rk = kind_of(*r);
    const bool l_int = lk == ExprKind::Int;
    const bool r_int = rk == ExprKind::Int;
    if (l_int && int_of(l) == 0) {
        return r;
    }
    if (r_int && int_of(r) == 0) {
        return l;
    }
    if (l_int && r_int) {
        return new_int(checked_add(int_of(l), int_of(r)));
    }
    if (lk == rk && structurally_equal(*l, *r)) {
        return make_node<Mul>(new_int(2), std::move(l));
    }
    return make_node<Add>(std::move(l), std::move(r));
}

ExprPtr mul_rules(ExprPtr l, ExprPtr r) {
    const bool l_int = kind_of(*l) == ExprKind::Int;
    const bool r_int = kind_of(*r) == ExprKind::Int;
    if ((l_int && int_of(l) == 0) || (r_int && int_of(r) == 0)) {
        return new_int(0);
    }
    if (l_int && int_of(l) == 1) {
        return r;
    }
    if (r_int && int_of(r) == 1) {
        return l;
    }
    if (l_int && r_int) {
        return new_int(checked_mul(int_of(l), int_of(r)));
    }
    return make_node<Mul>(std::move(l), std::move(r));
}

ExprPtr div_rules(ExprPtr n, ExprPtr d) {
    const ExprKind nk = kind_of(*n);
    const ExprKind dk = kind_of(*d);
    const bool n_int = nk == ExprKind::Int;
    const bool d_int = dk == ExprKind::Int;
    if (d_int && int_of(d) == 0) {
        throw std::invalid_argument("ゼロ除算エラー");
    }
    if (n_int && int_of(n) == 0) {
        return new_int(0);
    }
    if (n_int && d_int) {
        // Wide arithmetic: -2147483648 / -1 must report overflow, not trap.
        const std::int64_t a = int_of(n);
        const std::int64_t b = int_of(d);
        if (a % b == 0) {
            return new_int(to_int32(a / b));
        }
        return make_node<Rational>(int_of(n), int_of(d));
    }
    if (nk == dk && structurally_equal(*n, *d)) {
        return new_int(1);
    }
    if (dk == ExprKind::Sqrt && is_kind(as<Sqrt>(*d).operand, ExprKind::Int)) {
        // Rationalise the denominator: n / sqrt(k) = (n * sqrt(k)) / k. Both parts are already
        // simplified, so the product and quotient rules apply to them directly.
        const int k = int_of(as<Sqrt>(*d).operand);
        ExprPtr product = mul_rules(std::move(n), std::move(d));
        return div_rules(std::move(product), new_int(k));
    }
    return make_node<Div>(std::move(n), std::move(d));
}

ExprPtr pow_rules(ExprPtr b, ExprPtr x) {
    const bool b_int = kind_of(*b) == ExprKind::Int;
    const bool x_int = kind_of(*x) == ExprKind::Int;
    if (x_int && int_of(x) == 0) {
        return new_int(1);
    }
    if (x_int && int_of(x) == 1) {
        return b;
    }
    if (b_int && (int_of(b) == 0 || int_of(b) == 1)) {
        return b;
    }
    if (b_int && x_int) {
        const int e = int_of(x);
        if (e < 0) {
            // 1 / b^|e|, with |e| taken in 64 bits so that the most negative exponent works.
            return make_node<Rational>(1, exact_pow(int_of(b), -std::int64_t{e}));
        }
        return new_int(int_pow(int_of(b), e));
    }
    return make_node<Pow>(std::move(b), std::move(x));
}

}  // namespace tavrelo::detail
