// The reference expander: the plain statement of what `expand` computes, written for clarity
// and not for speed (recursive, rendering every key in full). The engine must agree with it
// exactly; the tests run it on trees of modest depth.
#pragma once

#include <string>
#include <string_view>

#include "core/expr.hpp"
#include "expand/term.hpp"

namespace tavrelo::reference {

// The term as a tree: factors in descending byte order of their bases' text (stable), zero
// exponents skipped, the product nested to the left, the coefficient in front.
[[nodiscard]] ExprPtr build_term(const Term& term);

// The text of the term rebuilt with coefficient 1; "1" for a constant.
[[nodiscard]] std::string term_key(const Term& term);

// Canonical order of two distinct keys: descending bytes, the constant key "1" always last.
[[nodiscard]] bool key_before(std::string_view a, std::string_view b);

// The canonical sum of `e`: like terms merged (sums exact; the overflow error when a collected
// coefficient leaves signed 32 bits), cancelled terms dropped, terms in key order, nested left.
[[nodiscard]] ExprPtr collect_terms(const ExprPtr& e);

// a times b, multiplied out over the Add chains at the top of both (a-major); not collected.
[[nodiscard]] ExprPtr distribute(const ExprPtr& a, const ExprPtr& b);

// The collected n-th power of an expanded base, n >= 0, collecting after every product.
[[nodiscard]] ExprPtr expand_power(const ExprPtr& base, int n);

// The expansion of a tree whose every subtree is already simplified.
[[nodiscard]] ExprPtr expand_simplified(const ExprPtr& s);

}  // namespace tavrelo::reference
