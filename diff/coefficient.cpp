#include "diff/coefficient.hpp"

#include <limits>
#include <numeric>
#include <stdexcept>

#include "core/checked_int.hpp"
#include "core/node_pool.hpp"

namespace tavrelo::detail {
namespace {

std::int64_t mul64(std::int64_t a, std::int64_t b) {
    std::int64_t r = 0;
    if (__builtin_mul_overflow(a, b, &r)) {
        throw_overflow();
    }
    return r;
}

std::int64_t add64(std::int64_t a, std::int64_t b) {
    std::int64_t r = 0;
    if (__builtin_add_overflow(a, b, &r)) {
        throw_overflow();
    }
    return r;
}

std::int64_t neg64(std::int64_t a) {
    std::int64_t r = 0;
    if (__builtin_sub_overflow(std::int64_t{0}, a, &r)) {
        throw_overflow();
    }
    return r;
}

}  // namespace

Coefficient::Coefficient(std::int64_t num, std::int64_t den) {
    if (den == 1) {  // integers, the common case, need no reduction
        if (num == std::numeric_limits<std::int64_t>::min()) {
            throw_overflow();
        }
        num_ = num;
        return;
    }
    if (den == 0) {
        throw std::invalid_argument("ゼロ除算エラー");
    }
    // Keeps std::gcd and the negations below defined.
    if (num == std::numeric_limits<std::int64_t>::min() ||
        den == std::numeric_limits<std::int64_t>::min()) {
        throw_overflow();
    }
    if (den < 0) {
        num = neg64(num);
        den = neg64(den);
    }
    // std::gcd of two values that fit int64 is exact; its result divides both.
    const std::int64_t g = std::gcd(num, den);
    num_ = g > 1 ? num / g : num;
    den_ = g > 1 ? den / g : den;
}

Coefficient Coefficient::of_number(const Expr& number) {
    if (kind_of(number) == ExprKind::Int) {
        return {as<Int>(number).value, 1};
    }
    const auto& q = as<Rational>(number);
    return {q.num, q.den};
}

ExprPtr Coefficient::to_node() const {
    if (den_ == 1) {
        return make_node<Int>(to_int32(num_));
    }
    return make_node<Rational>(to_int32(num_), to_int32(den_));
}

Coefficient operator-(const Coefficient& a) { return {neg64(a.num_), a.den_}; }

Coefficient operator+(const Coefficient& a, const Coefficient& b) {
    if (a.den_ == b.den_) {
        return {add64(a.num_, b.num_), a.den_};
    }
    return {add64(mul64(a.num_, b.den_), mul64(b.num_, a.den_)), mul64(a.den_, b.den_)};
}

Coefficient operator*(const Coefficient& a, const Coefficient& b) {
    return {mul64(a.num_, b.num_), mul64(a.den_, b.den_)};
}

Coefficient operator/(const Coefficient& a, const Coefficient& b) {
    return {mul64(a.num_, b.den_), mul64(a.den_, b.num_)};
}

}  // namespace tavrelo::detail
