// LaTeX text of a tree, written front to back into one buffer with an explicit task stack: the
// cost is linear in the output and the depth of the tree costs heap, not native stack.
#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "expr.hpp"
#include "latex_rules.hpp"
#include "latex_size.hpp"
#include "latex_text.hpp"

namespace tavrelo {
namespace {

using latex::is_ascii_letter;
using latex::is_digit;
using latex::Join;

// Thrown when a capped rendering gives up.
struct TooLong {};

class Writer {
public:
    Writer(const Expr& root, std::size_t cap) : root_(root), cap_(cap) {}

    void put(std::string_view s) {
        if (s.empty()) {
            return;
        }
        if (awaited_ != nullptr) {
            begin_right_factor(s.front());
        }
        if (pending_ != Join::None) {
            const std::string_view between =
                latex::separator(pending_, static_cast<unsigned char>(s.front()));
            if (!between.empty()) {
                append(between);
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

    // The left factor of the product `m` was written from `start` on; the first byte of the
    // right factor decides the separator and whether that factor is parenthesised. An empty
    // left factor leaves any separator still awaited by an enclosing product in force: its
    // right factor begins with whatever this one writes. The innermost product whose right
    // factor has not begun decides the parentheses: an enclosing one then sees "\left(".
    void left_factor_done(const Mul& m, std::size_t start) {
        if (out_.size() > start) {
            pending_ = ending_since(start);
        }
        awaited_ = &m;
    }

    // The product `m` that began at `start` is complete. If it wrote anything, a separator
    // still awaited is its own (its right factor was empty) and lapses; otherwise it belongs to
    // an enclosing product and stays.
    void product_done(const Mul& m, std::size_t start) {
        if (awaited_ == &m) {
            awaited_ = nullptr;
        }
        if (!wrapped_.empty() && wrapped_.back() == &m) {
            wrapped_.pop_back();
            append("\\right)");
        }
        if (out_.size() > start) {
            pending_ = Join::None;
        }
    }

    std::string take() { return std::move(out_); }

private:
    // The first byte of the right factor of `awaited_` is about to be written: a minus sign
    // would read as a subtraction, so that factor goes in parentheses.
    void begin_right_factor(char first) {
        if (first == '-') {
            append("\\left(");
            wrapped_.push_back(awaited_);
            pending_ = Join::None;  // nothing goes between a factor and "\left("
        }
        awaited_ = nullptr;
    }

    // How the text written since `start` ends, for the separator before the next factor.
    [[nodiscard]] Join ending_since(std::size_t start) const {
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
        if (old + s.size() > room_) {
            grow(old + s.size());
        }
        out_.append(s);
        std::size_t i = s.size();
        while (i > 0 && is_ascii_letter(static_cast<unsigned char>(s[i - 1]))) {
            --i;
        }
        if (i > 0) {
            letter_run_start_ = old + i;
        }
    }

    // `room_` is the capacity, or the cap when that is smaller: passing it is the one test the
    // hot path makes for both.
    [[gnu::noinline, gnu::cold]] void grow(std::size_t needed) {
        if (needed > cap_) {
            throw TooLong{};
        }
        if (cap_ == SIZE_MAX) {
            before_growing(needed);
        }
        if (needed > out_.capacity()) {
            out_.reserve(std::max(needed, 2 * out_.capacity()));
        }
        room_ = std::min(out_.capacity(), cap_);
    }

    // A text can outgrow its tree only where subtrees are shared: 61 nodes can stand for 2^60
    // leaves. Each time a long text doubles, the renderer tries to measure the whole text with a
    // small budget of steps (shared subtrees are measured once, so such a tree measures
    // quickly), refuses at once a text that memory cannot hold, and otherwise gives the buffer
    // its final size. A large tree without sharing exceeds the budget: its text costs memory in
    // proportion to the tree anyway, and the budget keeps the tries to a few percent.
    [[gnu::noinline, gnu::cold]] void before_growing(std::size_t needed) {
        if (measured_ || needed <= next_measure_) {
            return;
        }
        next_measure_ = needed * 2;
        const std::uint64_t limit = latex_text_limit();
        const auto bound = latex_size_bound_within(root_, limit, needed / kBytesPerStep);
        if (!bound) {
            return;
        }
        measured_ = true;
        if (*bound > limit || *bound > out_.max_size()) {
            throw std::bad_alloc();
        }
        out_.reserve(static_cast<std::size_t>(*bound));
    }

    static constexpr std::size_t kBytesPerStep = 256;

    const Expr& root_;
    const std::size_t cap_;
    std::size_t room_ = 0;
    std::string out_;
    std::size_t letter_run_start_ = 0;  // where the trailing run of ASCII letters begins
    Join pending_ = Join::None;
    const Mul* awaited_ = nullptr;     // the product whose right factor has not begun yet
    std::vector<const Mul*> wrapped_;  // products whose right factor is in parentheses
    std::size_t next_measure_ = std::size_t{64} << 10;
    bool measured_ = false;
};

enum class Op : std::uint8_t {
    Node,        // render `node`, in parentheses when its precedence is below `min_prec`
    Literal,     // write `text`
    AddRight,    // the right-hand part of the sum `node`
    MulRight,    // the left factor of the product `node`, begun at `start`, is written
    ProductDone  // the product begun at `start` is written
};

// Kept small: a deep tree keeps one pending task per level on the stack.
struct Task {
    Op op;
    std::uint8_t min_prec;
    std::uint32_t length;  // of `text`
    union {
        const Expr* node;
        const char* text;
    };
    std::size_t start;
};
static_assert(sizeof(Task) <= 24);

Task node_task(const Expr* n, int min_prec, Op op = Op::Node, std::size_t start = 0) {
    Task t;
    t.op = op;
    t.min_prec = static_cast<std::uint8_t>(min_prec);
    t.length = 0;
    t.node = n;
    t.start = start;
    return t;
}

Task literal_task(std::string_view s) {
    Task t = node_task(nullptr, 0, Op::Literal);
    t.length = static_cast<std::uint32_t>(s.size());
    t.text = s.data();
    return t;
}

Task position_task(Op op, const Expr* n, std::size_t start) { return node_task(n, 0, op, start); }

class Renderer {
public:
    Renderer(std::vector<Task>& tasks, const Expr& root, std::size_t cap = SIZE_MAX,
             const std::unordered_set<const Expr*>* stop_at = nullptr)
        : w_(root, cap), tasks_(tasks), stop_at_(stop_at) {
        tasks_.clear();
    }

    std::string run(const Expr& root) {
        tasks_.push_back(node_task(&root, 0));
        while (!tasks_.empty()) {
            const Task t = tasks_.back();
            tasks_.pop_back();
            switch (t.op) {
            case Op::Node: render(*t.node, t.min_prec); break;
            case Op::Literal: w_.put(std::string_view(t.text, t.length)); break;
            case Op::AddRight: add_right(as<Add>(*t.node)); break;
            case Op::MulRight:
                w_.left_factor_done(as<Mul>(*t.node), t.start);
                later(position_task(Op::ProductDone, t.node, t.start));
                later(node_task(as<Mul>(*t.node).right.get(), 3));
                break;
            case Op::ProductDone: w_.product_done(as<Mul>(*t.node), t.start); break;
            }
        }
        return w_.take();
    }

private:
    // Tasks run last-in first-out: push the pieces of a node's text in reverse.
    void later(const Task& t) { tasks_.push_back(t); }

    void render(const Expr& e, int min_prec) {
        if (stop_at_ != nullptr && stop_at_->count(&e) != 0) {
            throw TooLong{};
        }
        if (e.precedence() < min_prec) {
            w_.put("\\left(");
            later(literal_task("\\right)"));
        }
        switch (kind_of(e)) {
        case ExprKind::Int: w_.put_int(as<Int>(e).value); break;
        case ExprKind::Var: w_.put(as<Var>(e).name); break;
        case ExprKind::Rational: rational(as<Rational>(e)); break;
        case ExprKind::Neg:
            w_.put("-");
            later(node_task(as<Neg>(e).operand.get(), 2));
            break;
        case ExprKind::Add:
            later(position_task(Op::AddRight, &e, 0));
            later(node_task(as<Add>(e).left.get(), 0));
            break;
        case ExprKind::Mul: mul(as<Mul>(e)); break;
        case ExprKind::Div:
            w_.put("\\frac{");
            later(literal_task("}"));
            later(node_task(as<Div>(e).den.get(), 0));
            later(literal_task("}{"));
            later(node_task(as<Div>(e).num.get(), 0));
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
        later(literal_task(close));
        later(node_task(operand.get(), 0));
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
            later(node_task(as<Neg>(r).operand.get(), 2));
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
        later(node_task(&r, 0));
    }

    static bool is_int(const Expr& e, int v) {
        return kind_of(e) == ExprKind::Int && as<Int>(e).value == v;
    }

    void mul(const Mul& m) {
        const Expr& l = *m.left;
        const Expr& r = *m.right;
        if (is_int(l, -1)) {
            w_.put("-");
            later(node_task(&r, 3));
        } else if (is_int(l, 1)) {
            later(node_task(&r, 3));
        } else if (is_int(r, 1)) {
            later(node_task(&l, 3));
        } else if (l.is_number() && r.is_number()) {
            later(node_task(&r, 3));
            later(literal_task(" \\cdot "));
            later(node_task(&l, 3));
        } else {
            later(position_task(Op::MulRight, &m, w_.size()));
            later(node_task(&l, 3));
        }
    }

    void pow(const Pow& p) {
        const Expr& b = *p.base;
        const bool wrap = latex::wrapped_as_power_base(b);
        later(literal_task("}"));
        later(node_task(p.exp.get(), 0));
        later(literal_task("^{"));
        if (wrap) {
            w_.put("\\left(");
            later(literal_task("\\right)"));
        }
        later(node_task(&b, 0));
    }

    Writer w_;
    std::vector<Task>& tasks_;
    const std::unordered_set<const Expr*>* stop_at_;
};

// A stack that a deep tree grew is not kept for the rest of the thread's life.
constexpr std::size_t kKeptTasks = 4096;

// Reused between calls on a thread: the expander renders many small terms.
thread_local std::vector<Task> tasks;

void trim_tasks() {
    if (tasks.capacity() > kKeptTasks) {
        tasks = std::vector<Task>();
    }
}

}  // namespace

std::string render_latex(const Expr& root) {
    std::string text = Renderer(tasks, root).run(root);
    trim_tasks();
    return text;
}

std::optional<std::string> render_latex_within(const Expr& root, std::size_t max_bytes,
                                               const std::unordered_set<const Expr*>* stop_at) {
    try {
        std::string text = Renderer(tasks, root, max_bytes, stop_at).run(root);
        trim_tasks();
        return text;
    } catch (const TooLong&) {
        trim_tasks();
        return std::nullopt;
    }
}

}  // namespace tavrelo
