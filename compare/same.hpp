// Structural comparison of two trees.
#pragma once

#include "core/expr.hpp"

namespace tavrelo {

// True when both trees have the same node classes, values and names at the same positions.
// Walks with a heap stack and takes up each pair of shared subtrees once, so million-deep trees
// and two copies of a DAG with 2^60 paths compare in time linear in their distinct nodes.
[[nodiscard]] inline bool same(const Expr& a, const Expr& b) { return structurally_equal(a, b); }

}  // namespace tavrelo
