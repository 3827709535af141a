// The message of a ParseError: the reason, the place, and the line of text with a caret.
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "parse.hpp"
#include "text.hpp"

namespace tavrelo {
namespace {

using reading::decode;

constexpr std::size_t kContext = 30;  // characters shown on each side of the place

// One displayed character of the excerpt: its bytes in the text, and what is shown.
struct Shown {
    std::size_t begin;
    std::string glyph;
    int width;
};

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Splits text[from, to) into displayed characters. Control characters are shown as their
// pictures (U+2400...) and bytes that are not UTF-8 as U+FFFD, one column each, so that the
// caret stays under its character.
std::vector<Shown> shown_characters(std::string_view text, std::size_t from, std::size_t to) {
    std::vector<Shown> out;
    std::size_t i = from;
    while (i < to) {
        const auto b = static_cast<unsigned char>(text[i]);
        Shown s{i, {}, 1};
        std::size_t step = 1;
        if (b < 0x20) {
            append_utf8(s.glyph, 0x2400 + b);
        } else if (b == 0x7F) {
            append_utf8(s.glyph, 0x2421);
        } else if (b < 0x80) {
            s.glyph = static_cast<char>(b);
        } else if (const auto cp = decode(text, i); cp.length != 0) {
            s.glyph = std::string(text.substr(i, cp.length));
            s.width = reading::display_width(cp.value);
            step = cp.length;
        } else {
            append_utf8(s.glyph, 0xFFFD);
        }
        out.push_back(std::move(s));
        i += step;
    }
    return out;
}

// Characters before `offset`: bytes that begin a character (or are not UTF-8 at all).
std::size_t characters_before(std::string_view text, std::size_t offset) {
    std::size_t n = 0;
    std::size_t i = 0;
    while (i < offset) {
        const auto b = static_cast<unsigned char>(text[i]);
        std::size_t step = 1;
        if (b >= 0x80) {
            const auto cp = decode(text, i);
            step = cp.length != 0 ? cp.length : 1;
        }
        i += step;
        ++n;
    }
    return n;
}

std::string excerpt_with_caret(std::string_view text, std::size_t offset) {
    const std::size_t line_begin = text.rfind('\n', offset == 0 ? 0 : offset - 1);
    std::size_t begin =
        (line_begin == std::string_view::npos || line_begin >= offset) ? 0 : line_begin + 1;
    std::size_t end = text.find('\n', offset);
    if (end == std::string_view::npos) {
        end = text.size();
    }
    // Whole characters within reach of the place, at most kContext * 4 bytes each side.
    const std::size_t reach = kContext * 4;
    const std::size_t from = offset - std::min(offset - begin, reach);
    const std::size_t to = std::min(end, offset + reach);
    std::vector<Shown> chars = shown_characters(text, from, to);
    std::size_t at = 0;  // index of the first character at or after the place
    while (at < chars.size() && chars[at].begin < offset) {
        ++at;
    }
    const std::size_t first = at > kContext ? at - kContext : 0;
    const std::size_t last = std::min(chars.size(), at + kContext);
    std::string line = "  ";
    std::string caret = "  ";
    if (first > 0 || from > begin) {
        line += "…";
        caret += ' ';
    }
    for (std::size_t k = first; k < last; ++k) {
        line += chars[k].glyph;
        if (k < at) {
            caret.append(static_cast<std::size_t>(chars[k].width), ' ');
        }
    }
    if (last < chars.size() || to < end) {
        line += "…";
    }
    caret += '^';
    return line + "\n" + caret;
}

std::string message(std::string_view text, std::size_t offset, std::string_view reason,
                    bool overflow) {
    std::string m = overflow ? "整数オーバーフローエラー: " : "構文エラー: ";
    m += reason;
    m += "（位置 " + std::to_string(characters_before(text, offset)) + "）\n";
    m += excerpt_with_caret(text, offset);
    return m;
}

}  // namespace

ParseError::ParseError(std::string_view text, std::size_t offset, std::string_view reason,
                       bool overflow)
    : std::invalid_argument(message(text, std::min(offset, text.size()), reason, overflow)),
      offset_(std::min(offset, text.size())), position_(characters_before(text, offset_)) {}

}  // namespace tavrelo
