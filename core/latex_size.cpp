// Length of a tree's LaTeX text, mirroring the renderer's rules piece by piece.
#include "latex_size.hpp"

#include "latex_rules.hpp"

#include <unistd.h>

#include <algorithm>
#include <limits>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tavrelo {
namespace {

using Size = std::uint64_t;
constexpr Size kMax = std::numeric_limits<Size>::max();

constexpr Size len(std::string_view s) { return s.size(); }
constexpr Size kParens = len("\\left(") + len("\\right)");
constexpr Size kFrame = len("\\frac{") + len("}{") + len("}");
// Between two factors side by side: a separator, or parentheses around a right factor that
// begins with a minus sign, never both.
constexpr Size kWidestJoin = std::max(len(" \\cdot "), kParens);

Size add_sat(Size a, Size b) { return a > kMax - b ? kMax : a + b; }

Size digits(std::int64_t v) {
    Size n = v < 0 ? 2 : 1;
    std::uint64_t m = v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
    while (m >= 10) {
        m /= 10;
        ++n;
    }
    return n;
}

Size fraction(std::int64_t num, std::int64_t den) { return kFrame + digits(num) + digits(den); }

Size rational(const Rational& r) {
    if (r.den == 1) {
        return digits(r.num);
    }
    return r.num < 0 ? 1 + fraction(-std::int64_t{r.num}, r.den) : fraction(r.num, r.den);
}

bool is_int(const Expr& e, int v) { return kind_of(e) == ExprKind::Int && as<Int>(e).value == v; }

class Sizer {
public:
    Sizer(Size stop_above, std::size_t max_steps)
        : stop_above_(stop_above), steps_left_(max_steps) {}

    std::optional<Size> run(const Expr& root) {
        tasks_.push_back(Task{&root, false, 0, 0});
        while (!tasks_.empty() && total_ <= stop_above_) {
            if (steps_left_-- == 0) {
                return std::nullopt;
            }
            const Task t = tasks_.back();
            tasks_.pop_back();
            if (t.leaving) {
                memo_.emplace(t.node, total_ - t.started_at);
            } else {
                enter(*t.node, t.min_prec, t.shared);
            }
        }
        return total_;
    }

private:
    struct Task {
        const Expr* node;
        bool leaving;  // all of node's text has been counted since `started_at`
        int min_prec;
        Size started_at;
        bool shared = false;
    };

    void count(Size n) { total_ = add_sat(total_, n); }

    // A child as the renderer pushes it: parenthesised below `min_prec`.
    void child(const ExprPtr& p, int min_prec) {
        tasks_.push_back(Task{p.get(), false, min_prec, 0, p.use_count() > 1 && has_children(*p)});
    }

    static bool has_children(const Expr& e) {
        switch (kind_of(e)) {
        case ExprKind::Int:
        case ExprKind::Var:
        case ExprKind::Rational:
        case ExprKind::Pi:
        case ExprKind::E: return false;
        default: return true;
        }
    }

    void enter(const Expr& e, int min_prec, bool shared) {
        if (e.precedence() < min_prec) {
            count(kParens);
        }
        // Only a node reachable along several paths can be met again: remember its length
        // (leaves are as quick to measure as to look up).
        if (shared) {
            if (const auto hit = memo_.find(&e); hit != memo_.end()) {
                count(hit->second);
                return;
            }
            tasks_.push_back(Task{&e, true, 0, total_});
        }
        switch (kind_of(e)) {
        case ExprKind::Int: count(digits(as<Int>(e).value)); break;
        case ExprKind::Var: count(as<Var>(e).name.size()); break;
        case ExprKind::Rational: count(rational(as<Rational>(e))); break;
        case ExprKind::Neg:
            count(1);
            child(as<Neg>(e).operand, 2);
            break;
        case ExprKind::Add: add(as<Add>(e)); break;
        case ExprKind::Mul: mul(as<Mul>(e)); break;
        case ExprKind::Div:
            count(kFrame);
            child(as<Div>(e).num, 0);
            child(as<Div>(e).den, 0);
            break;
        case ExprKind::Pow: pow(as<Pow>(e)); break;
        case ExprKind::Sqrt: wrapped("\\sqrt{}", as<Sqrt>(e).operand); break;
        case ExprKind::Cbrt: wrapped("\\sqrt[3]{}", as<Cbrt>(e).operand); break;
        case ExprKind::Sin: wrapped("\\sin\\left(\\right)", as<Sin>(e).operand); break;
        case ExprKind::Cos: wrapped("\\cos\\left(\\right)", as<Cos>(e).operand); break;
        case ExprKind::Tan: wrapped("\\tan\\left(\\right)", as<Tan>(e).operand); break;
        case ExprKind::Log: wrapped("\\ln\\left(\\right)", as<Log>(e).operand); break;
        case ExprKind::Pi: count(len("\\pi")); break;
        case ExprKind::E: count(1); break;
        }
    }

    void wrapped(std::string_view pieces, const ExprPtr& operand) {
        count(pieces.size());
        child(operand, 0);
    }

    void add(const Add& a) {
        child(a.left, 0);
        const Expr& r = *a.right;
        count(len(" + "));  // " - " is as long
        switch (kind_of(r)) {
        case ExprKind::Neg: child(as<Neg>(r).operand, 2); return;
        case ExprKind::Int:
            if (as<Int>(r).value < 0) {
                count(digits(-std::int64_t{as<Int>(r).value}));
                return;
            }
            break;
        case ExprKind::Rational:
            if (const auto& q = as<Rational>(r); q.num < 0) {
                const std::int64_t magnitude = -std::int64_t{q.num};
                count(q.den == 1 ? digits(magnitude) : fraction(magnitude, q.den));
                return;
            }
            break;
        default: break;
        }
        child(a.right, 0);
    }

    void mul(const Mul& m) {
        if (is_int(*m.left, -1)) {
            count(1);
            child(m.right, 3);
        } else if (is_int(*m.left, 1)) {
            child(m.right, 3);
        } else if (is_int(*m.right, 1)) {
            child(m.left, 3);
        } else {
            count(kWidestJoin);
            child(m.left, 3);
            child(m.right, 3);
        }
    }

    void pow(const Pow& p) {
        const Expr& b = *p.base;
        const bool wrap = latex::wrapped_as_power_base(b);
        count(len("^{}") + (wrap ? kParens : 0));
        child(p.base, 0);
        child(p.exp, 0);
    }

    Size stop_above_;
    std::size_t steps_left_;
    Size total_ = 0;
    std::vector<Task> tasks_;
    std::unordered_map<const Expr*, Size> memo_;
};

}  // namespace

std::uint64_t latex_size_bound(const Expr& root, std::uint64_t stop_above) {
    return *Sizer(stop_above, SIZE_MAX).run(root);
}

std::optional<std::uint64_t> latex_size_bound_within(const Expr& root, std::uint64_t stop_above,
                                                     std::size_t max_steps) {
    return Sizer(stop_above, max_steps).run(root);
}

std::uint64_t latex_text_limit() noexcept {
    static const std::uint64_t limit = [] {
        const long pages = sysconf(_SC_PHYS_PAGES);
        const long page_size = sysconf(_SC_PAGESIZE);
        if (pages <= 0 || page_size <= 0) {
            return std::uint64_t{1} << 32;
        }
        return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size) / 2;
    }();
    return limit;
}

}  // namespace tavrelo
