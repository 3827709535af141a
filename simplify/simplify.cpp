// Entry point and traversal of the simplifier: children first, left before right, then the rule
// list of the node's kind.
#include "simplify/simplify.hpp"

#include <unordered_map>
#include <utility>

#include "core/deep_stack.hpp"
#include "simplify/rules.hpp"

namespace tavrelo {
namespace {

bool is_leaf(ExprKind kind) {
    switch (kind) {
    case ExprKind::Int:
    case ExprKind::Var:
    case ExprKind::Rational:
    case ExprKind::Pi:
    case ExprKind::E: return true;
    default: return false;
    }
}

// One call's walk. Shared subtrees (a DAG) are simplified once: the memo holds the result of
// every non-leaf node that has more than one owner, keyed by identity. A node with a single
// owner is reached once anyway, so the common tree-shaped input never touches the memo.
class Walk {
public:
    ExprPtr root(const ExprPtr& e) {
        if (is_leaf(kind_of(*e))) {
            return e;
        }
        return with_stack_room([&] { return rebuild(*e); });
    }

private:
    ExprPtr visit(const ExprPtr& e) {
        if (is_leaf(kind_of(*e))) {
            return e;
        }
        if (e.use_count() == 1) {
            return with_stack_room([&] { return rebuild(*e); });
        }
        if (const auto hit = memo_.find(e.get()); hit != memo_.end()) {
            return hit->second;
        }
        ExprPtr result = with_stack_room([&] { return rebuild(*e); });
        memo_.emplace(e.get(), result);
        return result;
    }

    template <class Node>
    ExprPtr unary(const Expr& e) {
        return visit(as<Node>(e).operand);
    }

    ExprPtr rebuild(const Expr& e) {
        using namespace detail;
        switch (const ExprKind kind = kind_of(e)) {
        case ExprKind::Neg: return neg_rules(unary<Neg>(e));
        case ExprKind::Sqrt: return sqrt_rules(unary<Sqrt>(e));
        case ExprKind::Cbrt: return cbrt_rules(unary<Cbrt>(e));
        case ExprKind::Sin: return trig_rules(kind, unary<Sin>(e));
        case ExprKind::Cos: return trig_rules(kind, unary<Cos>(e));
        case ExprKind::Tan: return trig_rules(kind, unary<Tan>(e));
        case ExprKind::Log: return log_rules(unary<Log>(e));
        case ExprKind::Add: {
            ExprPtr l = visit(as<Add>(e).left);
            ExprPtr r = visit(as<Add>(e).right);
            return add_rules(std::move(l), std::move(r));
        }
        case ExprKind::Mul: {
            ExprPtr l = visit(as<Mul>(e).left);
            ExprPtr r = visit(as<Mul>(e).right);
            return mul_rules(std::move(l), std::move(r));
        }
        case ExprKind::Div: {
            ExprPtr n = visit(as<Div>(e).num);
            ExprPtr d = visit(as<Div>(e).den);
            return div_rules(std::move(n), std::move(d));
        }
        case ExprKind::Pow: {
            ExprPtr b = visit(as<Pow>(e).base);
            ExprPtr x = visit(as<Pow>(e).exp);
            return pow_rules(std::move(b), std::move(x));
        }
        default: return nullptr;  // leaves never get here
        }
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
