// Small polynomials in one variable with integer coefficients: the quotients of textbook
// exercises, whose quotient-rule numerator f'g - fg' is written collected.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "core/expr.hpp"
#include "diff/textbook.hpp"

namespace tavrelo::detail {

class Polynomial {
public:
    // Above these a tree is not read as a polynomial: collecting is meant for exercises, and the
    // bounds keep the cost per quotient constant.
    static constexpr std::size_t kMaxNodes = 64;
    static constexpr std::size_t kMaxDegree = 64;

    Polynomial() = default;
    [[nodiscard]] static Polynomial constant(std::int64_t c);
    [[nodiscard]] static Polynomial variable();

    // The tree as a polynomial in `var`, or nothing: another variable, a function, a quotient,
    // a fraction, a negative or symbolic exponent, or more than the bounds above.
    [[nodiscard]] static std::optional<Polynomial> of(const Expr& tree, std::string_view var);

    // Each operation gives nothing when a coefficient leaves 64 bits or the degree the bound.
    [[nodiscard]] std::optional<Polynomial> plus(const Polynomial& other) const;
    [[nodiscard]] std::optional<Polynomial> times(const Polynomial& other) const;
    [[nodiscard]] std::optional<Polynomial> negated() const;
    [[nodiscard]] std::optional<Polynomial> derivative() const;
    // The quotient by a divisor of degree >= 1 when it divides exactly over the integers.
    [[nodiscard]] std::optional<Polynomial> divided_by(const Polynomial& divisor) const;

    [[nodiscard]] bool is_zero() const { return coefficients_.empty(); }
    [[nodiscard]] bool fits_int32() const;  // every coefficient

    // The collected sum, highest power first, with its content and the sign of its leading
    // coefficient as the term's coefficient: -2x^{2} - 6x + 2 is -2(x^{2} + 3x - 1). Throws the
    // overflow error when a coefficient does not fit 32 bits.
    [[nodiscard]] textbook::Term to_term(const ExprPtr& var) const;

private:
    explicit Polynomial(std::vector<std::int64_t> c);
    std::vector<std::int64_t> coefficients_;  // [k] is the coefficient of x^k; no zero at the end
};

// The number of nodes of a tree (shared subtrees counted each time), or `cap` when larger.
[[nodiscard]] std::size_t tree_size(const ExprPtr& e, std::size_t cap);

}  // namespace tavrelo::detail
