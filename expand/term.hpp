// A summand as an integer coefficient times a list of powers, and the text that identifies like
// terms. These are the reference operations; the fast engine must agree with them exactly.
#pragma once

#include <string>
#include <vector>

#include "core/expr.hpp"

namespace tavrelo {

struct Factor {
    ExprPtr base;  // shared with the input, never copied
    int exponent;  // may be negative or zero
};

struct Term {
    int coefficient;
    std::vector<Factor> factors;
};

// Integer factors fold into the coefficient, negation flips its sign, products merge their
// factor lists (equal bases add exponents) and an Int power keeps its base whole. Everything
// else is one opaque factor. Throws the overflow error when a coefficient or exponent leaves
// signed 32 bits.
[[nodiscard]] Term decompose_term(const ExprPtr& summand);

// `left` times `right`: the coefficient product and the merged factor list (checked).
[[nodiscard]] Term merge_terms(const Term& left, const Term& right);

// The term as a tree: factors in descending byte order of their bases' text (stable), zero
// exponents skipped, the product nested to the left, the coefficient in front.
[[nodiscard]] ExprPtr build_term(const Term& term);

// The text of the term rebuilt with coefficient 1; "1" for a constant.
[[nodiscard]] std::string term_key(const Term& term);

}  // namespace tavrelo
