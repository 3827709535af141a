// Short constructors for trees in tests.
#pragma once

#include <memory>
#include <string>

#include "core/expr.hpp"

namespace tavrelo::build {

inline ExprPtr v(const std::string& name) { return std::make_shared<Var>(name); }
inline ExprPtr i(int value) { return std::make_shared<Int>(value); }
inline ExprPtr q(int num, int den) { return std::make_shared<Rational>(num, den); }
inline ExprPtr neg(ExprPtr a) { return std::make_shared<Neg>(std::move(a)); }
inline ExprPtr add(ExprPtr a, ExprPtr b) {
    return std::make_shared<Add>(std::move(a), std::move(b));
}
inline ExprPtr mul(ExprPtr a, ExprPtr b) {
    return std::make_shared<Mul>(std::move(a), std::move(b));
}
inline ExprPtr div(ExprPtr a, ExprPtr b) {
    return std::make_shared<Div>(std::move(a), std::move(b));
}
inline ExprPtr pow(ExprPtr a, ExprPtr b) {
    return std::make_shared<Pow>(std::move(a), std::move(b));
}
inline ExprPtr sqrt(ExprPtr a) { return std::make_shared<Sqrt>(std::move(a)); }
inline ExprPtr sin(ExprPtr a) { return std::make_shared<Sin>(std::move(a)); }
inline ExprPtr e() { return std::make_shared<E>(); }
inline ExprPtr pi() { return std::make_shared<Pi>(); }

}  // namespace tavrelo::build
