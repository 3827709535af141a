// Error texts of numeric evaluation.
#include <cstdio>
#include <string>

#include "evaluate/code.hpp"

namespace tavrelo::detail {
namespace {

// Length of the valid UTF-8 sequence starting at text[i], or 0.
std::size_t utf8_length(const std::string& text, std::size_t i) {
    const auto byte = [&](std::size_t j) { return static_cast<unsigned char>(text[j]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    unsigned low = 0x80;  // the least second byte that is not an overlong or surrogate form
    unsigned high = 0xBF;
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (i + length > text.size() || byte(i + 1) < low || byte(i + 1) > high) {
        return 0;
    }
    for (std::size_t j = i + 2; j < i + length; ++j) {
        if (byte(j) < 0x80 || byte(j) > 0xBF) {
            return 0;
        }
    }
    return length;
}

}  // namespace

std::string printable(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = utf8_length(text, i);
        if (length == 0) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(text[i]));
            out += escaped;
            ++i;
        } else {
            out.append(text, i, length);
            i += length;
        }
    }
    return out;
}

const char* undefined_message(Undefined why) noexcept {
    switch (why) {
    case Undefined::negative_root: return "負の数の平方根はサポートされていません。";
    case Undefined::log_of_nonpositive: return "0 以下の数の対数は定義されていません";
    case Undefined::division_by_zero: return "ゼロ除算エラー";
    case Undefined::tan_pole: return "tan(pi/2) は定義されていません";
    case Undefined::negative_base_power: return "負の数の非整数乗は定義されていません";
    case Undefined::none: break;
    }
    return "";
}

}  // namespace tavrelo::detail
