// Length of a tree's LaTeX text, counted piece by piece from the rules the renderer follows.
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
constexpr Size kParens = len(latex::kOpen) + len(latex::kClose);
// Between two factors side by side: " \cdot ", a space, or parentheses around the right one.
constexpr Size kWidestJoin = std::max(len(latex::kCdot), kParens);

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

class Sizer {
public:
    Sizer(Size stop_above, std::size_t max_steps)
        : stop_above_(stop_above), steps_left_(max_steps) {}

    std::optional<Size> run(const Expr& root) {
        tasks_.push_back(Task{&root, false, latex::kAnywhere, 0});
        while (!tasks_.empty() && total_ <= stop_above_) {
            if (steps_left_-- == 0) {
                return std::nullopt;
            }
            const Task t = tasks_.back();
            tasks_.pop_back();
            if (t.leaving) {
                memo_.emplace(t.node, total_ - t.started_at);
            } else {
                enter(*t.node, t.least, t.shared);
            }
        }
        return total_;
    }

private:
    struct Task {
        const Expr* node;
        bool leaving;  // all of node's text has been counted since `started_at`
        Precedence least;
        Size started_at;
        bool shared = false;
    };

    void count(Size n) { total_ = add_sat(total_, n); }

    // The pieces of a node's text: fixed ones are counted, children become tasks.
    struct Pieces {
        Sizer& s;
        void literal(std::string_view text) { s.count(text.size()); }
        void integer(std::int64_t v) { s.count(digits(v)); }
        void child(const ExprPtr& c, Precedence least) {
            s.tasks_.push_back(
                Task{c.get(), false, least, 0, c.use_count() > 1 && has_children(*c)});
        }
        void side_by_side(const Mul& m) {
            s.count(kWidestJoin);
            child(m.left, latex::kFactor);
            child(m.right, latex::kFactor);
        }
    };

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

    void enter(const Expr& e, Precedence least, bool shared) {
        if (latex::wrapped_at(e, least)) {
            count(kParens);
        }
        // Only a node reachable along several paths can be met again: remember its length
        // (leaves are as quick to measure as to look up).
        if (shared) {
            if (const auto hit = memo_.find(&e); hit != memo_.end()) {
                count(hit->second);
                return;
            }
            tasks_.push_back(Task{&e, true, latex::kAnywhere, total_});
        }
        Pieces pieces{*this};
        latex::describe(e, pieces);
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
