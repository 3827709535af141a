#include "diff/rules.hpp"

#include <cstdint>
#include <limits>
#include <optional>

#include "diff/coefficient.hpp"
#include "diff/polynomial.hpp"
#include "simplify/rules.hpp"

namespace tavrelo::detail {
namespace {

using textbook::add;
using textbook::div;
using textbook::mul;
using textbook::neg;
using textbook::square;
using textbook::sub;
using textbook::Term;

Term number(int v) { return Term::number(Coefficient{v, 1}); }

// (f'g - fg') / g^2 for polynomials f and g, collected, with the factors of g's base that divide
// the numerator cancelled: d/dx x/(x+1)^2 is -(x - 1)/(x+1)^3. Nothing when f or g is not a
// polynomial or a coefficient does not fit.
struct Collected {
    Term num;
    ExprPtr den;  // empty: no denominator is left
};

std::optional<Collected> collected_quotient(const ExprPtr& f, const ExprPtr& g,
                                            const DiffContext& ctx) {
    const auto pf = Polynomial::of(*f, ctx.var);
    const auto pg = pf ? Polynomial::of(*g, ctx.var) : std::nullopt;
    if (!pg) {
        return std::nullopt;
    }
    const auto df = pf->derivative();
    const auto dg = pg->derivative();
    const auto left = df ? df->times(*pg) : std::nullopt;
    const auto right = dg ? pf->times(*dg) : std::nullopt;
    const auto minus_right = right ? right->negated() : std::nullopt;
    auto numerator = left && minus_right ? left->plus(*minus_right) : std::nullopt;
    if (!numerator) {
        return std::nullopt;
    }
    // g = h^k: the denominator is h^(2k), and each h that divides the numerator cancels.
    ExprPtr base = g;
    std::int64_t exponent = 2;
    if (kind_of(*g) == ExprKind::Pow && kind_of(*as<Pow>(*g).exp) == ExprKind::Int) {
        base = as<Pow>(*g).base;
        exponent = 2 * std::int64_t{as<Int>(*as<Pow>(*g).exp).value};
    }
    if (const auto h = base == g ? pg : Polynomial::of(*base, ctx.var)) {
        while (exponent > 0 && !numerator->is_zero()) {
            auto reduced = numerator->divided_by(*h);
            if (!reduced) {
                break;
            }
            numerator = std::move(reduced);
            --exponent;
        }
    }
    if (!numerator->fits_int32()) {
        return std::nullopt;
    }
    return Collected{numerator->to_term(ctx.var_node),
                     exponent > 0 ? textbook::power(base, exponent) : nullptr};
}

struct Fraction {
    Term num;
    Term den;
};

// For g = h^k (k >= 2) the common factor h^(k-1) of the quotient rule is left out, as a teacher
// does: (f'h - k f h') / h^(k+1), with h' read off g' = k h^(k-1) h'. Nothing when g is no such
// power or h' does not come out free of fractions.
std::optional<Fraction> reduced_quotient(const ExprPtr& f, const ExprPtr& g, const Term& df,
                                         const Term& dg) {
    if (kind_of(*g) != ExprKind::Pow || kind_of(*as<Pow>(*g).exp) != ExprKind::Int) {
        return std::nullopt;
    }
    const int k = as<Int>(*as<Pow>(*g).exp).value;
    if (k < 2 || k == std::numeric_limits<int>::max()) {
        return std::nullopt;
    }
    const ExprPtr& h = as<Pow>(*g).base;
    const Term scale{Coefficient{k, 1}, textbook::power(h, k - 1), nullptr, nullptr};
    Term dh = Term::of(textbook::build(div(dg, scale)));
    if (dh.den) {
        return std::nullopt;
    }
    return Fraction{sub(mul(df, Term::of(h)), mul(number(k), mul(Term::of(f), std::move(dh)))),
                    textbook::power(Term::of(h), std::int64_t{k} + 1)};
}

// Quotients of polynomials are written collected when the numerator is not longer than the
// rule's: d/dx x/(x+1) is 1/(x+1)^2, not (x + 1 - x)/(x+1)^2. Other numerators keep the rule's
// order, x cos(x) - sin(x), which collecting would only reorder.
Term quotient(const ExprPtr& f, const ExprPtr& g, Term df, Term dg, const DiffContext& ctx) {
    if (dg.is_zero()) {
        return div(std::move(df), Term::of(g));
    }
    if (df.is_zero()) {
        return neg(div(mul(Term::of(f), std::move(dg)), square(Term::of(g))));
    }
    auto rule = reduced_quotient(f, g, df, dg);
    if (!rule) {
        rule = Fraction{sub(mul(std::move(df), Term::of(g)), mul(Term::of(f), std::move(dg))),
                        square(Term::of(g))};
    }
    if (rule->num.is_zero()) {
        return Term::zero();
    }
    if (const auto collected = collected_quotient(f, g, ctx)) {
        constexpr std::size_t cap = 4 * Polynomial::kMaxNodes;
        if (collected->num.is_zero() || tree_size(textbook::build(collected->num), cap) <=
                                            tree_size(textbook::build(rule->num), cap)) {
            return collected->den ? div(collected->num, Term::of(collected->den)) : collected->num;
        }
    }
    return div(std::move(rule->num), std::move(rule->den));
}

// f^(g-1) for an exponent g free of the variable; an Int exponent of -2147483648 leaves
// 32 bits here and is the overflow error.
Term lowered_power(const ExprPtr& base, const ExprPtr& exp) {
    switch (kind_of(*exp)) {
    case ExprKind::Int: {
        const std::int64_t k = std::int64_t{as<Int>(*exp).value} - 1;
        return k >= 1 ? textbook::power(Term::of(base), k) : Term::of(textbook::power(base, k));
    }
    case ExprKind::Rational:
        return Term::of(
            pow_rules(base, (Coefficient::of_number(*exp) + Coefficient{-1, 1}).to_node()));
    default: return Term::of(pow_rules(base, textbook::build(add(Term::of(exp), number(-1)))));
    }
}

Term power_rule(const ExprPtr& node, Term df, Term dg) {
    const auto& p = as<Pow>(*node);
    if (dg.is_zero()) {
        // g f^(g-1) f', the inner derivative before the power: 10x(x^2+1)^4.
        return mul(Term::of(p.exp), mul(std::move(df), lowered_power(p.base, p.exp)));
    }
    if (df.is_zero()) {
        // g' f^g ln(f); ln(e) is 1, so e^g gives g' e^g.
        return mul(mul(std::move(dg), Term::of(node)), Term::of(log_rules(p.base)));
    }
    // f^g (g' ln(f) + g f'/f)
    Term inner = add(mul(std::move(dg), Term::of(log_rules(p.base))),
                     mul(Term::of(p.exp), div(std::move(df), Term::of(p.base))));
    return mul(Term::of(node), std::move(inner));
}

}  // namespace

Term derivative_of(const ExprPtr& node, Term d_first, Term d_second, const DiffContext& ctx) {
    if (d_first.is_zero() && d_second.is_zero()) {
        return Term::zero();
    }
    Term& d = d_first;  // of the operand of a unary node
    switch (kind_of(*node)) {
    case ExprKind::Neg: return neg(std::move(d));
    case ExprKind::Add: return add(std::move(d_first), std::move(d_second));
    case ExprKind::Mul: {
        const auto& m = as<Mul>(*node);
        Term left = d_first.is_zero() ? Term::zero() : mul(std::move(d_first), Term::of(m.right));
        Term right = d_second.is_zero() ? Term::zero() : mul(Term::of(m.left), std::move(d_second));
        return add(std::move(left), std::move(right));
    }
    case ExprKind::Div: {
        const auto& q = as<Div>(*node);
        return quotient(q.num, q.den, std::move(d_first), std::move(d_second), ctx);
    }
    case ExprKind::Pow: return power_rule(node, std::move(d_first), std::move(d_second));
    case ExprKind::Sqrt: return div(std::move(d), mul(number(2), Term::of(node)));
    case ExprKind::Cbrt:
        return div(std::move(d), mul(number(3), Term::of(textbook::power(node, 2))));
    case ExprKind::Sin:
        return mul(std::move(d), Term::of(trig_rules(ExprKind::Cos, as<Sin>(*node).operand)));
    case ExprKind::Cos:
        return neg(mul(std::move(d), Term::of(trig_rules(ExprKind::Sin, as<Cos>(*node).operand))));
    case ExprKind::Tan: {
        const ExprPtr cosine = trig_rules(ExprKind::Cos, as<Tan>(*node).operand);
        return div(std::move(d), Term::of(textbook::power(cosine, 2)));
    }
    case ExprKind::Log: return div(std::move(d), Term::of(as<Log>(*node).operand));
    default: return Term::zero();  // leaves are answered by the walk
    }
}

}  // namespace tavrelo::detail
