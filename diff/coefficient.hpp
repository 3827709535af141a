// Exact rational coefficients of the terms a derivative is built from. Parts are held in 64 bits
// so that one operation on two 32-bit values is exact; a node is made only from a value whose
// parts fit 32 bits, and anything else is the library's overflow error.
#pragma once

#include <cstdint>

#include "core/expr.hpp"

namespace tavrelo::detail {

class Coefficient {
public:
    Coefficient() = default;
    Coefficient(std::int64_t num, std::int64_t den);  // den != 0; reduced, sign on num
    // The value of an Int or Rational node.
    [[nodiscard]] static Coefficient of_number(const Expr& number);

    [[nodiscard]] std::int64_t num() const { return num_; }
    [[nodiscard]] std::int64_t den() const { return den_; }
    [[nodiscard]] bool is_zero() const { return num_ == 0; }
    [[nodiscard]] bool is_one() const { return num_ == 1 && den_ == 1; }
    [[nodiscard]] bool is_negative() const { return num_ < 0; }
    [[nodiscard]] bool is_integer() const { return den_ == 1; }

    // An Int when the denominator is 1, a Rational otherwise.
    [[nodiscard]] ExprPtr to_node() const;

    friend Coefficient operator-(const Coefficient& a);
    friend Coefficient operator+(const Coefficient& a, const Coefficient& b);
    friend Coefficient operator*(const Coefficient& a, const Coefficient& b);
    friend Coefficient operator/(const Coefficient& a, const Coefficient& b);
    friend bool operator==(const Coefficient& a, const Coefficient& b) = default;

private:
    std::int64_t num_ = 1;
    std::int64_t den_ = 1;
};

// True for the kinds a Coefficient is read from.
[[nodiscard]] inline bool is_number_node(const Expr& e) {
    const ExprKind k = kind_of(e);
    return k == ExprKind::Int || k == ExprKind::Rational;
}

}  // namespace tavrelo::detail
