// Positional structural equality, walked with an explicit stack so depth costs heap, not stack.
#include <cstddef>
#include <functional>
#include <optional>
#include <unordered_set>
#include <utility>
#include <vector>

#include "children.hpp"
#include "expr.hpp"

namespace tavrelo {
namespace {

// Two children to compare, as their parents hold them: the handles tell whether they are shared.
struct Pair {
    const ExprPtr* x;
    const ExprPtr* y;
};

using PairSet = std::unordered_set<std::pair<const Expr*, const Expr*>, struct PairHash>;

struct PairHash {
    std::size_t operator()(const std::pair<const Expr*, const Expr*>& p) const noexcept {
        return std::hash<const Expr*>()(p.first) * 31 + std::hash<const Expr*>()(p.second);
    }
};

bool same_leaf(const Expr& a, const Expr& b) {
    switch (kind_of(a)) {
    case ExprKind::Int: return as<Int>(a).value == as<Int>(b).value;
    case ExprKind::Var: return as<Var>(a).name == as<Var>(b).name;
    case ExprKind::Rational:
        return as<Rational>(a).num == as<Rational>(b).num &&
               as<Rational>(a).den == as<Rational>(b).den;
    default: return true;
    }
}

}  // namespace

bool structurally_equal(const Expr& a, const Expr& b) {
    std::vector<Pair> pending;
    // Pairs of shared subtrees already taken up. The answer is the conjunction over all pairs,
    // so each needs comparing once: two copies of a 2^60-leaf DAG compare in linear time.
    std::optional<PairSet> seen;
    const auto first_visit = [&seen](const Expr* x, const Expr* y) {
        if (!seen) {
            seen.emplace();
        }
        return seen->emplace(x, y).second;
    };
    const Expr* x = &a;
    const Expr* y = &b;
    Pair handles{nullptr, nullptr};  // the roots have no parent handles
    for (;;) {
        if (x != y) {
            if (x->kind() != y->kind() || !same_leaf(*x, *y)) {
                return false;
            }
            const Children cx = children_of(*x);
            const Children cy = children_of(*y);
            // Only a pair of nodes that both have several owners can be met again.
            const bool may_repeat =
                handles.x != nullptr && handles.x->use_count() > 1 && handles.y->use_count() > 1;
            if (cx.first != nullptr && (!may_repeat || first_visit(x, y))) {
                if (cx.second != nullptr) {
                    pending.push_back(Pair{cx.second, cy.second});
                }
                handles = Pair{cx.first, cy.first};
                x = handles.x->get();
                y = handles.y->get();
                continue;
            }
        }
        if (pending.empty()) {
            return true;
        }
        handles = pending.back();
        pending.pop_back();
        x = handles.x->get();
        y = handles.y->get();
    }
}

}  // namespace tavrelo
