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

// Nodes with children store them checked and hand them to the release queue when they die.
#define TAVRELO_UNARY(Name, Number, Prec, Operand)                                                 \
    Name::Name(ExprPtr Operand) : Operand(require_child(std::move(Operand))) {}                    \
    Name::~Name() { detail::release_child(Operand); }
#define TAVRELO_BINARY(Name, Number, Prec, First, Second)                                          \
    Name::Name(ExprPtr First, ExprPtr Second)                                                      \
        : First(require_child(std::move(First))), Second(require_child(std::move(Second))) {}      \
    Name::~Name() {                                                                                \
        detail::release_child(First);                                                              \
        detail::release_child(Second);                                                             \
    }
#include "kinds.def"

// Every class renders and compares through the shared iterative walkers.
#define TAVRELO_KIND(Name, Number, Shape, Prec, IsNumber)                                          \
    std::string Name::to_string() const { return render_latex(*this); }                            \
    bool Name::equals(const ExprPtr& other) const { return structurally_equal(*this, *other); }
#include "kinds.def"

}  // namespace tavrelo
