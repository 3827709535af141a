#include "simplify/integers.hpp"

#include <cmath>

#include "core/checked_int.hpp"
#include "simplify/simplify.hpp"

namespace tavrelo {
namespace detail {

int exact_pow(int base, std::int64_t exp) {
    if (exp == 0) {
        return 1;
    }
    // Bases whose powers never grow: exact for every exponent, the most negative one included.
    if (base == 0 || base == 1) {
        return base;
    }
    if (base == -1) {
        return (exp % 2 == 0) ? 1 : -1;
    }
    // |base| >= 2: 2^32 is already out of range, so at most 31 factors can fit.
    if (exp >= 32) {
        throw_overflow();
    }
    // Square-and-multiply in 64 bits. Operands stay below 2^32 in magnitude (larger ones fail
    // first), so no product leaves 64 bits; the base is squared only while factors remain.
    constexpr std::int64_t kLimit = std::int64_t{1} << 31;
    std::int64_t result = 1;
    std::int64_t b = base;
    for (auto e = static_cast<std::uint32_t>(exp);;) {
        if ((e & 1U) != 0) {
            result *= b;
            if (result > kLimit || result < -kLimit) {
                throw_overflow();
            }
        }
        e >>= 1U;
        if (e == 0) {
            break;
        }
        b *= b;
        if (b > kLimit) {
            throw_overflow();  // a factor still to come is at least b
        }
    }
    return to_int32(result);
}

SquareSplit split_square_factor(int v) {
    // Factor fully by trial division: dividing out each prime shrinks the bound, and
    // v = a^2 * c with c square-free has exactly one solution.
    int outside = 1;
    int inside = 1;
    int rest = v;
    for (int f = 2; f <= rest / f; f += (f == 2) ? 1 : 2) {
        int count = 0;
        while (rest % f == 0) {
            rest /= f;
            ++count;
        }
        for (int i = 0; i < count / 2; ++i) {
            outside *= f;
        }
        if (count % 2 != 0) {
            inside *= f;
        }
    }
    inside *= rest;  // what is left is 1 or a prime
    return {outside, inside};
}

std::optional<int> exact_cube_root(int v) {
    // The floating-point root only proposes a candidate; the integer cube decides.
    const auto r = static_cast<int>(std::round(std::cbrt(static_cast<double>(v))));
    const std::int64_t wide = r;
    if (wide * wide * wide == v) {
        return r;
    }
    return std::nullopt;
}

}  // namespace detail

int int_pow(int base, int exp) {
    if (exp < 0) {
        return 0;
    }
    return detail::exact_pow(base, exp);
}

}  // namespace tavrelo
