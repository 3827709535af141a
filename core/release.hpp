// Releasing a child handle without recursion, so that dropping the last handle of a very deep
// tree cannot exhaust the native stack.
#pragma once

#include "expr.hpp"

namespace tavrelo::detail {

// Drops `child`. When that frees a node whose destructor releases further children, those are
// queued and freed one after another by the outermost call on this thread.
void release_child(const ExprPtr& child) noexcept;

}  // namespace tavrelo::detail
