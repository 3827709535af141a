#include "expand/term.hpp"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <utility>

#include "core/checked_int.hpp"
#include "core/deep_stack.hpp"
#include "core/node_pool.hpp"

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

Term decompose_term(const ExprPtr& summand) {
    return with_stack_room([&]() -> Term {
        const Expr& e = *summand;
        switch (kind_of(e)) {
        case ExprKind::Int: return Term{as<Int>(e).value, {}};
        case ExprKind::Neg: {
            Term t = decompose_term(as<Neg>(e).operand);
            t.coefficient = checked_neg(t.coefficient);
            return t;
        }
        case ExprKind::Mul:
            return merge_terms(decompose_term(as<Mul>(e).left), decompose_term(as<Mul>(e).right));
        case ExprKind::Pow: {
            const Pow& p = as<Pow>(e);
            if (kind_of(*p.exp) == ExprKind::Int) {
                return Term{1, {Factor{p.base, as<Int>(*p.exp).value}}};
            }
            break;
        }
        default: break;
        }
        return Term{1, {Factor{summand, 1}}};
    });
}

ExprPtr build_term(const Term& term) {
    // Each base is rendered once; equal texts keep their list order.
    std::vector<std::pair<std::string, const Factor*>> sorted;
    sorted.reserve(term.factors.size());
    for (const Factor& f : term.factors) {
        if (f.exponent != 0) {
            sorted.emplace_back(f.base->to_string(), &f);
        }
    }
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    ExprPtr product;
    for (const auto& [text, f] : sorted) {
        ExprPtr piece =
            f->exponent == 1 ? f->base : make_node<Pow>(f->base, make_node<Int>(f->exponent));
        product = product ? make_node<Mul>(std::move(product), std::move(piece)) : std::move(piece);
    }
    if (term.coefficient == 0 || !product) {
        return make_node<Int>(term.coefficient);
    }
    if (term.coefficient == 1) {
        return product;
    }
    if (term.coefficient == -1) {
        return make_node<Neg>(std::move(product));
    }
    return make_node<Mul>(make_node<Int>(term.coefficient), std::move(product));
}

std::string term_key(const Term& term) { return build_term(Term{1, term.factors})->to_string(); }

}  // namespace tavrelo
