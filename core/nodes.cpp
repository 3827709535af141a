// Construction, release and the per-class operations of the sixteen node classes.
#include <cstdint>
#include <cstdlib>
#include <numeric>
#include <stdexcept>
#include <utility>

#include "checked_int.hpp"
#include "expr.hpp"
#include "release.hpp"

namespace tavrelo {
namespace {

// Every node holds real children: the renderer, equality and the rewriters read them blindly.
ExprPtr require_child(ExprPtr child) {
    if (!child) {
        throw std::invalid_argument("empty child node");
    }
    return child;
}

}  // namespace

// Defined here so that the library alone holds the base class's vtable and type identity.
Expr::~Expr() = default;

Rational::Reduced Rational::reduce(int num, int den) {
    if (den == 0) {
        throw std::invalid_argument("エラー: 分母をゼロにすることはできません。");
    }
    // Wide arithmetic: moving the sign of -2147483648 must not wrap.
    std::int64_t n = num;
    std::int64_t d = den;
    if (d < 0) {
        n = -n;
        d = -d;
    }
    const std::int64_t g = (n == 0) ? d : std::gcd(n, d);
    return Reduced{to_int32(n / g), to_int32(d / g)};
}

Rational::Rational(int num, int den) : Rational(reduce(num, den)) {}

#define TAVRELO_DEFINE_UNARY(Name)                                                                 \
    Name::Name(ExprPtr operand) : operand(require_child(std::move(operand))) {}                    \
    Name::~Name() { detail::release_child(operand); }

#define TAVRELO_DEFINE_BINARY(Name, First, Second)                                                 \
    Name::Name(ExprPtr First, ExprPtr Second)                                                      \
        : First(require_child(std::move(First))), Second(require_child(std::move(Second))) {}      \
    Name::~Name() {                                                                                \
        detail::release_child(First);                                                              \
        detail::release_child(Second);                                                             \
    }

TAVRELO_DEFINE_UNARY(Neg)
TAVRELO_DEFINE_UNARY(Sqrt)
TAVRELO_DEFINE_UNARY(Cbrt)
TAVRELO_DEFINE_UNARY(Sin)
TAVRELO_DEFINE_UNARY(Cos)
TAVRELO_DEFINE_UNARY(Tan)
TAVRELO_DEFINE_UNARY(Log)
TAVRELO_DEFINE_BINARY(Add, left, right)
TAVRELO_DEFINE_BINARY(Mul, left, right)
TAVRELO_DEFINE_BINARY(Div, num, den)
TAVRELO_DEFINE_BINARY(Pow, base, exp)

#undef TAVRELO_DEFINE_UNARY
#undef TAVRELO_DEFINE_BINARY

// Every class renders and compares through the shared iterative walkers.
#define TAVRELO_DEFINE_COMMON(Name)                                                                \
    std::string Name::to_string() const { return render_latex(*this); }                            \
    bool Name::equals(const ExprPtr& other) const { return structurally_equal(*this, *other); }

TAVRELO_DEFINE_COMMON(Int)
TAVRELO_DEFINE_COMMON(Var)
TAVRELO_DEFINE_COMMON(Rational)
TAVRELO_DEFINE_COMMON(Neg)
TAVRELO_DEFINE_COMMON(Add)
TAVRELO_DEFINE_COMMON(Mul)
TAVRELO_DEFINE_COMMON(Div)
TAVRELO_DEFINE_COMMON(Pow)
TAVRELO_DEFINE_COMMON(Sqrt)
TAVRELO_DEFINE_COMMON(Pi)
TAVRELO_DEFINE_COMMON(E)
TAVRELO_DEFINE_COMMON(Cbrt)
TAVRELO_DEFINE_COMMON(Sin)
TAVRELO_DEFINE_COMMON(Cos)
TAVRELO_DEFINE_COMMON(Tan)
TAVRELO_DEFINE_COMMON(Log)

#undef TAVRELO_DEFINE_COMMON

}  // namespace tavrelo
