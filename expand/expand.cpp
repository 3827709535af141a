#include "expand/expand.hpp"

#include <utility>

#include "expand/engine.hpp"
#include "simplify/simplify.hpp"

namespace tavrelo {

// The simplifier is idempotent on its own results, so one call on the whole input stands for
// the call at every node, and all of its errors come out here, before any expansion work.
ExprPtr expand(ExprPtr expr) {
    if (!expr) {
        return expr;
    }
    const ExprPtr simplified = simplify(std::move(expr));
    return fast::Engine{}.expand(simplified);
}

}  // namespace tavrelo
