// Numeric values of trees in double precision, at one point or over whole arrays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/expr.hpp"

namespace tavrelo {

namespace detail {
struct Code;
}

// An array argument of NumericProgram::run: the element at index (i0, i1, ...) is
// data[i0 * strides[0] + i1 * strides[1] + ...]. Strides count elements and may be 0 or negative.
struct ArrayArg {
    const double* data = nullptr;
    std::vector<std::size_t> shape;
    std::vector<std::ptrdiff_t> strides;
};

// A tree made ready for evaluation with a fixed list of variables: a straight-line program over
// the distinct nodes, with constant parts computed once, equal parts computed once and integer
// powers taken by repeated squaring. Immutable, so one program may run in several threads.
//
// The values follow the algebra: Cbrt is the real cube root, Log the natural logarithm, Pi and E
// their doubles, Int and Rational exact up to the rounding of one division. A point is outside
// the domain for a square root of a negative number, a logarithm of a number <= 0, a division by
// zero (0 to a negative power included), a negative number to a non-integer power, and tan
// within a few units in the last place of an odd multiple of pi/2, where the rounded argument
// stands for a zero of the cosine. An undefined part makes the whole value undefined.
class NumericProgram {
public:
    // Throws std::invalid_argument naming a variable of `expr` missing from `variables`, or one
    // listed twice. No recursion on depth; shared subtrees are compiled once.
    NumericProgram(ExprPtr expr, std::vector<std::string> variables);
    ~NumericProgram();
    NumericProgram(NumericProgram&&) noexcept;
    NumericProgram& operator=(NumericProgram&&) noexcept;

    [[nodiscard]] const std::vector<std::string>& variables() const noexcept { return variables_; }
    [[nodiscard]] const ExprPtr& expr() const noexcept { return expr_; }
    [[nodiscard]] std::size_t instructions() const noexcept;

    // The value at one point, one number per variable in order. A point outside the domain
    // throws std::invalid_argument with the reason and the LaTeX of the failing part.
    [[nodiscard]] double operator()(std::span<const double> point) const;

    // The shape that the arguments (one per variable) broadcast to, by NumPy's rules; throws
    // std::invalid_argument naming the two variables whose shapes disagree.
    [[nodiscard]] std::vector<std::size_t> broadcast_shape(std::span<const ArrayArg> args) const;

    // Writes the value at every point of the broadcast shape to `out`, contiguous in row-major
    // order; points outside the domain get NaN. Works in blocks, so memory beyond the arguments
    // and `out` stays small.
    void run(std::span<const ArrayArg> args, double* out) const;

private:
    ExprPtr expr_;
    std::vector<std::string> variables_;
    std::unique_ptr<const detail::Code> code_;
};

}  // namespace tavrelo
