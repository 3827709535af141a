// The two readers: each drives the shared machine with the tokens of its notation.
#include <optional>
#include <string>

#include "builder.hpp"
#include "latex_lexer.hpp"
#include "parse.hpp"
#include "text.hpp"
#include "typed_lexer.hpp"

namespace tavrelo {
namespace reading {
namespace {

// The operator written at `pos`, for messages: a command or one character.
std::string written_at(std::string_view text, std::size_t pos) {
    if (pos >= text.size()) {
        return "";
    }
    std::size_t end = pos + 1;
    if (text[pos] == '\\') {
        while (end < text.size() && is_ascii_letter(text[end])) {
            ++end;
        }
    } else if (text[pos] == '*' && end < text.size() && text[end] == '*') {
        ++end;
    } else if (static_cast<unsigned char>(text[pos]) >= 0x80) {
        const CodePoint cp = decode(text, pos);
        end = pos + (cp.length == 0 ? 1 : cp.length);
    }
    return std::string(text.substr(pos, end - pos));
}

// What both readers share around the machine: state, operands and the errors of a missing one.
class ReaderBase {
protected:
    ReaderBase(std::string_view text, bool latex) : text_(text), b_(text, latex) {}

    // An operand was expected at `pos` (before a closer, an operator or the end).
    [[noreturn]] void missing_operand(std::size_t pos, bool before_operator) const {
        const Op& op = b_.top_op();
        if (op.kind == OpKind::Frame) {
            if (op.frame == 0 && b_.value_count() == 0 && !before_operator) {
                b_.fail(pos, "式が空です");
            }
            if (before_operator) {
                b_.fail(pos, "'" + written_at(text_, pos) + "' の前に式がありません");
            }
            b_.fail(pos, "括弧の中に式がありません");
        }
        if (op.kind == OpKind::Function) {
            b_.fail(pos, "関数 '" + written_at(text_, op.pos) + "' の引数がありません");
        }
        b_.fail(pos, "'" + written_at(text_, op.pos) + "' の後に式がありません");
    }

    void minus_sign(std::size_t pos) {
        b_.prefix(term_start_ ? OpKind::NegTerm : OpKind::NegFactor, pos);
    }

    void operator_pushed(bool term_start) {
        operand_ = true;
        term_start_ = term_start;
    }

    std::string_view text_;
    Builder b_;
    bool operand_ = true;     // an operand is expected next
    bool term_start_ = true;  // a minus sign here begins a term
};

enum TypedFrame : unsigned char { kTop, kParen, kCall };

class TypedReader : ReaderBase {
public:
    TypedReader(std::string_view text, const ParseOptions& o)
        : ReaderBase(text, false), lx_(text, o.split_letters, b_) {}

    ExprPtr run() {
        b_.open(kTop, 0);
        while (true) {
            const Token t = lx_.next();
            if (operand_) {
                if (t.kind == Tok::Minus) {
                    minus_sign(t.begin);
                } else if (t.kind == Tok::Plus) {
                    continue;
                } else if (!start_operand(t)) {
                    missing_operand(t.begin, is_operator(t.kind));
                }
                continue;
            }
            switch (t.kind) {
            case Tok::Plus:
                b_.binary(OpKind::Add, t.begin);
                operator_pushed(true);
                break;
            case Tok::Minus:
                b_.binary(OpKind::Sub, t.begin);
                operator_pushed(true);
                break;
            case Tok::Times:
                b_.binary(OpKind::Mul, t.begin);
                operator_pushed(false);
                break;
            case Tok::Divide:
                b_.binary(OpKind::Div, t.begin);
                operator_pushed(false);
                break;
            case Tok::Power:
                b_.binary(OpKind::Pow, t.begin);
                operator_pushed(false);
                break;
            case Tok::RParen: close(t.begin); break;
            case Tok::End: return finish();
            default:
                if (t.kind == Tok::Number && last_number_) {
                    b_.fail(t.begin, "数のあとに数が続いています（掛け算には * を書いてください）");
                }
                b_.binary(OpKind::Implicit, t.begin);
                operator_pushed(false);
                start_operand(t);
            }
        }
    }

private:
    static bool is_operator(Tok k) {
        return k == Tok::Times || k == Tok::Divide || k == Tok::Power;
    }

    void operand_done() {
        operand_ = false;
        last_number_ = false;
    }

    bool start_operand(const Token& t) {
        switch (t.kind) {
        case Tok::Number:
            b_.push_number(t);
            operand_done();
            last_number_ = true;
            return true;
        case Tok::Name: b_.push_node(b_.leaves().var(t.text), t.begin); break;
        case Tok::Pi: b_.push_node(b_.leaves().pi(), t.begin); break;
        case Tok::E: b_.push_node(b_.leaves().e(), t.begin); break;
        case Tok::Function:
            (void)lx_.next();  // the "(" the lexer saw after the name
            b_.open(kCall, t.begin, t.function);
            operator_pushed(true);
            return true;
        case Tok::LParen:
            b_.open(kParen, t.begin);
            operator_pushed(true);
            return true;
        default: return false;
        }
        operand_done();
        return true;
    }

    void close(std::size_t pos) {
        b_.reduce_until(1);
        if (b_.top_op().frame == kTop) {
            b_.fail(pos, "対応する '(' のない ')' です");
        }
        Builder::Closed c = b_.close();
        if (c.frame.frame == kCall) {
            b_.push(b_.apply(c.frame.function, std::move(c.content), std::nullopt, c.frame.pos));
        } else {
            b_.push(std::move(c.content));
        }
        operand_done();
    }

    ExprPtr finish() {
        b_.reduce_until(1);
        if (b_.top_op().frame != kTop) {
            b_.fail(b_.top_op().pos, "'(' が閉じられていません");
        }
        Builder::Closed c = b_.close();
        return b_.place(c.content, Role::Plain).node;
    }

    TypedLexer lx_;
    bool last_number_ = false;
};

enum LatexFrame : unsigned char {
    lTop,
    lGroup,        // \left( \right)
    lParen,        // ( )
    lBracket,      // [ ]
    lLeftBracket,  // \left[ \right]
    lBrace,        // { }
    lFracNum,
    lFracDen,
    lSqrtIndex,
    lSqrtArg,
    lSup,
    lFnPower,
    lFnParen,  // \sin\left( \right)
    lFnBare,   // \sin( )
    lFnBrace,  // \sin{ }
};

const char* argument_name(unsigned char f) {
    switch (f) {
    case lFracNum: return "分数の分子";
    case lFracDen: return "分数の分母";
    case lSqrtArg: return "根号の中身";
    case lSup: return "上付き添字";
    default: return "関数の指数";
    }
}

const char* opener(unsigned char f) {
    switch (f) {
    case lGroup:
    case lFnParen: return "\\left(";
    case lParen:
    case lFnBare: return "(";
    case lBracket:
    case lSqrtIndex: return "[";
    case lLeftBracket: return "\\left[";
    default: return "{";
    }
}

const char* closer_of(unsigned char f) {
    switch (f) {
    case lGroup:
    case lFnParen: return "\\right)";
    case lParen:
    case lFnBare: return ")";
    case lBracket:
    case lSqrtIndex: return "]";
    case lLeftBracket: return "\\right]";
    default: return "}";
    }
}

bool closes(Tok closer, unsigned char f) {
    switch (closer) {
    case Tok::RightParen: return f == lGroup || f == lFnParen;
    case Tok::RParen: return f == lParen || f == lFnBare;
    case Tok::RBracket: return f == lBracket || f == lSqrtIndex;
    case Tok::RightBracket: return f == lLeftBracket;
    case Tok::RBrace:
        return f == lBrace || f == lFracNum || f == lFracDen || f == lSqrtArg || f == lSup ||
               f == lFnPower || f == lFnBrace;
    default: return false;
    }
}

class LatexReader : ReaderBase {
public:
    LatexReader(std::string_view text, const ParseOptions& o)
        : ReaderBase(text, true), lx_(text, o.split_letters, b_) {}

    ExprPtr run() {
        b_.open(lTop, 0);
        while (true) {
            const Token t = lx_.next();
            if (operand_) {
                if (t.kind == Tok::Minus) {
                    minus_sign(t.begin);
                } else if (t.kind == Tok::Plus && b_.top_op().kind != OpKind::Function) {
                    continue;  // a unary plus
                } else if (!start_operand(t)) {
                    missing_operand(t.begin, t.kind == Tok::Times || t.kind == Tok::Divide ||
                                                 t.kind == Tok::Power);
                }
                continue;
            }
            switch (t.kind) {
            case Tok::Plus:
                b_.binary(OpKind::Add, t.begin);
                operator_pushed(true);
                break;
            case Tok::Minus:
                b_.binary(OpKind::Sub, t.begin);
                operator_pushed(true);
                break;
            case Tok::Times: times(t.begin); break;
            case Tok::Divide:
                b_.reduce_until(25);
                b_.binary(OpKind::Div, t.begin);
                operator_pushed(false);
                break;
            case Tok::Power:
                if (b_.top().superscript) {
                    b_.fail(t.begin, "二重の上付き添字です（{...} でまとめてください）");
                }
                argument(lSup, t.begin);
                break;
            case Tok::RParen:
            case Tok::RightParen:
            case Tok::RBracket:
            case Tok::RightBracket:
            case Tok::RBrace: close(t); break;
            case Tok::End: return finish();
            default:
                // Side by side. A function closes the bare arguments before it: \sin x \cos x.
                if (t.kind == Tok::Function) {
                    b_.reduce_until(25);
                }
                b_.binary(OpKind::Implicit, t.begin);
                operator_pushed(false);
                start_operand(t);
            }
        }
    }

private:
    void operand_done() { operand_ = false; }

    bool start_operand(const Token& t) {
        switch (t.kind) {
        case Tok::Number: b_.push_number(t); break;
        case Tok::Name:
            b_.push_node(b_.leaves().var(t.text), t.begin);
            b_.top().name_token = true;
            break;
        case Tok::Pi: b_.push_node(b_.leaves().pi(), t.begin); break;
        case Tok::E: b_.push_node(b_.leaves().e(), t.begin); break;
        case Tok::LeftParen: open(lGroup, t.begin); return true;
        case Tok::LParen: open(lParen, t.begin); return true;
        case Tok::LBracket: open(lBracket, t.begin); return true;
        case Tok::LeftBracket: open(lLeftBracket, t.begin); return true;
        case Tok::LBrace: open(lBrace, t.begin); return true;
        case Tok::Frac: argument(lFracNum, t.begin); return true;
        case Tok::Sqrt:
            if (lx_.take('[')) {
                open(lSqrtIndex, t.begin);
            } else {
                argument(lSqrtArg, t.begin);
            }
            return true;
        case Tok::Function: function(t); return true;
        default: return false;
        }
        operand_done();
        return true;
    }

    void open(unsigned char frame, std::size_t pos, Function f = Function::Sin, bool flag = false) {
        b_.open(frame, pos, f, flag);
        operator_pushed(true);
    }

    // The argument of ^, \frac, \sqrt or a function's power: a {group}, or one TeX token.
    void argument(unsigned char frame, std::size_t pos, Function f = Function::Sin,
                  bool flag = false) {
        const Token t = lx_.next_argument(argument_name(frame));
        if (t.kind == Tok::LBrace) {
            open(frame, pos, f, flag);
            return;
        }
        b_.open(frame, pos, f, flag);
        switch (t.kind) {
        case Tok::Number: b_.push_number(t); break;
        case Tok::Name: b_.push_node(b_.leaves().var(t.text), t.begin); break;
        case Tok::Pi: b_.push_node(b_.leaves().pi(), t.begin); break;
        default: b_.push_node(b_.leaves().e(), t.begin); break;
        }
        finished(b_.close());
    }

    void function(const Token& t) {
        if (lx_.peek().kind == Tok::Power) {
            (void)lx_.next();
            argument(lFnPower, t.begin, t.function);
        } else {
            function_argument(t.function, false, t.begin);
        }
    }

    // After \sin (and its power): a delimited argument, or a bare one (\sin 2x).
    void function_argument(Function f, bool has_power, std::size_t pos) {
        switch (lx_.peek().kind) {
        case Tok::LeftParen:
            (void)lx_.next();
            open(lFnParen, pos, f, has_power);
            return;
        case Tok::LParen:
            (void)lx_.next();
            open(lFnBare, pos, f, has_power);
            return;
        case Tok::LBrace:
            (void)lx_.next();
            open(lFnBrace, pos, f, has_power);
            return;
        default: b_.prefix(OpKind::Function, pos, f, has_power); operator_pushed(false);
        }
    }

    // \cdot and \times. Before a fraction of integers or a negative number, and after a
    // fraction, the product of the two numbers is a unit of its own (2\frac{1}{3} \cdot 4 is
    // 2·(1/3·4), x2 \cdot -3 is x·(2·(-3))): that is the only way such a text prints.
    void times(std::size_t pos) {
        b_.reduce_until(35);
        bool tight = false;
        if (b_.bare_functions() == 0) {
            const Value& top = b_.top();
            if (top.is_literal()) {
                tight = top.lit == Lit::Fraction || lx_.lone_number_follows();
            } else if (top.name_token && trailing_digits(top) != 0 && lx_.lone_number_follows()) {
                split_trailing_digits();
                tight = true;
            }
        }
        if (tight) {
            b_.binary(OpKind::Tight, pos);
        } else {
            b_.reduce_until(25);
            b_.binary(OpKind::Mul, pos);
        }
        operator_pushed(false);
    }

    // Digits that end a plain name (x12, e3), without a leading zero; 0 when there are none.
    static std::size_t trailing_digits(const Value& v) {
        const std::string& n = as<Var>(*v.node).name;
        std::size_t k = n.size();
        while (k > 0 && is_digit(n[k - 1])) {
            --k;
        }
        const bool plain = n.find_first_of("\\_") == std::string::npos;
        const std::size_t digits = n.size() - k;
        if (!plain || k == 0 || digits == 0 || digits > 10 || (n[k] == '0' && digits > 1) ||
            std::stoull(n.substr(k)) > 2147483647U) {
            return 0;
        }
        return digits;
    }

    // x12 before \cdot \frac{1}{2} is x·12: a name cannot print so.
    void split_trailing_digits() {
        const Value v = b_.pop();
        const std::string& n = as<Var>(*v.node).name;
        const std::size_t k = n.size() - trailing_digits(v);
        const std::string_view letters = std::string_view(n).substr(0, k);
        b_.push_node(letters == "e" ? b_.leaves().e() : b_.leaves().var(letters), v.pos);
        const std::size_t digits_at = v.pos + k;
        b_.binary(OpKind::Implicit, digits_at);
        Token number;
        number.kind = Tok::Number;
        number.begin = digits_at;
        number.num = std::stoull(n.substr(k));
        b_.push_number(number);
    }

    void close(const Token& t) {
        b_.reduce_until(1);
        const Op& f = b_.top_op();
        if (!closes(t.kind, f.frame)) {
            if (f.frame == lTop) {
                b_.fail(t.begin, "対応する開き括弧のない '" + written_at(text_, t.begin) +
                                     (t.kind == Tok::RightParen || t.kind == Tok::RightBracket
                                          ? std::string(1, text_[t.end - 1])
                                          : std::string()) +
                                     "' です");
            }
            b_.fail(t.begin, std::string("'") + opener(f.frame) + "' は '" + closer_of(f.frame) +
                                 "' で閉じてください");
        }
        finished(b_.close());
    }

    // A group is complete: build what it belongs to.
    void finished(Builder::Closed c) {
        const Op& f = c.frame;
        switch (f.frame) {
        case lGroup: b_.push(b_.group(std::move(c.content), f.pos)); break;
        case lParen:
        case lBracket:
        case lLeftBracket:
        case lBrace:
            c.content.superscript = false;
            c.content.name_token = false;
            b_.push(std::move(c.content));
            break;
        case lFracNum:
            b_.push(std::move(c.content));
            argument(lFracDen, f.pos);
            return;
        case lFracDen: {
            Value num = b_.pop();
            b_.push(b_.fraction(std::move(num), std::move(c.content), f.pos));
            break;
        }
        case lSqrtIndex:
            b_.push(std::move(c.content));
            argument(lSqrtArg, f.pos, Function::Sin, true);
            return;
        case lSqrtArg: {
            std::optional<Value> index;
            if (f.flag) {
                index = b_.pop();
            }
            b_.push(b_.root(std::move(index), std::move(c.content), f.pos));
            break;
        }
        case lSup: {
            Value base = b_.pop();
            b_.push(b_.power(std::move(base), std::move(c.content)));
            break;
        }
        case lFnPower:
            b_.push(std::move(c.content));
            function_argument(f.function, true, f.pos);
            return;
        default: {  // the function's own parentheses or braces
            Value arg = std::move(c.content);
            if (f.frame == lFnBrace && arg.paren) {
                arg.paren = false;  // \sin{\left(x\right)}: the parentheses are the function's
            }
            std::optional<Value> pw;
            if (f.flag) {
                pw = b_.pop();
            }
            b_.push(b_.apply(f.function, std::move(arg), std::move(pw), f.pos));
        }
        }
        operand_done();
    }

    ExprPtr finish() {
        b_.reduce_until(1);
        const Op& f = b_.top_op();
        if (f.frame != lTop) {
            b_.fail(f.pos, std::string("'") + opener(f.frame) + "' が閉じられていません");
        }
        Builder::Closed c = b_.close();
        return b_.place(c.content, Role::Free).node;
    }

    LatexLexer lx_;
};

}  // namespace
}  // namespace reading

ExprPtr parse(std::string_view text, const ParseOptions& options) {
    return reading::TypedReader(text, options).run();
}

ExprPtr parse_latex(std::string_view text, const ParseOptions& options) {
    return reading::LatexReader(text, options).run();
}

}  // namespace tavrelo
