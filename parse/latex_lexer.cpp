#include "latex_lexer.hpp"

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

bool is_function_word(std::string_view w) { return latex_function(w).has_value() || w == "sqrt"; }

std::string shown(char c) {
    std::string s = "'";
    s += c;
    s += '\'';
    return s;
}

}  // namespace

std::size_t LatexLexer::letter_end(std::size_t j) const {
    if (j >= t_.size()) {
        return j;
    }
    if (is_ascii_letter(t_[j])) {
        return j + 1;
    }
    if (static_cast<unsigned char>(t_[j]) >= 0x80) {
        const CodePoint cp = decode(t_, j);
        if (cp.length != 0 && symbol_of(cp.value) == Symbol::Letter) {
            return j + cp.length;
        }
    }
    return j;
}

void LatexLexer::skip_ignored() {
    while (i_ < t_.size()) {
        const char c = t_[i_];
        if (is_space(c) || c == '~') {
            ++i_;
        } else if (c == '\\' && i_ + 1 < t_.size() &&
                   (t_[i_ + 1] == ',' || t_[i_ + 1] == ';' || t_[i_ + 1] == '!' ||
                    t_[i_ + 1] == ':' || t_[i_ + 1] == ' ')) {
            i_ += 2;
        } else if (c == '\\') {
            std::size_t j = i_ + 1;
            const std::string_view w = command_word(j);
            if (!is_spacing_command(w)) {
                return;
            }
            i_ = j;
        } else if (static_cast<unsigned char>(c) >= 0x80) {
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

// The letters of a control word starting at j (j moves past them).
std::string_view LatexLexer::command_word(std::size_t& j) const {
    const std::size_t b = j;
    while (j < t_.size() && is_ascii_letter(t_[j])) {
        ++j;
    }
    return t_.substr(b, j - b);
}

// Whether the text at j continues like an argument: '(' or '{' at once, or after spaces a
// letter, digit, bracket or command other than an operator or \right. The printer writes none
// of these after a name: it puts spaces only around `+`, `-` and `\cdot`.
bool LatexLexer::argument_follows(std::size_t j) const {
    if (j < t_.size() && (t_[j] == '(' || t_[j] == '{')) {
        return true;
    }
    std::size_t k = j;
    while (k < t_.size() && is_space(t_[k])) {
        ++k;
    }
    if (k == j || k == t_.size()) {
        return false;
    }
    const char c = t_[k];
    if (c == '\\') {
        std::size_t w = k + 1;
        const std::string_view word = command_word(w);
        return !word.empty() && word != "cdot" && word != "times" && word != "div" &&
               word != "right";
    }
    return is_digit(c) || c == '(' || c == '{' || c == '[' || letter_end(k) > k;
}

bool LatexLexer::take(char c) {
    skip_ignored();
    if (i_ < t_.size() && t_[i_] == c) {
        ++i_;
        return true;
    }
    return false;
}

Token LatexLexer::peek() {
    const std::size_t saved = i_;
    Token t = next();
    i_ = saved;
    return t;
}

// {digits} or a single digit, as the numerator or denominator of a fraction.
bool LatexLexer::integer_argument() {
    const Token a = next_argument();
    if (a.kind == Tok::Number) {
        return true;
    }
    if (a.kind != Tok::LBrace) {
        return false;
    }
    const Token n = next();
    return n.kind == Tok::Number && !n.decimal && next().kind == Tok::RBrace;
}

bool LatexLexer::lone_number_follows() {
    const std::size_t saved = i_;
    Token t = next();
    const bool minus = t.kind == Tok::Minus;
    if (minus) {
        t = next();
    }
    const bool lone = (t.kind == Tok::Number && minus) ||
                      (t.kind == Tok::Frac && integer_argument() && integer_argument());
    i_ = saved;
    return lone;
}

Token LatexLexer::number(std::size_t begin, bool one_digit) {
    Number n;
    if (one_digit) {
        n.num = static_cast<std::uint64_t>(t_[begin] - '0');
        n.end = begin + 1;
    } else {
        n = read_number(t_, begin, false, true);
    }
    if (n.too_large) {
        errors_.overflow(begin, t_.substr(begin, n.end - begin));
    }
    Token t = make(Tok::Number, begin, n.end);
    t.num = n.num;
    t.den = n.den;
    t.decimal = n.decimal;
    i_ = n.end;
    return t;
}

// x_1, x_{12}, \alpha_i: the subscript becomes part of the name; x_{1} is spelled x_1.
void LatexLexer::subscript(std::size_t name_begin, Token& tok) {
    std::size_t j = i_;
    while (j < t_.size() && is_space(t_[j])) {
        ++j;
    }
    if (j >= t_.size() || t_[j] != '_') {
        return;
    }
    const std::size_t underscore = j;
    ++j;
    while (j < t_.size() && is_space(t_[j])) {
        ++j;
    }
    std::string_view sub;
    std::size_t end = j;
    if (j < t_.size() && t_[j] == '{') {
        int depth = 1;
        end = j + 1;
        while (end < t_.size() && depth > 0) {
            const auto b = static_cast<unsigned char>(t_[end]);
            if (b < 0x20 || b == 0x7F) {
                fail(end, "下付き添字に使えない文字があります");
            }
            if (b >= 0x80) {
                const CodePoint cp = decode(t_, end);
                if (cp.length == 0) {
                    fail(end, "UTF-8 として正しくないバイトがあります");
                }
                end += cp.length;
                continue;
            }
            depth += t_[end] == '{' ? 1 : t_[end] == '}' ? -1 : 0;
            ++end;
        }
        if (depth > 0) {
            fail(j, "'{' に対応する '}' がありません");
        }
        sub = t_.substr(j + 1, end - j - 2);
        const std::size_t one = sub.empty() ? 0 : letter_end(j + 1) - (j + 1);
        const bool single = sub.size() == 1 ? is_digit(sub[0]) || is_ascii_letter(sub[0])
                                            : (one != 0 && one == sub.size());
        if (sub.find_first_not_of(" \t\n\r") == std::string_view::npos) {
            fail(j, "下付き添字が空です");
        }
        if (!single) {
            sub = t_.substr(j, end - j);  // keeps its braces
        }
    } else if (j < t_.size() && (is_digit(t_[j]) || is_ascii_letter(t_[j]))) {
        end = j + 1;
        sub = t_.substr(j, 1);
    } else if (const std::size_t le = letter_end(j); le > j) {
        end = le;
        sub = t_.substr(j, le - j);
    } else if (j < t_.size() && t_[j] == '\\') {
        std::size_t k = j + 1;
        const std::string_view w = command_word(k);
        if (!is_greek_command(w)) {
            fail(j, "下付き添字がありません");
        }
        end = k;
        sub = t_.substr(j, k - j);
    } else {
        fail(underscore, "下付き添字がありません");
    }
    const std::string_view base = tok.text;
    i_ = end;
    tok.end = end;
    const bool verbatim = underscore == name_begin + base.size() &&
                          sub.data() == t_.data() + underscore + 1 &&
                          end == underscore + 1 + sub.size();
    if (verbatim) {
        tok.text = t_.substr(name_begin, end - name_begin);
    } else {
        scratch_.assign(base);
        scratch_ += '_';
        scratch_ += sub;
        tok.text = scratch_;
    }
    std::size_t k = i_;
    while (k < t_.size() && is_space(t_[k])) {
        ++k;
    }
    if (k < t_.size() && t_[k] == '_') {
        fail(k, "二重の下付き添字です");
    }
}

// A run of letters and digits (one letter and its digits when splitting, or exactly one
// letter as a TeX argument).
Token LatexLexer::name(std::size_t begin, bool one_letter) {
    std::size_t j = letter_end(begin);
    if (!one_letter) {
        while (j < t_.size()) {
            if (is_digit(t_[j])) {
                ++j;
            } else if (const std::size_t le = letter_end(j); le > j && !split_) {
                j = le;
            } else {
                break;
            }
        }
    }
    Token tok = make(Tok::Name, begin, j);
    tok.text = t_.substr(begin, j - begin);
    i_ = j;
    // A bare function word followed by an argument is a forgotten backslash; anywhere else it is
    // a name (`cos` may be c·o·s printed side by side), so that printed texts read back.
    if (!split_ && !one_letter && is_function_word(tok.text) && argument_follows(j)) {
        fail(begin,
             "'" + std::string(tok.text) + "' は \\" + std::string(tok.text) + " と書いてください");
    }
    if (!one_letter) {
        subscript(begin, tok);
    }
    if (tok.text == "e") {
        tok.kind = Tok::E;
    }
    return tok;
}

Token LatexLexer::command(std::size_t begin, bool argument) {
    std::size_t j = begin + 1;
    if (j >= t_.size()) {
        fail(begin, "'\\' の後にコマンド名がありません");
    }
    const std::string_view w = command_word(j);
    if (w.empty()) {
        const CodePoint cp =
            static_cast<unsigned char>(t_[j]) >= 0x80 ? decode(t_, j) : CodePoint{0, 1};
        const std::size_t len = cp.length == 0 ? 1 : cp.length;
        fail(begin, "未知のコマンド '" + std::string(t_.substr(begin, 1 + len)) + "' です");
    }
    i_ = j;
    if (w == "pi") {
        return make(Tok::Pi, begin, j);
    }
    if (is_greek_command(w)) {
        Token tok = make(Tok::Name, begin, j);
        tok.text = t_.substr(begin, j - begin);
        if (!argument) {
            subscript(begin, tok);
        }
        return tok;
    }
    if (w == "mathrm") {
        const std::size_t after = i_;
        if (take('{') && take('e') && take('}')) {
            return make(Tok::E, begin, i_);
        }
        fail(after, "\\mathrm{...} で読めるのは \\mathrm{e} だけです");
    }
    if (argument) {
        fail(begin, "'\\" + std::string(w) + "' を引数にするときは {...} で囲んでください");
    }
    if (w == "left" || w == "right") {
        const bool left = w == "left";
        skip_ignored();
        const char open = left ? '(' : ')';
        const char square = left ? '[' : ']';
        if (i_ < t_.size() && (t_[i_] == open || t_[i_] == square)) {
            const bool paren = t_[i_] == open;
            ++i_;
            return make(left ? (paren ? Tok::LeftParen : Tok::LeftBracket)
                             : (paren ? Tok::RightParen : Tok::RightBracket),
                        begin, i_);
        }
        fail(i_, left ? "\\left の後には ( か [ を書いてください"
                      : "\\right の後には ) か ] を書いてください");
    }
    if (w == "frac" || w == "dfrac" || w == "tfrac") {
        return make(Tok::Frac, begin, j);
    }
    if (w == "sqrt") {
        return make(Tok::Sqrt, begin, j);
    }
    if (w == "cdot" || w == "times") {
        return make(Tok::Times, begin, j);
    }
    if (w == "div") {
        return make(Tok::Divide, begin, j);
    }
    if (const auto f = latex_function(w)) {
        Token tok = make(Tok::Function, begin, j);
        tok.function = *f;
        return tok;
    }
    fail(begin, "未知のコマンド '\\" + std::string(w) + "' です");
}

Token LatexLexer::next() {
    skip_ignored();
    if (i_ >= t_.size()) {
        return make(Tok::End, t_.size(), t_.size());
    }
    const std::size_t b = i_;
    const char c = t_[b];
    if (is_digit(c) || (c == '.' && b + 1 < t_.size() && is_digit(t_[b + 1]))) {
        return number(b, false);
    }
    if (is_ascii_letter(c)) {
        return name(b, false);
    }
    auto single = [&](Tok k) {
        i_ = b + 1;
        return make(k, b, b + 1);
    };
    switch (c) {
    case '+': return single(Tok::Plus);
    case '-': return single(Tok::Minus);
    case '*': return single(Tok::Times);
    case '/': return single(Tok::Divide);
    case '^': return single(Tok::Power);
    case '(': return single(Tok::LParen);
    case ')': return single(Tok::RParen);
    case '[': return single(Tok::LBracket);
    case ']': return single(Tok::RBracket);
    case '{': return single(Tok::LBrace);
    case '}': return single(Tok::RBrace);
    case '\\': return command(b, false);
    case '_': fail(b, "下付き添字は名前にだけ付けられます");
    case '\0': fail(b, "NUL 文字は使えません");
    default: break;
    }
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) {
        fail(b, "制御文字は使えません");
    }
    if (u < 0x80) {
        fail(b, "予期しない文字 " + shown(c) + " があります");
    }
    const CodePoint cp = decode(t_, b);
    if (cp.length == 0) {
        fail(b, "UTF-8 として正しくないバイトがあります");
    }
    switch (symbol_of(cp.value)) {
    case Symbol::Pi: i_ = b + cp.length; return make(Tok::Pi, b, i_);
    case Symbol::Times: i_ = b + cp.length; return make(Tok::Times, b, i_);
    case Symbol::Divide: i_ = b + cp.length; return make(Tok::Divide, b, i_);
    case Symbol::Minus: i_ = b + cp.length; return make(Tok::Minus, b, i_);
    case Symbol::Space:
    case Symbol::Letter: break;
    }
    return name(b, false);
}

Token LatexLexer::next_argument(const char* what) {
    skip_ignored();
    const std::size_t b = i_;
    if (b >= t_.size()) {
        fail(b, std::string(what) + "がありません");
    }
    const char c = t_[b];
    if (c == '{') {
        i_ = b + 1;
        return make(Tok::LBrace, b, b + 1);
    }
    if (is_digit(c)) {
        return number(b, true);
    }
    if (c == '\\') {
        return command(b, true);
    }
    if (letter_end(b) > b) {
        return name(b, true);
    }
    if (static_cast<unsigned char>(c) >= 0x80) {
        const CodePoint cp = decode(t_, b);
        if (cp.length != 0 && symbol_of(cp.value) == Symbol::Pi) {
            i_ = b + cp.length;
            return make(Tok::Pi, b, i_);
        }
    }
    fail(b, std::string(what) + "がありません（{...} で囲んでください）");
}

}  // namespace tavrelo::reading
