// The expander's working engine: expanded values stay polynomials (coefficients and powers of
// registered bases) from the leaves to the root, like terms meet through cached keys, and the
// result tree is built once at the end. Results are identical to the reference expander's.
#pragma once

#include <unordered_map>
#include <vector>

#include "core/expr.hpp"
#include "expand/forms.hpp"
#include "expand/workspace.hpp"

namespace tavrelo::fast {

class Engine {
public:
    // The expansion of a tree whose every subtree is already simplified.
    [[nodiscard]] ExprPtr expand(const ExprPtr& simplified);

private:
    PolyRef eval(const ExprPtr& root);
    PolyRef combine(const Expr& s, std::vector<PolyRef>& values);
    // The value, its form's promises checked in debug and sanitizer builds.
    PolyRef checked(PolyRef value) const;

    Workspace ws_;
    std::unordered_map<const Expr*, PolyRef> memo_;  // shared subtrees, by node identity
};

}  // namespace tavrelo::fast
