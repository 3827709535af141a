// A summand read as an integer coefficient times a list of powers: how the expander takes the
// terms of a tree apart.
#pragma once

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
// signed 32 bits, as the steps meet it from the leaves up.
[[nodiscard]] Term decompose_term(const ExprPtr& summand);

// `left` times `right`: the coefficient product and the merged factor list (checked).
[[nodiscard]] Term merge_terms(const Term& left, const Term& right);

// Appends one term per summand of the top-level Add chain of `e`, left to right.
void split_sum(const ExprPtr& e, std::vector<Term>& summands);

}  // namespace tavrelo
