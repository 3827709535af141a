// Like-term collection: a sum split into terms, merged by key and rebuilt in canonical order.
#pragma once

#include <string_view>
#include <vector>

#include "core/expr.hpp"
#include "expand/term.hpp"

namespace tavrelo {

// Appends one term per summand of the top-level Add chain of `e`, left to right.
void split_sum(const ExprPtr& e, std::vector<Term>& summands);

// Canonical order of two distinct keys: descending bytes, the constant key "1" always last.
[[nodiscard]] bool key_before(std::string_view a, std::string_view b);

// The canonical sum of `e`: like terms merged (sums exact; the overflow error when a collected
// coefficient leaves signed 32 bits), cancelled terms dropped, terms in key order, nested left.
[[nodiscard]] ExprPtr collect_terms(const ExprPtr& e);

}  // namespace tavrelo
