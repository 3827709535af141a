// The derivative of one node from the derivatives of its children: the rules of the calculus
// course, each written in the textbook form the README's table lists.
#pragma once

#include <string_view>

#include "core/expr.hpp"
#include "diff/textbook.hpp"

namespace tavrelo::detail {

// What every rule of one call needs: the variable, as a name and as a node.
struct DiffContext {
    std::string_view var;
    ExprPtr var_node;
};

// d(node)/d(var) of a simplified node that is not a leaf, from the derivatives of its children
// in positional order (`d_second` is zero for unary nodes).
[[nodiscard]] textbook::Term derivative_of(const ExprPtr& node, textbook::Term d_first,
                                           textbook::Term d_second, const DiffContext& ctx);

}  // namespace tavrelo::detail
