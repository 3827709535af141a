// The value of each operation at one point, with the rule that says where it is undefined. The
// compiler, the point runner and the array loops all call these, so each rule lives here once.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace tavrelo::detail {

// Why a value is undefined.
enum class Undefined : std::uint8_t {
    none,
    negative_root,
    log_of_nonpositive,
    division_by_zero,
    tan_pole,
    negative_base_power,
};

// The error text for a point outside the domain (the library's own texts where one exists).
[[nodiscard]] const char* undefined_message(Undefined why) noexcept;

inline constexpr double kUndefined = std::numeric_limits<double>::quiet_NaN();

// Each function returns the value, or NaN after setting `why`. Array loops pass a local they
// never read, and the compiler drops the store.
inline double undefined(Undefined reason, Undefined& why) {
    why = reason;
    return kUndefined;
}

[[nodiscard]] inline double value_sqrt(double a, Undefined& why) {
    return a < 0 ? undefined(Undefined::negative_root, why) : std::sqrt(a);
}

// `l` is the logarithm of `a` as computed (see elementary.hpp).
[[nodiscard]] inline double value_log(double a, double l, Undefined& why) {
    return a <= 0 ? undefined(Undefined::log_of_nonpositive, why) : l;
}

[[nodiscard]] inline double value_div(double a, double b, Undefined& why) {
    return b == 0 ? undefined(Undefined::division_by_zero, why) : a / b;
}

// |tan a| >= 2^51 / |a| puts a within 2^-51 |a| (two to four units in the last place) of a
// pole: no double lies closer to pi/2 than the one that Pi()/2 gives, whose tan is 1.6e16.
inline constexpr double kTanPole = 0x1p51;

// `t` is the tangent of `a` as computed (see elementary.hpp).
[[nodiscard]] inline double value_tan(double a, double t, Undefined& why) {
    return std::abs(t * a) >= kTanPole ? undefined(Undefined::tan_pole, why) : t;
}

[[nodiscard]] inline double value_pow(double a, double b, Undefined& why) {
    if (std::isnan(a) || std::isnan(b)) {
        return a + b;  // undefined stays undefined (std::pow(nan, 0) would be 1)
    }
    if (a == 0 && b < 0) {
        return undefined(Undefined::division_by_zero, why);
    }
    if (a < 0 && b != std::trunc(b)) {
        return undefined(Undefined::negative_base_power, why);
    }
    return std::pow(a, b);
}

// a^n for n >= 0 by repeated squaring; the array loop takes the same steps in the same order.
[[nodiscard]] inline double power_by_squaring(double a, std::uint32_t n) {
    double result = 1;
    while (n != 0) {
        if ((n & 1U) != 0) {
            result *= a;
        }
        n >>= 1U;
        if (n != 0) {
            a *= a;
        }
    }
    return result;
}

[[nodiscard]] inline std::uint32_t magnitude(std::int32_t n) {
    return n < 0 ? 0U - static_cast<std::uint32_t>(n) : static_cast<std::uint32_t>(n);
}

[[nodiscard]] inline double value_pow_int(double a, std::int32_t n, Undefined& why) {
    if (n == 0) {
        return std::isnan(a) ? a : 1.0;
    }
    const double p = power_by_squaring(a, magnitude(n));
    if (n > 0) {
        return p;
    }
    return a == 0 ? undefined(Undefined::division_by_zero, why) : 1 / p;
}

}  // namespace tavrelo::detail
