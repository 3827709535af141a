// The operations on expanded values. dispatch.cpp chooses how each is done (its table says
// which strategy, when and why); the strategies live in sums.cpp and products.cpp, and the
// values are made and converted between forms in forms.cpp.
#pragma once

#include <initializer_list>
#include <vector>

#include "core/expr.hpp"
#include "expand/forms.hpp"
#include "expand/workspace.hpp"

namespace tavrelo::fast {

// ---- forms.cpp: values and their forms ----

[[nodiscard]] PolyRef raw_value(Workspace& ws, const ExprPtr& tree);
[[nodiscard]] PolyRef empty_value();
[[nodiscard]] PolyRef one_value();
[[nodiscard]] PolyRef single_value(Workspace& ws, int coef, const Powers& powers);
[[nodiscard]] PolyRef collected_value(Collected c);
// A packed value stays packed; one entry or none is unpacked at once, since the single-entry
// operations work on factor lists.
[[nodiscard]] PolyRef packed_value(PackedValue v);

// The entries of a collected value (any form but Raw) as factor lists.
Collected& settled(Poly& p);
// The summands of `p`'s tree: the entries themselves (in output order) unless some entry's
// tree decomposes into something else.
std::vector<Summand>& splits(Workspace& ws, Poly& p);
// The same when the order does not matter: entries with distinct keys merge alike in any order.
std::vector<Summand>& splits_any_order(Workspace& ws, Poly& p);

// ---- dispatch.cpp: which way each operation goes ----

PolyRef multiply(Workspace& ws, PolyRef p, PolyRef q);
PolyRef power(Workspace& ws, const PolyRef& base, int n);
PolyRef collect(Workspace& ws, std::initializer_list<std::vector<Summand>*> lists);
void order(Workspace& ws, Collected& c);
const ExprPtr& tree(Workspace& ws, Poly& p);

// ---- sums.cpp ----

// The collection of the summands of `lists` by key.
[[nodiscard]] Collected collect_keyed(Workspace& ws,
                                      std::initializer_list<std::vector<Summand>*> lists);
// `p` collected, unless it already is.
PolyRef recollect(Workspace& ws, PolyRef p);
PolyRef negate(Workspace& ws, PolyRef p);
PolyRef add(Workspace& ws, PolyRef p, PolyRef q);

// ---- products.cpp: the strategies of a product ----

// `p` (single_entry(), held only by the caller) times the summand `b`, in place.
void multiply_in_place(Workspace& ws, Poly& p, const Summand& b);
// The product through packed exponents, or null when the operands do not qualify.
[[nodiscard]] PolyRef multiply_packed(Workspace& ws, PolyRef& p, PolyRef& q);
[[nodiscard]] PolyRef multiply_one_by_one(Workspace& ws, const Summand& a, const Summand& b);
// The product by canonical forms merged in rank order; false when some base has no rank.
bool multiply_ranked(Workspace& ws, std::vector<Summand>& left, std::vector<Summand>& right,
                     Collected& out);
[[nodiscard]] Collected multiply_keyed(Workspace& ws, std::vector<Summand>& left,
                                       std::vector<Summand>& right);
// The power through packed exponents, or null when the base does not qualify.
[[nodiscard]] PolyRef power_packed(Workspace& ws, const PolyRef& base, int n);

}  // namespace tavrelo::fast
