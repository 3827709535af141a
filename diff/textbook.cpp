#include "diff/textbook.hpp"

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <utility>

#include "core/checked_int.hpp"
#include "core/node_pool.hpp"
#include "diff/factors.hpp"
#include "simplify/rules.hpp"

namespace tavrelo::textbook {
namespace {

using detail::Coefficient;
using detail::is_number_node;

bool is_kind(const Expr& e, ExprKind k) { return kind_of(e) == k; }

struct Scaled {
    Coefficient coef;
    ExprPtr rest;  // empty: the number alone
};

// c * rest of a product: a number alone, or a number on either side of one factor, possibly
// under one negation.
Scaled split_product(const ExprPtr& e) {
    const ExprPtr* body = &e;
    bool negated = false;
    if (is_kind(*e, ExprKind::Neg) && !is_kind(*as<Neg>(*e).operand, ExprKind::Neg)) {
        body = &as<Neg>(*e).operand;
        negated = true;
    }
    Scaled s{Coefficient{}, *body};
    const Expr& b = **body;
    if (is_number_node(b)) {
        s = {Coefficient::of_number(b), nullptr};
    } else if (is_kind(b, ExprKind::Mul)) {
        const auto& m = as<Mul>(b);
        if (is_number_node(*m.left) && is_number_node(*m.right)) {  // the simplifier keeps 1/2 * 3
            s = {Coefficient::of_number(*m.left) * Coefficient::of_number(*m.right), nullptr};
        } else if (is_number_node(*m.left)) {
            s = {Coefficient::of_number(*m.left), m.right};
        } else if (is_number_node(*m.right)) {
            s = {Coefficient::of_number(*m.right), m.left};
        }
    }
    if (negated) {
        s.coef = -s.coef;
    }
    return s;
}

// c * rest, written with the coefficient in front and its sign outside.
ExprPtr scaled(const Coefficient& c, const ExprPtr& rest) {
    if (!rest) {
        return c.to_node();
    }
    if (c.is_one()) {
        return rest;
    }
    if (c.is_negative() && c.num() != std::numeric_limits<std::int32_t>::min()) {
        const Coefficient positive = -c;
        return detail::neg_rules(positive.is_one() ? rest
                                                   : detail::mul_rules(positive.to_node(), rest));
    }
    return detail::mul_rules(c.to_node(), rest);
}

Term of_node(ExprPtr node) {
    Term t{Coefficient{}, node, nullptr, nullptr};
    t.whole = std::move(node);
    return t;
}

// The number at the end of a sum written by this file or the simplifier (p + 2), if any.
const ExprPtr* number_tail(const Term& t) {
    if (!t.coef.is_one() || t.den || !t.num || !is_kind(*t.num, ExprKind::Add)) {
        return nullptr;
    }
    const ExprPtr& right = as<Add>(*t.num).right;
    return is_number_node(*right) ? &right : nullptr;
}

}  // namespace

Term Term::of(const ExprPtr& e) {
    Term t;
    const ExprPtr* body = &e;
    bool negated = false;
    if (is_kind(*e, ExprKind::Neg) && is_kind(*as<Neg>(*e).operand, ExprKind::Div)) {
        body = &as<Neg>(*e).operand;
        negated = true;
    }
    if (is_kind(**body, ExprKind::Div)) {
        const auto& q = as<Div>(**body);
        Scaled n = split_product(q.num);
        Scaled d = split_product(q.den);
        t = {n.coef / d.coef, std::move(n.rest), std::move(d.rest), nullptr};
    } else {
        Scaled s = split_product(e);
        t = {s.coef, std::move(s.rest), nullptr, nullptr};
    }
    if (negated) {
        t.coef = -t.coef;
    }
    t.whole = e;
    return t;
}

ExprPtr build(const Term& t) {
    if (t.is_zero()) {
        return make_node<Int>(0);
    }
    if (t.whole) {
        return t.whole;
    }
    ExprPtr num = t.num;
    ExprPtr den = t.den;
    if (num && den) {
        cancel_factors(num, den);
    }
    if (!den) {
        return scaled(t.coef, num);
    }
    const Coefficient top{t.coef.is_negative() ? -t.coef.num() : t.coef.num(), 1};
    ExprPtr quotient = detail::div_rules(scaled(top, num), scaled({t.coef.den(), 1}, den));
    return t.coef.is_negative() ? detail::neg_rules(std::move(quotient)) : quotient;
}

Term neg(Term a) {
    a.coef = -a.coef;
    a.whole = nullptr;
    return a;
}

Term add(Term a, Term b) {
    if (a.is_zero()) {
        return b;
    }
    if (b.is_zero()) {
        return a;
    }
    if (same_tree(a.num, b.num) && same_tree(a.den, b.den)) {  // like terms, numbers included
        const Coefficient sum = a.coef + b.coef;
        return sum.is_zero() ? Term::zero() : Term{sum, std::move(a.num), std::move(a.den), {}};
    }
    if (b.is_number()) {
        if (const ExprPtr* tail = number_tail(a)) {  // (p + 2) - 1 is p + 1
            return add(Term::of(as<Add>(*a.num).left),
                       Term::number(Coefficient::of_number(**tail) + b.coef));
        }
    }
    return of_node(detail::add_rules(build(a), build(b)));
}

Term sub(Term a, Term b) { return add(std::move(a), neg(std::move(b))); }

Term mul(Term a, Term b) {
    if (a.is_zero() || b.is_zero()) {
        return Term::zero();
    }
    if (b.is_one()) {
        return a;
    }
    if (a.is_one()) {
        return b;
    }
    return {a.coef * b.coef, multiply_factors(a.num, b.num), multiply_factors(a.den, b.den), {}};
}

Term div(Term a, Term b) {
    if (b.is_zero()) {
        throw std::invalid_argument("ゼロ除算エラー");
    }
    if (a.is_zero()) {
        return Term::zero();
    }
    if (b.is_one()) {
        return a;
    }
    return {a.coef / b.coef, multiply_factors(a.num, b.den), multiply_factors(a.den, b.num), {}};
}

Term power(const Term& a, std::int64_t k) {
    if (k == 1 || a.is_zero()) {
        return a;
    }
    Coefficient c{1, 1};
    if (a.coef.den() == 1 && (a.coef.num() == 1 || a.coef.num() == -1)) {
        c = k % 2 == 0 ? Coefficient{1, 1} : a.coef;
    } else {
        // |coef| >= 2 or a fraction: the power leaves 32 bits within 32 steps.
        for (std::int64_t i = 0; i < k; ++i) {
            c = c * a.coef;
            if (!fits_int32(c.num()) || !fits_int32(c.den())) {
                return Term::of(power(build(a), k));
            }
        }
    }
    return {c, a.num ? power(a.num, k) : nullptr, a.den ? power(a.den, k) : nullptr, nullptr};
}

Term square(const Term& a) { return power(a, 2); }

}  // namespace tavrelo::textbook
