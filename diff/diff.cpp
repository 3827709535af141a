// The walk of one derivative: children before parents, with an explicit stack so that depth
// costs heap rather than native stack, and each shared subtree differentiated once.
#include "diff/diff.hpp"

#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/children.hpp"
#include "core/node_pool.hpp"
#include "diff/rules.hpp"
#include "diff/textbook.hpp"
#include "simplify/simplify.hpp"

namespace tavrelo {
namespace {

using textbook::Term;

struct Step {
    const ExprPtr* node;
    bool children_pushed;
};

// The walk's stacks are kept between calls on a thread. A large allocation at every call can cost
// more than a small derivative: the C library first merges every small block freed since the
// last one, by any code of the process. A stack that a deep tree grew is not kept.
constexpr std::size_t kKeptEntries = std::size_t{1} << 16;
thread_local std::vector<Step> spare_steps;
thread_local std::vector<Term> spare_results;

class Walk {
public:
    explicit Walk(std::string_view var)
        : ctx_{var, make_node<Var>(std::string(var))}, pending_(std::move(spare_steps)),
          results_(std::move(spare_results)) {}

    ~Walk() {
        pending_.clear();
        results_.clear();
        if (pending_.capacity() <= kKeptEntries && results_.capacity() <= kKeptEntries) {
            spare_steps = std::move(pending_);
            spare_results = std::move(results_);
        }
    }

    Walk(const Walk&) = delete;
    Walk& operator=(const Walk&) = delete;

    Term run(const ExprPtr& root) {
        pending_.push_back({&root, false});
        while (!pending_.empty()) {
            Step& step = pending_.back();
            const ExprPtr& node = *step.node;
            if (step.children_pushed) {
                pending_.pop_back();  // `node` stays valid: its parent or the caller holds it
                finish(node);
                continue;
            }
            if (const Term* leaf = leaf_derivative(*node)) {
                results_.push_back(*leaf);
                pending_.pop_back();
                continue;
            }
            // A node with several owners may be met again: answer from the memo. Looked up when
            // the step comes up, so a second visit finds the first one's result.
            if (node.use_count() > 1) {
                if (const auto hit = memo_.find(node.get()); hit != memo_.end()) {
                    results_.push_back(hit->second);
                    pending_.pop_back();
                    continue;
                }
            }
            const Children c = children_of(*node);
            const Term* d_first = leaf_derivative(**c.first);
            const Term* d_second = c.second ? leaf_derivative(**c.second) : &zero_;
            if (d_first != nullptr && d_second != nullptr) {
                // Only leaves below (x^3, 2y): no steps for them. Most nodes of a polynomial.
                pending_.pop_back();
                if (d_first == &zero_ && d_second == &zero_) {
                    results_.push_back(zero_);
                } else {
                    record(node, detail::derivative_of(node, *d_first, *d_second, ctx_));
                }
                continue;
            }
            step.children_pushed = true;
            if (c.second != nullptr) {
                pending_.push_back({c.second, false});
            }
            pending_.push_back({c.first, false});
        }
        return std::move(results_.back());
    }

private:
    // Leaves answer at once: the variable itself is 1, every other leaf 0. nullptr: not a leaf.
    const Term* leaf_derivative(const Expr& e) const {
        switch (kind_of(e)) {
        case ExprKind::Var: return as<Var>(e).name == ctx_.var ? &one_ : &zero_;
        case ExprKind::Int:
        case ExprKind::Rational:
        case ExprKind::Pi:
        case ExprKind::E: return &zero_;
        default: return nullptr;
        }
    }

    void finish(const ExprPtr& node) {
        Term d_second = Term::zero();
        if (children_of(*node).second != nullptr) {
            d_second = std::move(results_.back());
            results_.pop_back();
        }
        Term d_first = std::move(results_.back());
        results_.pop_back();
        if (d_first.is_zero() && d_second.is_zero()) {
            results_.push_back(zero_);  // free of the variable: nothing to build or remember
            return;
        }
        record(node, detail::derivative_of(node, std::move(d_first), std::move(d_second), ctx_));
    }

    void record(const ExprPtr& node, Term d) {
        if (node.use_count() > 1) {
            // Shared results are nodes, so that every use shares them rather than its own copy.
            d = Term::of(textbook::build(d));
            memo_.emplace(node.get(), d);
        }
        results_.push_back(std::move(d));
    }

    const detail::DiffContext ctx_;
    const Term zero_ = Term::zero();
    const Term one_ = Term::number(detail::Coefficient{1, 1});
    std::vector<Step> pending_;  // initialised from the spares: declared after ctx_, as used
    std::vector<Term> results_;
    std::unordered_map<const Expr*, Term> memo_;
};

}  // namespace

ExprPtr diff_simplified(const ExprPtr& simplified, std::string_view var) {
    if (!simplified) {
        return simplified;
    }
    return textbook::build(Walk(var).run(simplified));
}

ExprPtr diff(ExprPtr expr, std::string_view var, int order,
             const std::function<void()>& before_step) {
    if (order < 0) {
        throw std::invalid_argument("微分の階数は 0 以上の整数で指定してください");
    }
    // A tree that is already simplified (a result of expand, say) is not rebuilt first.
    ExprPtr result =
        order > 0 && expr && is_simplified(expr) ? std::move(expr) : simplify(std::move(expr));
    for (int i = 0; i < order && result; ++i) {
        if (before_step) {
            before_step();
        }
        result = diff_simplified(result, var);
        if (is_int_value(result, 0)) {
            break;  // every further derivative is 0 too
        }
    }
    return result;
}

}  // namespace tavrelo
