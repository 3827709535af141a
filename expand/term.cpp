#include "expand/term.hpp"

#include <algorithm>
#include <utility>

#include "core/checked_int.hpp"

namespace tavrelo {

Term merge_terms(const Term& left, const Term& right) {
    Term out{checked_mul(left.coefficient, right.coefficient), left.factors};
    for (const Factor& f : right.factors) {
        // The scan covers factors appended earlier in this merge too.
        const auto same = std::find_if(out.factors.begin(), out.factors.end(),
                                       [&](const Factor& g) { return g.base->equals(f.base); });
        if (same != out.factors.end()) {
            same->exponent = checked_add(same->exponent, f.exponent);
        } else {
            out.factors.push_back(f);
        }
    }
    return out;
}

namespace {

// A summand that is neither a product nor a negation.
Term single_term(const ExprPtr& summand) {
    const Expr& e = *summand;
    if (kind_of(e) == ExprKind::Int) {
        return Term{as<Int>(e).value, {}};
    }
    if (kind_of(e) == ExprKind::Pow && kind_of(*as<Pow>(e).exp) == ExprKind::Int) {
        return Term{1, {Factor{as<Pow>(e).base, as<Int>(*as<Pow>(e).exp).value}}};
    }
    return Term{1, {Factor{summand, 1}}};
}

bool nests(const Expr& e) { return kind_of(e) == ExprKind::Neg || kind_of(e) == ExprKind::Mul; }

}  // namespace

// Children before parents, left before right, with an explicit stack: products and negations
// may nest a million deep.
Term decompose_term(const ExprPtr& summand) {
    if (!nests(*summand)) {
        return single_term(summand);
    }
    struct Frame {
        const ExprPtr* node;
        bool operands_done;
    };
    std::vector<Frame> frames{{&summand, false}};
    std::vector<Term> values;
    while (!frames.empty()) {
        const Frame f = frames.back();
        frames.pop_back();
        const Expr& e = **f.node;
        if (!nests(e)) {
            values.push_back(single_term(*f.node));
        } else if (kind_of(e) == ExprKind::Neg) {
            if (f.operands_done) {
                values.back().coefficient = checked_neg(values.back().coefficient);
            } else {
                frames.push_back({f.node, true});
                frames.push_back({&as<Neg>(e).operand, false});
            }
        } else if (f.operands_done) {
            Term right = std::move(values.back());
            values.pop_back();
            values.back() = merge_terms(values.back(), right);
        } else {
            frames.push_back({f.node, true});
            frames.push_back({&as<Mul>(e).right, false});
            frames.push_back({&as<Mul>(e).left, false});
        }
    }
    return std::move(values.back());
}

void split_sum(const ExprPtr& e, std::vector<Term>& summands) {
    // Depth-first, left before right, without recursion: sums may nest a million deep.
    std::vector<const ExprPtr*> pending{&e};
    while (!pending.empty()) {
        const ExprPtr& node = *pending.back();
        pending.pop_back();
        if (kind_of(*node) == ExprKind::Add) {
            pending.push_back(&as<Add>(*node).right);
            pending.push_back(&as<Add>(*node).left);
        } else {
            summands.push_back(decompose_term(node));
        }
    }
}

}  // namespace tavrelo
