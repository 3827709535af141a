#include "expand/engine.hpp"

#include <memory>
#include <utility>

#include "core/node_pool.hpp"
#include "expand/operations.hpp"

namespace tavrelo::fast {
namespace {

// Kinds the expander takes whole: the leaves, and quotients, which it does not expand.
bool taken_whole(ExprKind k) {
    switch (k) {
    case ExprKind::Int:
    case ExprKind::Var:
    case ExprKind::Rational:
    case ExprKind::Div:
    case ExprKind::Pi:
    case ExprKind::E: return true;
    default: return false;
    }
}

const ExprPtr* operand_of(const Expr& e) {
    switch (kind_of(e)) {
    case ExprKind::Neg: return &as<Neg>(e).operand;
    case ExprKind::Sqrt: return &as<Sqrt>(e).operand;
    case ExprKind::Cbrt: return &as<Cbrt>(e).operand;
    case ExprKind::Sin: return &as<Sin>(e).operand;
    case ExprKind::Cos: return &as<Cos>(e).operand;
    case ExprKind::Tan: return &as<Tan>(e).operand;
    case ExprKind::Log: return &as<Log>(e).operand;
    case ExprKind::Pow: return &as<Pow>(e).base;
    default: return nullptr;
    }
}

ExprPtr rebuild_function(const Expr& s, ExprPtr operand) {
    switch (kind_of(s)) {
    case ExprKind::Sqrt: return make_node<Sqrt>(std::move(operand));
    case ExprKind::Cbrt: return make_node<Cbrt>(std::move(operand));
    case ExprKind::Sin: return make_node<Sin>(std::move(operand));
    case ExprKind::Cos: return make_node<Cos>(std::move(operand));
    case ExprKind::Tan: return make_node<Tan>(std::move(operand));
    default: return make_node<Log>(std::move(operand));
    }
}

}  // namespace

PolyRef Engine::checked(PolyRef value) const {
    if constexpr (kCheckInvariants) {
        check_invariants(*value, ws_.bases, ws_.keys_if_made());
    }
    return value;
}

ExprPtr Engine::expand(const ExprPtr& simplified) {
    const PolyRef result = eval(simplified);
    ExprPtr tree_of_result = tree(ws_, *result);
    // The result's key arrays are not read again: they serve the next call's products.
    if (Packed* packed = result->packed()) {
        ws_.tables().products.recycle(std::move(packed->value));
    }
    return tree_of_result;
}

// Children before parents, left before right, with an explicit stack: depth costs heap only.
PolyRef Engine::eval(const ExprPtr& root) {
    struct Frame {
        const ExprPtr* node;
        bool operands_done;
    };
    std::vector<Frame> frames{{&root, false}};
    std::vector<PolyRef> values;
    while (!frames.empty()) {
        const Frame f = frames.back();
        frames.pop_back();
        const ExprPtr& s = *f.node;
        const ExprKind k = kind_of(*s);
        const bool shared = !taken_whole(k) && s.use_count() > 1;
        if (!f.operands_done) {
            if (shared) {
                const auto known = memo_.find(s.get());
                if (known != memo_.end()) {
                    values.push_back(known->second);
                    continue;
                }
            }
            if (taken_whole(k)) {
                values.push_back(checked(raw_value(ws_, s)));
                continue;
            }
            frames.push_back({f.node, true});
            if (k == ExprKind::Add || k == ExprKind::Mul) {
                const auto& right = k == ExprKind::Add ? as<Add>(*s).right : as<Mul>(*s).right;
                const auto& left = k == ExprKind::Add ? as<Add>(*s).left : as<Mul>(*s).left;
                frames.push_back({&right, false});
                frames.push_back({&left, false});
            } else {
                frames.push_back({operand_of(*s), false});
            }
            continue;
        }
        PolyRef result = checked(combine(*s, values));
        if (shared) {
            memo_.emplace(s.get(), result);
        }
        values.push_back(std::move(result));
    }
    return std::move(values.back());
}

PolyRef Engine::combine(const Expr& s, std::vector<PolyRef>& values) {
    PolyRef last = std::move(values.back());
    values.pop_back();
    switch (kind_of(s)) {
    case ExprKind::Neg: return negate(ws_, std::move(last));
    case ExprKind::Add:
    case ExprKind::Mul: {
        PolyRef first = std::move(values.back());
        values.pop_back();
        return kind_of(s) == ExprKind::Add ? add(ws_, std::move(first), std::move(last))
                                           : multiply(ws_, std::move(first), std::move(last));
    }
    case ExprKind::Pow: {
        const ExprPtr& exp = as<Pow>(s).exp;
        if (kind_of(*exp) == ExprKind::Int && as<Int>(*exp).value >= 0) {
            return recollect(ws_, power(ws_, last, as<Int>(*exp).value));
        }
        return raw_value(ws_, make_node<Pow>(tree(ws_, *last), exp));
    }
    default: return raw_value(ws_, rebuild_function(s, tree(ws_, *last)));
    }
}

}  // namespace tavrelo::fast
