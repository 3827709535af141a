// Replacing variables by trees.
#pragma once

#include <string>
#include <unordered_map>

#include "core/expr.hpp"

namespace tavrelo {

// Variable names (the bytes of Var::name) and the trees that take their place.
using Replacements = std::unordered_map<std::string, ExprPtr>;

// `expr` with every Var named in `replacements` replaced by its tree, all in one pass: the
// replacing trees are not searched in turn, so {x: y, y: x} swaps the two. Subtrees without a
// replaced variable are the input's own nodes, a node reached along several paths is rebuilt
// once (the result shares it the same way), and nothing is simplified. No recursion on depth.
// An empty handle gives an empty handle.
[[nodiscard]] ExprPtr subs(const ExprPtr& expr, const Replacements& replacements);

}  // namespace tavrelo
