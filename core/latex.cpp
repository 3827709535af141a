// LaTeX text of a tree, written front to back into one buffer with an explicit task stack: the
// cost is linear in the output and the depth of the tree costs heap, not native stack.
#include <charconv>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "expr.hpp"
#include "latex_size.hpp"

namespace tavrelo {
namespace {

bool is_ascii_letter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

// Children that sit side by side in a product need a separator when their texts would run
// together: digits into digits ("2 \cdot 3"), or a control word into letters ("\pi x").
enum class Join : std::uint8_t { None, DigitEnd, ControlWordEnd };

class Writer {
public:
    void put(std::string_view s) {
        if (s.empty()) {
            return;
        }
        if (pending_ != Join::None) {
            const auto first = static_cast<unsigned char>(s.front());
            if (pending_ == Join::DigitEnd && is_digit(first)) {
                append(" \\cdot ");
            } else if (pending_ == Join::ControlWordEnd &&
                       (is_ascii_letter(first) || first >= 0x80)) {
                append(" ");
            }
            pending_ = Join::None;
        }
        append(s);
    }

    void put_int(std::int64_t v) {
        char buf[24];
        const auto res = std::to_chars(buf, buf + sizeof buf, v);
        put(std::string_view(buf, static_cast<std::size_t>(res.ptr - buf)));
    }

    [[nodiscard]] std::size_t size() const { return out_.size(); }

    void reserve(std::size_t n) { out_.reserve(n); }

    // The left factor of product `owner` was written from `start` on. An empty left factor
    // leaves any separator still awaited by an enclosing product in force: its right factor
    // begins with whatever this product writes first.
    void left_factor_done(std::size_t start, std::uint64_t owner) {
        if (out_.size() <= start) {
            return;
        }
        pending_ = ending_since(start);
        pending_owner_ = owner;
    }

    // A factor that wrote nothing leaves nothing to separate.
    void end_factor(std::uint64_t owner) {
        if (pending_owner_ == owner) {
            pending_ = Join::None;
        }
    }

    std::string take() { return std::move(out_); }

private:
    // How the text written since `start` ends, for the separator before the next factor.
    [[nodiscard]] Join ending_since(std::size_t start) const {
        if (out_.size() <= start) {
            return Join::None;
        }
        if (is_digit(static_cast<unsigned char>(out_.back()))) {
            return Join::DigitEnd;
        }
        if (letter_run_start_ < out_.size() && letter_run_start_ > start &&
            out_[letter_run_start_ - 1] == '\\') {
            return Join::ControlWordEnd;
        }
        return Join::None;
    }

    void append(std::string_view s) {
        const std::size_t old = out_.size();
        out_.append(s);
        std::size_t i = s.size();
        while (i > 0 && is_ascii_letter(static_cast<unsigned char>(s[i - 1]))) {
            --i;
        }
        if (i > 0) {
            letter_run_start_ = old + i;
        }
    }

    std::string out_;
    std::size_t letter_run_start_ = 0;  // where the trailing run of ASCII letters begins
    Join pending_ = Join::None;
    std::uint64_t pending_owner_ = 0;
};

enum class Op : std::uint8_t {
    Node,        // render `node`, in parentheses when its precedence is below `min_prec`
    Literal,     // write `text`
    AddRight,    // the right-hand part of the sum `node`
    FactorDone,  // the left factor of product number `owner` is written
    ProductDone  // the right factor of product number `owner` is written
};

struct Task {
    Op op;
    bool shared = false;  // the node has other owners besides the parent that pushed it
    int min_prec = 0;
    const Expr* node = nullptr;
    std::string_view text{};
    std::size_t start = 0;
    std::uint64_t owner = 0;
};

class Renderer {
public:
    std::string run(const Expr& root) {
        root_ = &root;
        tasks_.push_back(node(&root, 0));
        while (!tasks_.empty()) {
            const Task t = tasks_.back();
            tasks_.pop_back();
            switch (t.op) {
            case Op::Node: render(*t.node, t.min_prec, t.shared); break;
            case Op::Literal: w_.put(t.text); break;
            case Op::AddRight: add_right(as<Add>(*t.node)); break;
            case Op::FactorDone: w_.left_factor_done(t.start, t.owner); break;
            case Op::ProductDone: w_.end_factor(t.owner); break;
            }
        }
        return w_.take();
    }

private:
    static Task node(const Expr* n, int min_prec) {
        return Task{.op = Op::Node, .min_prec = min_prec, .node = n};
    }
    static Task literal(std::string_view s) { return Task{.op = Op::Literal, .text = s}; }

    // Tasks run last-in first-out: push the pieces of a node's text in reverse.
    void later(Task t) { tasks_.push_back(t); }

    // A child to render. Only a subtree reached along several paths can make the text outgrow
    // the tree itself (2^60 leaves in 61 nodes); the first one met triggers a size check.
    Task child(const ExprPtr& p, int min_prec) {
        Task t = node(p.get(), min_prec);
        t.shared = !size_checked_ && p.use_count() > 1;
        return t;
    }

    static bool may_repeat_much(const Expr& e, ExprKind kind) {
        switch (kind) {
        case ExprKind::Int:
        case ExprKind::Rational:
        case ExprKind::Pi:
        case ExprKind::E: return false;
        case ExprKind::Var: return as<Var>(e).name.size() > 64;
        default: return true;
        }
    }

    // Refuse at once, before any large allocation, a text that memory cannot hold.
    void check_size() {
        size_checked_ = true;
        const std::uint64_t limit = latex_text_limit();
        const std::uint64_t bound = latex_size_bound(*root_, limit);
        if (bound > limit || bound > std::string().max_size()) {
            throw std::bad_alloc();
        }
        w_.reserve(static_cast<std::size_t>(bound));
    }

    void render(const Expr& e, int min_prec, bool shared) {
        const ExprKind kind = kind_of(e);
        if (shared && !size_checked_ && may_repeat_much(e, kind)) {
            check_size();
        }
        if (e.precedence() < min_prec) {
            w_.put("\\left(");
            later(literal("\\right)"));
        }
        switch (kind) {
        case ExprKind::Int: w_.put_int(as<Int>(e).value); break;
        case ExprKind::Var: w_.put(as<Var>(e).name); break;
        case ExprKind::Rational: rational(as<Rational>(e)); break;
        case ExprKind::Neg:
            w_.put("-");
            later(child(as<Neg>(e).operand, 2));
            break;
        case ExprKind::Add:
            later(Task{.op = Op::AddRight, .node = &e});
            later(child(as<Add>(e).left, 0));
            break;
        case ExprKind::Mul: mul(as<Mul>(e)); break;
        case ExprKind::Div:
            w_.put("\\frac{");
            later(literal("}"));
            later(child(as<Div>(e).den, 0));
            later(literal("}{"));
            later(child(as<Div>(e).num, 0));
            break;
        case ExprKind::Pow: pow(as<Pow>(e)); break;
        case ExprKind::Sqrt: wrapped("\\sqrt{", as<Sqrt>(e).operand, "}"); break;
        case ExprKind::Cbrt: wrapped("\\sqrt[3]{", as<Cbrt>(e).operand, "}"); break;
        case ExprKind::Sin: wrapped("\\sin\\left(", as<Sin>(e).operand, "\\right)"); break;
        case ExprKind::Cos: wrapped("\\cos\\left(", as<Cos>(e).operand, "\\right)"); break;
        case ExprKind::Tan: wrapped("\\tan\\left(", as<Tan>(e).operand, "\\right)"); break;
        case ExprKind::Log: wrapped("\\ln\\left(", as<Log>(e).operand, "\\right)"); break;
        case ExprKind::Pi: w_.put("\\pi"); break;
        case ExprKind::E: w_.put("e"); break;
        }
    }

    void wrapped(std::string_view open, const ExprPtr& operand, std::string_view close) {
        w_.put(open);
        later(literal(close));
        later(child(operand, 0));
    }

    void rational(const Rational& r) {
        if (r.den == 1) {
            w_.put_int(r.num);
        } else if (r.num < 0) {
            w_.put("-");
            fraction(-std::int64_t{r.num}, r.den);
        } else {
            fraction(r.num, r.den);
        }
    }

    // Wide arithmetic: the magnitude of -2147483648 is written exactly.
    void fraction(std::int64_t num, int den) {
        w_.put("\\frac{");
        w_.put_int(num);
        w_.put("}{");
        w_.put_int(den);
        w_.put("}");
    }

    void add_right(const Add& a) {
        const Expr& r = *a.right;
        switch (kind_of(r)) {
        case ExprKind::Neg:
            w_.put(" - ");
            later(child(as<Neg>(r).operand, 2));
            return;
        case ExprKind::Int:
            if (as<Int>(r).value < 0) {
                w_.put(" - ");
                w_.put_int(-std::int64_t{as<Int>(r).value});
                return;
            }
            break;
        case ExprKind::Rational:
            if (as<Rational>(r).num < 0) {
                w_.put(" - ");
                const std::int64_t magnitude = -std::int64_t{as<Rational>(r).num};
                if (as<Rational>(r).den == 1) {
                    w_.put_int(magnitude);
                } else {
                    fraction(magnitude, as<Rational>(r).den);
                }
                return;
            }
            break;
        default: break;
        }
        w_.put(" + ");
        later(child(a.right, 0));
    }

    static bool is_int(const Expr& e, int v) {
        return kind_of(e) == ExprKind::Int && as<Int>(e).value == v;
    }

    void mul(const Mul& m) {
        const Expr& l = *m.left;
        const Expr& r = *m.right;
        if (is_int(l, -1)) {
            w_.put("-");
            later(child(m.right, 3));
        } else if (is_int(l, 1)) {
            later(child(m.right, 3));
        } else if (is_int(r, 1)) {
            later(child(m.left, 3));
        } else if (l.is_number() && r.is_number()) {
            later(child(m.right, 3));
            later(literal(" \\cdot "));
            later(child(m.left, 3));
        } else {
            const std::uint64_t owner = ++products_;
            later(Task{.op = Op::ProductDone, .owner = owner});
            later(child(m.right, 3));
            later(Task{.op = Op::FactorDone, .start = w_.size(), .owner = owner});
            later(child(m.left, 3));
        }
    }

    void pow(const Pow& p) {
        const Expr& b = *p.base;
        const bool wrap = b.precedence() < 4 || kind_of(b) == ExprKind::Pow ||
                          (kind_of(b) == ExprKind::Int && as<Int>(b).value < 0) ||
                          (kind_of(b) == ExprKind::Rational && as<Rational>(b).num < 0);
        later(literal("}"));
        later(child(p.exp, 0));
        later(literal("^{"));
        if (wrap) {
            w_.put("\\left(");
            later(literal("\\right)"));
        }
        later(child(p.base, 0));
    }

    Writer w_;
    std::vector<Task> tasks_;
    std::uint64_t products_ = 0;
    const Expr* root_ = nullptr;
    bool size_checked_ = false;
};

}  // namespace

std::string render_latex(const Expr& root) { return Renderer{}.run(root); }

}  // namespace tavrelo
