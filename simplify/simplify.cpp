#include "simplify/simplify.hpp"

namespace tavrelo {

// Placeholder until the rule lists land: leaves and everything else come back unchanged.
ExprPtr simplify(ExprPtr expr) { return expr; }

bool is_int_value(const ExprPtr& e, int n) {
    return kind_of(*e) == ExprKind::Int && as<Int>(*e).value == n;
}

int int_pow(int base, int exp) {
    (void)base;
    (void)exp;
    return 0;
}

}  // namespace tavrelo
