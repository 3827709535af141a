#include "reference.hpp"

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "core/checked_int.hpp"
#include "core/node_pool.hpp"

namespace tavrelo::reference {

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

bool key_before(std::string_view a, std::string_view b) {
    if (b == "1") {
        return a != "1";
    }
    if (a == "1") {
        return false;
    }
    return a > b;
}

ExprPtr collect_terms(const ExprPtr& e) {
    struct Entry {
        std::int64_t sum;  // exact while summing; must fit 32 bits once collected
        std::vector<Factor> factors;
    };
    std::vector<Term> summands;
    split_sum(e, summands);
    std::map<std::string, Entry, std::less<>> table;
    for (Term& t : summands) {
        if (t.coefficient == 0) {
            continue;
        }
        std::string key = term_key(t);
        const auto found = table.find(key);
        if (found == table.end()) {
            table.emplace(std::move(key), Entry{t.coefficient, std::move(t.factors)});
        } else {
            found->second.sum += t.coefficient;
        }
    }
    std::vector<std::pair<std::string_view, const Entry*>> order;
    order.reserve(table.size());
    for (const auto& [key, entry] : table) {
        order.emplace_back(key, &entry);
    }
    std::sort(order.begin(), order.end(),
              [](const auto& a, const auto& b) { return key_before(a.first, b.first); });
    ExprPtr sum;
    for (const auto& [key, entry] : order) {
        if (entry->sum == 0) {
            continue;
        }
        ExprPtr t = build_term(Term{to_int32(entry->sum), entry->factors});
        sum = sum ? make_node<Add>(std::move(sum), std::move(t)) : std::move(t);
    }
    return sum ? sum : make_node<Int>(0);
}

ExprPtr distribute(const ExprPtr& a, const ExprPtr& b) {
    if (kind_of(*a) == ExprKind::Add) {
        const Add& s = as<Add>(*a);
        return make_node<Add>(distribute(s.left, b), distribute(s.right, b));
    }
    if (kind_of(*b) == ExprKind::Add) {
        const Add& s = as<Add>(*b);
        return make_node<Add>(distribute(a, s.left), distribute(a, s.right));
    }
    return make_node<Mul>(a, b);
}

ExprPtr expand_power(const ExprPtr& base, int n) {
    if (n == 0) {
        return make_node<Int>(1);
    }
    if (n == 1) {
        return base;
    }
    const ExprPtr half = expand_power(base, n / 2);
    ExprPtr square = collect_terms(distribute(half, half));
    if (n % 2 == 1) {
        return collect_terms(distribute(square, base));
    }
    return square;
}

namespace {

template <class Node>
ExprPtr rebuild_unary(const Expr& e) {
    return make_node<Node>(expand_simplified(as<Node>(e).operand));
}

}  // namespace

ExprPtr expand_simplified(const ExprPtr& s) {
    const Expr& e = *s;
    switch (kind_of(e)) {
    case ExprKind::Neg: return collect_terms(make_node<Neg>(expand_simplified(as<Neg>(e).operand)));
    case ExprKind::Add: {
        ExprPtr left = expand_simplified(as<Add>(e).left);
        ExprPtr right = expand_simplified(as<Add>(e).right);
        return collect_terms(make_node<Add>(std::move(left), std::move(right)));
    }
    case ExprKind::Mul: {
        const ExprPtr left = expand_simplified(as<Mul>(e).left);
        const ExprPtr right = expand_simplified(as<Mul>(e).right);
        return collect_terms(distribute(left, right));
    }
    case ExprKind::Pow: {
        const Pow& p = as<Pow>(e);
        ExprPtr base = expand_simplified(p.base);
        if (kind_of(*p.exp) == ExprKind::Int && as<Int>(*p.exp).value >= 0) {
            return collect_terms(expand_power(base, as<Int>(*p.exp).value));
        }
        return make_node<Pow>(std::move(base), p.exp);
    }
    case ExprKind::Sqrt: return rebuild_unary<Sqrt>(e);
    case ExprKind::Cbrt: return rebuild_unary<Cbrt>(e);
    case ExprKind::Sin: return rebuild_unary<Sin>(e);
    case ExprKind::Cos: return rebuild_unary<Cos>(e);
    case ExprKind::Tan: return rebuild_unary<Tan>(e);
    case ExprKind::Log: return rebuild_unary<Log>(e);
    default: return s;
    }
}

}  // namespace tavrelo::reference
