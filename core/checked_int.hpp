// 32-bit integer results that are exact or fail loudly; nothing in the library wraps silently.
#pragma once

#include <cstdint>
#include <limits>
#include <stdexcept>

namespace tavrelo {

inline constexpr const char* kOverflowMessage = "整数オーバーフローエラー";

[[noreturn]] inline void throw_overflow() { throw std::invalid_argument(kOverflowMessage); }

[[nodiscard]] inline bool fits_int32(std::int64_t v) {
    return v >= std::numeric_limits<std::int32_t>::min() &&
           v <= std::numeric_limits<std::int32_t>::max();
}

// The exact value as a 32-bit int, or the overflow error.
[[nodiscard]] inline int to_int32(std::int64_t v) {
    if (!fits_int32(v)) {
        throw_overflow();
    }
    return static_cast<int>(v);
}

[[nodiscard]] inline int checked_add(int a, int b) {
    return to_int32(std::int64_t{a} + std::int64_t{b});
}

[[nodiscard]] inline int checked_mul(int a, int b) {
    return to_int32(std::int64_t{a} * std::int64_t{b});
}

[[nodiscard]] inline int checked_neg(int a) { return to_int32(-std::int64_t{a}); }

}  // namespace tavrelo
