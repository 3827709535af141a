#include "typed_lexer.hpp"

#include <array>
#include <string>

#include "number.hpp"
#include "text.hpp"
#include "words.hpp"

namespace tavrelo::reading {
namespace {

Token make(Tok kind, std::size_t begin, std::size_t end) {
    Token t;
    t.kind = kind;
    t.begin = begin;
    t.end = end;
    return t;
}

// Words found inside a run of letters when splitting it, longest first.
constexpr std::array<std::string_view, 9> kWords{"sqrt", "cbrt", "sin", "cos", "tan",
                                                 "log",  "exp",  "ln",  "pi"};

}  // namespace

void TypedLexer::skip_spaces() {
    while (i_ < t_.size()) {
        if (is_space(t_[i_])) {
            ++i_;
        } else if (static_cast<unsigned char>(t_[i_]) >= 0x80) {
            const CodePoint cp = decode(t_, i_);
            if (cp.length == 0 || symbol_of(cp.value) != Symbol::Space) {
                return;
            }
            i_ += cp.length;
        } else {
            return;
        }
    }
}

std::size_t TypedLexer::name_char_end(std::size_t j) const {
    if (j >= t_.size()) {
        return j;
    }
    const char c = t_[j];
    if (is_ascii_letter(c) || is_digit(c) || c == '_') {
        return j + 1;
    }
    if (static_cast<unsigned char>(c) >= 0x80) {
        const CodePoint cp = decode(t_, j);
        if (cp.length != 0 && symbol_of(cp.value) == Symbol::Letter) {
            return j + cp.length;
        }
    }
    return j;
}

bool TypedLexer::paren_follows(std::size_t j) const {
    while (j < t_.size() && is_space(t_[j])) {
        ++j;
    }
    return j < t_.size() && t_[j] == '(';
}

// A whole word: a constant, a function (which must be called) or a name.
Token TypedLexer::word(std::size_t begin, std::size_t end) {
    const std::string_view w = t_.substr(begin, end - begin);
    i_ = end;
    if (w == "pi") {
        return make(Tok::Pi, begin, end);
    }
    if (w == "e" || w == "E") {
        return make(Tok::E, begin, end);
    }
    if (const auto f = typed_function(w)) {
        if (!paren_follows(end)) {
            fail(end, "関数 '" + std::string(w) + "' の後に '(' が必要です");
        }
        Token t = make(Tok::Function, begin, end);
        t.function = *f;
        return t;
    }
    if (!split_ && paren_follows(end)) {
        fail(begin, "未知の関数 '" + std::string(w) + "' です（掛け算には * を書いてください）");
    }
    Token t = make(Tok::Name, begin, end);
    t.text = w;
    return t;
}

// The next piece of a run of letters read as a product: a known word, or one letter with the
// digits and underscores after it.
Token TypedLexer::split_word() {
    const std::size_t b = i_;
    const std::string_view rest = t_.substr(b, run_end_ - b);
    for (const std::string_view w : kWords) {
        if (rest.starts_with(w)) {
            if (w == "pi") {
                i_ = b + w.size();
                return make(Tok::Pi, b, i_);
            }
            return word(b, b + w.size());
        }
    }
    std::size_t j = b;
    while (j < run_end_ && t_[j] == '_') {
        ++j;
    }
    j = j < run_end_ ? name_char_end(j) : j;
    while (j < run_end_ && (is_digit(t_[j]) || t_[j] == '_')) {
        ++j;
    }
    return word(b, j);
}

Token TypedLexer::next() {
    if (i_ < run_end_) {
        return split_word();
    }
    skip_spaces();
    if (i_ >= t_.size()) {
        return make(Tok::End, t_.size(), t_.size());
    }
    const std::size_t b = i_;
    const char c = t_[b];
    if (is_digit(c) || (c == '.' && b + 1 < t_.size() && is_digit(t_[b + 1]))) {
        const Number n = read_number(t_, b, true, false);
        if (n.too_large) {
            errors_.overflow(b, t_.substr(b, n.end - b));
        }
        Token t = make(Tok::Number, b, n.end);
        t.num = n.num;
        t.den = n.den;
        t.decimal = n.decimal;
        i_ = n.end;
        return t;
    }
    if (name_char_end(b) > b) {
        std::size_t j = b;
        for (std::size_t next = name_char_end(j); next > j; next = name_char_end(j)) {
            j = next;
        }
        if (!split_) {
            return word(b, j);
        }
        run_end_ = j;
        return split_word();
    }
    auto single = [&](Tok k, std::size_t len = 1) {
        i_ = b + len;
        return make(k, b, b + len);
    };
    switch (c) {
    case '+': return single(Tok::Plus);
    case '-': return single(Tok::Minus);
    case '*':
        return b + 1 < t_.size() && t_[b + 1] == '*' ? single(Tok::Power, 2) : single(Tok::Times);
    case '/': return single(Tok::Divide);
    case '^': return single(Tok::Power);
    case '(': return single(Tok::LParen);
    case ')': return single(Tok::RParen);
    case '\0': fail(b, "NUL 文字は使えません");
    default: break;
    }
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) {
        fail(b, "制御文字は使えません");
    }
    if (u < 0x80) {
        fail(b, "予期しない文字 '" + std::string(1, c) + "' があります");
    }
    const CodePoint cp = decode(t_, b);
    if (cp.length == 0) {
        fail(b, "UTF-8 として正しくないバイトがあります");
    }
    switch (symbol_of(cp.value)) {
    case Symbol::Pi: return single(Tok::Pi, cp.length);
    case Symbol::Times: return single(Tok::Times, cp.length);
    case Symbol::Divide: return single(Tok::Divide, cp.length);
    case Symbol::Minus: return single(Tok::Minus, cp.length);
    default: break;
    }
    fail(b, "予期しない文字があります");
}

}  // namespace tavrelo::reading
