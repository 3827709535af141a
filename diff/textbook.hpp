// Terms written the way a textbook writes them: numeric coefficients folded and written first,
// one fraction bar, a minus sign in front instead of a negative coefficient inside, equal factors
// and like terms merged. A derivative travels through the walk as a Term and becomes nodes only
// where a node needs it (a sum, the operand of a function, the result), so a product of many
// factors is not rebuilt at every level. Every node is made through the simplifier's rule lists,
// so a result built from simplified parts is itself simplified.
//
// The operations look only at the top of their arguments (a bounded number of nodes), so
// building a derivative stays linear in the size of the tree.
#pragma once

#include "core/expr.hpp"
#include "diff/coefficient.hpp"
#include "diff/factors.hpp"

namespace tavrelo::textbook {

// The term coef * num / den; an empty num or den stands for 1, and coef 0 is the zero term.
struct Term {
    detail::Coefficient coef;
    ExprPtr num;
    ExprPtr den;
    ExprPtr whole;  // the node the term was read from, returned by build() while unchanged

    [[nodiscard]] static Term zero() { return {detail::Coefficient{0, 1}, {}, {}, {}}; }
    [[nodiscard]] static Term number(const detail::Coefficient& c) { return {c, {}, {}, {}}; }
    // Reads `-3x`, `\frac{2x}{y}`, `x \cdot 2` and so on; anything else is 1 * e.
    [[nodiscard]] static Term of(const ExprPtr& e);

    [[nodiscard]] bool is_zero() const { return coef.is_zero(); }
    [[nodiscard]] bool is_number() const { return !num && !den; }
    [[nodiscard]] bool is_one() const { return coef.is_one() && is_number(); }
};

// The node of a term: `\frac{3x}{2y}`, `-\frac{1}{x}`, `\frac{1}{2}x`, `-3x`; Int(0) for zero.
// Factors with the same base above and below the bar cancel: x/x^2 is 1/x.
[[nodiscard]] ExprPtr build(const Term& t);

// Terms are taken by value: callers move temporaries in, and a result that is one of the
// arguments moves out without touching reference counts.
[[nodiscard]] Term neg(Term a);
[[nodiscard]] Term add(Term a, Term b);
[[nodiscard]] Term sub(Term a, Term b);
[[nodiscard]] Term mul(Term a, Term b);
[[nodiscard]] Term div(Term a, Term b);  // b is not zero
// a^k for an integer k >= 1: the coefficient is raised too, (2x)^3 is 8x^3, unless its power
// leaves 32 bits; then the power stays whole.
[[nodiscard]] Term power(const Term& a, std::int64_t k);
[[nodiscard]] Term square(const Term& a);

}  // namespace tavrelo::textbook
