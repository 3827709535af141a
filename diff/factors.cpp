#include "diff/factors.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <utility>

#include "core/checked_int.hpp"
#include "core/children.hpp"
#include "core/node_pool.hpp"
#include "simplify/rules.hpp"

namespace tavrelo::textbook {
namespace {

bool is_kind(const Expr& e, ExprKind k) { return kind_of(e) == k; }

// Factors are compared to merge x * x^2 or cancel x / x^2. A comparison looks at a few nodes
// only and answers "different" beyond them: a chain of a million nested functions compares
// cos(f_{k-1}) with cos(f_k) at every level, and must not walk down both each time.
constexpr std::size_t kCompareBudget = 16;

bool same_leaf(const Expr& x, const Expr& y) {
    switch (kind_of(x)) {
    case ExprKind::Int: return as<Int>(x).value == as<Int>(y).value;
    case ExprKind::Var: return as<Var>(x).name == as<Var>(y).name;
    case ExprKind::Rational:
        return as<Rational>(x).num == as<Rational>(y).num &&
               as<Rational>(x).den == as<Rational>(y).den;
    default: return true;
    }
}

bool same_small(const Expr& a, const Expr& b) {
    if (kind_of(a) != kind_of(b)) {
        return false;  // the common answer, before any setting up
    }
    struct Pair {
        const Expr* x;
        const Expr* y;
    };
    std::array<Pair, kCompareBudget> pending;  // the first `size` are set
    std::size_t size = 0;
    std::size_t budget = kCompareBudget;
    pending[size++] = Pair{&a, &b};
    while (size > 0) {
        const auto [x, y] = pending[--size];
        if (x == y) {
            continue;
        }
        if (budget-- == 0 || kind_of(*x) != kind_of(*y) || !same_leaf(*x, *y)) {
            return false;
        }
        const Children cx = children_of(*x);
        const Children cy = children_of(*y);
        for (const auto& [u, v] :
             {std::pair{cx.first, cy.first}, std::pair{cx.second, cy.second}}) {
            if (u == nullptr) {
                continue;
            }
            if (size == pending.size()) {
                return false;
            }
            pending[size++] = Pair{u->get(), v->get()};
        }
    }
    return true;
}

// A factor as base^k: Pow(b, Int(k)) gives (b, k), anything else (f, 1). The base points into
// a node that the caller keeps alive, so reading factors costs no reference counting.
struct Power {
    const ExprPtr* base;
    std::int64_t exp;
};

Power as_power(const ExprPtr& f) {
    if (is_kind(*f, ExprKind::Pow)) {
        const auto& p = as<Pow>(*f);
        if (is_kind(*p.exp, ExprKind::Int)) {
            return {&p.base, as<Int>(*p.exp).value};
        }
    }
    return {&f, 1};
}

// The order a teacher writes factors in: a power of a number first, right after the
// coefficient (the text then reads 3 \cdot 2^{x}); then constants, variables, sums and their
// powers; then functions, roots and quotients: x\cos(x), 2xe^{x^{2}}.
int rank_of_factor(const Expr& f) {
    switch (kind_of(f)) {
    case ExprKind::Var:
    case ExprKind::Pi:
    case ExprKind::Add: return 1;
    case ExprKind::Pow: {
        const ExprKind b = kind_of(*as<Pow>(f).base);
        if (b == ExprKind::Int || b == ExprKind::Rational) {
            return 0;
        }
        return b == ExprKind::Var || b == ExprKind::Add ? 1 : 2;
    }
    default: return 2;
    }
}

int rank_of(const Expr& f) {
    return is_kind(f, ExprKind::Mul) ? rank_of_factor(*as<Mul>(f).left) : rank_of_factor(f);
}

// The factors of a product, left to right; a longer product keeps its first factors together.
constexpr std::size_t kMaxFactors = 6;

struct Factors {
    std::array<Power, kMaxFactors> items;  // the first `size` are set
    std::size_t size = 0;
};

Factors factors_of(const ExprPtr& product) {
    std::array<const ExprPtr*, kMaxFactors> reversed;  // the first `n` are set
    std::size_t n = 0;
    const ExprPtr* rest = &product;
    while (n + 1 < kMaxFactors && is_kind(**rest, ExprKind::Mul)) {
        reversed[n++] = &as<Mul>(**rest).right;
        rest = &as<Mul>(**rest).left;
    }
    reversed[n++] = rest;
    Factors out;
    for (std::size_t i = n; i-- > 0;) {
        out.items[out.size++] = as_power(*reversed[i]);
    }
    return out;
}

ExprPtr times(ExprPtr a, ExprPtr b) {
    if (!a) {
        return b;
    }
    return b ? detail::mul_rules(std::move(a), std::move(b)) : a;
}

ExprPtr product_of(const Factors& f) {
    ExprPtr result;
    for (std::size_t i = 0; i < f.size; ++i) {
        if (f.items[i].exp != 0) {
            result = times(std::move(result), power(*f.items[i].base, f.items[i].exp));
        }
    }
    return result;
}

// Moves into `into` every factor of `from` with the same base as one of `into`'s: as a product
// (exponents add) or as a quotient (the common part cancels: x^5/x^2 is x^3, x^2/x^5 is 1/x^3).
// True when any moved. An exponent that would leave 32 bits leaves its factors as they are.
enum class Merge { product, quotient };

bool merge_factors(Factors& into, Factors& from, Merge how) {
    bool merged = false;
    for (std::size_t j = 0; j < from.size; ++j) {
        Power& b = from.items[j];
        for (std::size_t i = 0; i < into.size && b.exp != 0; ++i) {
            Power& a = into.items[i];
            if (a.exp == 0 || !same_small(**a.base, **b.base)) {
                continue;
            }
            const bool product = how == Merge::product;
            const std::int64_t common = product ? -b.exp : std::min(a.exp, b.exp);
            if (!fits_int32(a.exp - common) || (!product && !fits_int32(b.exp - common))) {
                continue;
            }
            a.exp -= common;
            b.exp = product ? 0 : b.exp - common;
            merged = true;
        }
    }
    return merged;
}

// sqrt(h)/h is 1/sqrt(h) and h/sqrt(h) is sqrt(h), for single factors.
bool cancel_roots(Factors& top, Factors& bottom) {
    bool cancelled = false;
    for (std::size_t i = 0; i < top.size; ++i) {
        Power& a = top.items[i];
        for (std::size_t j = 0; j < bottom.size && a.exp == 1; ++j) {
            Power& b = bottom.items[j];
            if (b.exp != 1) {
                continue;
            }
            if (is_kind(**a.base, ExprKind::Sqrt) &&
                same_small(*as<Sqrt>(**a.base).operand, **b.base)) {
                b.base = a.base;
                a.exp = 0;
                cancelled = true;
            } else if (is_kind(**b.base, ExprKind::Sqrt) &&
                       same_small(*as<Sqrt>(**b.base).operand, **a.base)) {
                a.base = b.base;
                b.exp = 0;
                cancelled = true;
            }
        }
    }
    return cancelled;
}

}  // namespace

bool same_tree(const ExprPtr& a, const ExprPtr& b) {
    if (!a || !b) {
        return !a && !b;
    }
    return a == b || (kind_of(*a) == kind_of(*b) && structurally_equal(*a, *b));
}

ExprPtr multiply_factors(const ExprPtr& x, const ExprPtr& y) {
    if (!x) {
        return y;
    }
    if (!y) {
        return x;
    }
    Factors fx = factors_of(x);
    Factors fy = factors_of(y);
    if (merge_factors(fx, fy, Merge::product)) {
        return times(product_of(fx), product_of(fy));
    }
    if (rank_of(*y) < rank_of(*x)) {
        return detail::mul_rules(y, x);
    }
    return detail::mul_rules(x, y);
}

void cancel_factors(ExprPtr& num, ExprPtr& den) {
    if (same_tree(num, den)) {
        num = nullptr;
        den = nullptr;
        return;
    }
    Factors top = factors_of(num);
    Factors bottom = factors_of(den);
    const bool merged = merge_factors(top, bottom, Merge::quotient);
    if (cancel_roots(top, bottom) || merged) {
        // Both are built before either handle changes: the factors point into the old trees.
        ExprPtr new_num = product_of(top);
        ExprPtr new_den = product_of(bottom);
        num = std::move(new_num);
        den = std::move(new_den);
    }
}

ExprPtr power(const ExprPtr& base, std::int64_t k) {
    // A few folds at most: the base of a chain of powers is not walked to its bottom at every
    // level of a deep tree.
    constexpr int kMaxFolds = 4;
    const ExprPtr* b = &base;
    for (int folds = 0; k != 1 && folds < kMaxFolds; ++folds) {
        const Expr& e = **b;
        if (is_kind(e, ExprKind::Sqrt) && k % 2 == 0) {
            b = &as<Sqrt>(e).operand;
            k /= 2;
        } else if (is_kind(e, ExprKind::Cbrt) && k % 3 == 0) {
            b = &as<Cbrt>(e).operand;
            k /= 3;
        } else if (is_kind(e, ExprKind::Neg) && k % 2 == 0) {
            b = &as<Neg>(e).operand;
        } else if (const Power inner = as_power(*b); inner.base != b && fits_int32(inner.exp * k)) {
            b = inner.base;
            k *= inner.exp;
        } else {
            break;
        }
    }
    if (k == 1) {
        return *b;
    }
    return detail::pow_rules(*b, make_node<Int>(to_int32(k)));
}

}  // namespace tavrelo::textbook
