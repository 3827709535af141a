// UTF-8 decoding and character classes for the readers.
#include "text.hpp"

namespace tavrelo::reading {

CodePoint decode(std::string_view s, std::size_t i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    std::size_t n = 0;
    char32_t cp = 0;
    char32_t least = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        n = 2, cp = b0 & 0x1F, least = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        n = 3, cp = b0 & 0x0F, least = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        n = 4, cp = b0 & 0x07, least = 0x10000;
    } else {
        return {};
    }
    if (i + n > s.size()) {
        return {};
    }
    for (std::size_t k = 1; k < n; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) {
            return {};
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    // Overlong forms, surrogates and values past Unicode are not characters.
    if (cp < least || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
        return {};
    }
    return {cp, n};
}

Symbol symbol_of(char32_t c) {
    switch (c) {
    case U'\u03C0': return Symbol::Pi;  // π
    case U'\u00D7':
    case U'\u00B7':
    case U'\u22C5': return Symbol::Times;   // × · ⋅
    case U'\u00F7': return Symbol::Divide;  // ÷
    case U'\u2212': return Symbol::Minus;   // −
    case U'\u00A0':
    case U'\u2009':
    case U'\u202F':
    case U'\u3000': return Symbol::Space;
    default: return Symbol::Letter;
    }
}

int display_width(char32_t c) {
    const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
                      (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                      (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                      (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1FAFF) ||
                      (c >= 0x20000 && c <= 0x3FFFD);
    return wide ? 2 : 1;
}

}  // namespace tavrelo::reading
