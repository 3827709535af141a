// How long the LaTeX text of a tree can be, computed without writing it. A tree that shares
// subtrees can stand for far more text than any memory holds; the renderer asks this first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "expr.hpp"

namespace tavrelo {

// An upper bound of render_latex(root).size(): exact except that every product whose factors
// sit side by side counts the widest of what may stand between them (" \cdot ", or the
// parentheses around a right factor that begins with a minus sign). Visits each distinct shared node once and
// saturates at UINT64_MAX; stops early once the bound passes `stop_above`.
[[nodiscard]] std::uint64_t latex_size_bound(const Expr& root,
                                             std::uint64_t stop_above = UINT64_MAX);

// The same, or nothing when it takes more than `max_steps` steps (about one per distinct node).
[[nodiscard]] std::optional<std::uint64_t>
latex_size_bound_within(const Expr& root, std::uint64_t stop_above, std::size_t max_steps);

// The longest text the renderer agrees to build: half the physical memory, since the caller
// usually copies the text once more (Python's str).
[[nodiscard]] std::uint64_t latex_text_limit() noexcept;

}  // namespace tavrelo
