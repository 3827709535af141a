// The elementary functions (sin, cos, tan, exp, log, cbrt), four values at a time. Where the C
// library has vector versions they are used (several times faster than one value at a time);
// the point runner and the constant folder call the same kernels as the array loops, so every
// way of evaluating gives the same doubles.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavrelo::detail {

enum class Elementary : std::uint8_t { sin, cos, tan, exp, log, cbrt };

// Four inputs in, four results out; the lanes do not affect one another.
using Kernel4 = void (*)(const double* in, double* out);

// The kernel of `f` on this processor, chosen once per process.
[[nodiscard]] Kernel4 kernel_of(Elementary f) noexcept;

// f(a), through the same kernel.
[[nodiscard]] inline double elementary(Elementary f, double a) {
    const double in[4] = {a, a, a, a};
    double out[4];
    kernel_of(f)(in, out);
    return out[0];
}

// Which kernels run, for tests and reports: "avx2", "sse2" or "scalar".
[[nodiscard]] const char* elementary_kernels() noexcept;

}  // namespace tavrelo::detail
