// Entry point and traversal of the simplifier: children first, left before right, then the rule
// list of the node's kind.
#include "simplify/simplify.hpp"

#include <unordered_map>
#include <utility>

#include "core/deep_stack.hpp"
#include "simplify/rules.hpp"

namespace tavrelo {
namespace {

bool is_leaf(ExprKind kind) { return arity_of(kind) == 0; }

// One call's walk. Shared subtrees (a DAG) are simplified once: the memo holds the result of
// every non-leaf node that has more than one owner, keyed by identity. A node with a single
// owner is reached once anyway, so the common tree-shaped input never touches the memo.
class Walk {
public:
    ExprPtr root(const ExprPtr& e) {
        const ExprKind kind = kind_of(*e);
        if (is_leaf(kind)) {
            return e;
        }
        return rebuild(*e, kind);
    }

private:
    ExprPtr visit(const ExprPtr& e) {
        const ExprKind kind = kind_of(*e);
        if (is_leaf(kind)) {
            return e;
        }
        if (e.use_count() == 1) {
            return rebuild(*e, kind);
        }
        return visit_shared(e, kind);
    }

    [[gnu::noinline]] ExprPtr visit_shared(const ExprPtr& e, ExprKind kind) {
        if (const auto hit = memo_.find(e.get()); hit != memo_.end()) {
            return hit->second;
        }
        ExprPtr result = rebuild(*e, kind);
        memo_.emplace(e.get(), result);
        return result;
    }

    // The recursion runs through this function. Stack per level is what a million-deep tree
    // multiplies, so the cold fresh-stack path and the per-kind work stay out of its frame.
    ExprPtr rebuild(const Expr& e, ExprKind kind) {
        if (stack_is_low()) {
            return rebuild_with_room(e, kind);
        }
        switch (kind) {
        case ExprKind::Neg: return detail::neg_rules(visit(as<Neg>(e).operand));
        case ExprKind::Sqrt: return detail::sqrt_rules(visit(as<Sqrt>(e).operand));
        case ExprKind::Cbrt: return detail::cbrt_rules(visit(as<Cbrt>(e).operand));
        case ExprKind::Sin: return detail::trig_rules(kind, visit(as<Sin>(e).operand));
        case ExprKind::Cos: return detail::trig_rules(kind, visit(as<Cos>(e).operand));
        case ExprKind::Tan: return detail::trig_rules(kind, visit(as<Tan>(e).operand));
        case ExprKind::Log: return detail::log_rules(visit(as<Log>(e).operand));
        case ExprKind::Add: return binary<Add, &Add::left, &Add::right, detail::add_rules>(e);
        case ExprKind::Mul: return binary<Mul, &Mul::left, &Mul::right, detail::mul_rules>(e);
        case ExprKind::Div: return binary<Div, &Div::num, &Div::den, detail::div_rules>(e);
        case ExprKind::Pow: return binary<Pow, &Pow::base, &Pow::exp, detail::pow_rules>(e);
        default: return nullptr;  // leaves never get here
        }
    }

    // First child before second: the first error of a left-to-right walk is the one reported.
    template <class Node, auto First, auto Second, auto Rules>
    [[gnu::noinline]] ExprPtr binary(const Expr& e) {
        const auto& node = as<Node>(e);
        ExprPtr first = visit(node.*First);
        ExprPtr second = visit(node.*Second);
        return Rules(std::move(first), std::move(second));
    }

    [[gnu::noinline, gnu::cold]] ExprPtr rebuild_with_room(const Expr& e, ExprKind kind) {
        return with_stack_room([&] { return rebuild(e, kind); });
    }

    std::unordered_map<const Expr*, ExprPtr> memo_;
};

}  // namespace

ExprPtr simplify(ExprPtr expr) {
    if (!expr) {
        return expr;
    }
    return Walk().root(expr);
}

bool is_int_value(const ExprPtr& e, int n) {
    return kind_of(*e) == ExprKind::Int && as<Int>(*e).value == n;
}

}  // namespace tavrelo
