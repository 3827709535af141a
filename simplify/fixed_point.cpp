// Whether a tree is already what simplify returns, found without building anything, so that a
// caller about to simplify a result of expand or diff again can skip the pass. The answer may be
// "no" for a tree that is simplified (a root or a function of a number, whose rules need
// arithmetic or special values to decide), never "yes" for one that is not.
#include <cstddef>
#include <unordered_set>
#include <utility>
#include <vector>

#include "core/children.hpp"
#include "simplify/simplify.hpp"

namespace tavrelo {
namespace {

using K = ExprKind;

// A child read once: its handle and its kind (kind() is a virtual call).
struct Child {
    const ExprPtr* handle;
    K kind;

    [[nodiscard]] bool is(K k) const { return kind == k; }
    [[nodiscard]] bool is_int(int v) const {
        return kind == K::Int && as<Int>(**handle).value == v;
    }
};

bool equal(const Child& a, const Child& b) {
    return *a.handle == *b.handle ||
           (a.kind == b.kind && structurally_equal(**a.handle, **b.handle));
}

// True when no rule but the closing "otherwise" of its list matches at a node of kind `k` with
// these children, taken as simplified (the lists of simplify/arithmetic.cpp and functions.cpp).
bool only_otherwise_matches(K k, const Child& a, const Child& b) {
    switch (k) {
    case K::Neg: return !a.is(K::Neg) && !a.is(K::Int) && !a.is(K::Rational);
    case K::Add:
        return !a.is_int(0) && !b.is_int(0) && !(a.is(K::Int) && b.is(K::Int)) && !equal(a, b);
    case K::Mul:
        return !a.is_int(0) && !b.is_int(0) && !a.is_int(1) && !b.is_int(1) &&
               !(a.is(K::Int) && b.is(K::Int));
    case K::Div:
        return !b.is_int(0) && !a.is_int(0) && !(a.is(K::Int) && b.is(K::Int)) && !equal(a, b) &&
               !(b.is(K::Sqrt) && kind_of(*as<Sqrt>(**b.handle).operand) == K::Int);
    case K::Pow:
        return !b.is_int(0) && !b.is_int(1) && !a.is_int(0) && !a.is_int(1) &&
               !(a.is(K::Int) && b.is(K::Int));
    case K::Sqrt: return !a.is(K::Int);
    case K::Cbrt:
        return !a.is(K::Int) && !(a.is(K::Pow) && is_int_value(as<Pow>(**a.handle).exp, 3));
    case K::Sin:
    case K::Cos:
    case K::Tan:
        return !a.is_int(0) && !a.is(K::Pi) &&
               !(a.is(K::Div) && kind_of(*as<Div>(**a.handle).num) == K::Pi);
    case K::Log:
        return !a.is_int(1) && !a.is(K::E) &&
               !(a.is(K::Pow) && kind_of(*as<Pow>(**a.handle).base) == K::E);
    default: return true;
    }
}

// Kept between calls on a thread, so that a check allocates nothing in the common case (a
// fresh large block can cost more than the check). One that a deep tree grew is not kept.
constexpr std::size_t kKeptEntries = std::size_t{1} << 16;
thread_local std::vector<const ExprPtr*> spare_pending;

bool all_final(const ExprPtr& root, std::vector<const ExprPtr*>& pending) {
    pending.push_back(&root);                     // inner nodes only
    std::unordered_set<const Expr*> shared_seen;  // inner nodes with several owners, seen once
    while (!pending.empty()) {
        const ExprPtr& e = *pending.back();
        pending.pop_back();
        if (e.use_count() > 1 && !shared_seen.insert(e.get()).second) {
            continue;
        }
        const K k = kind_of(*e);
        const Children c = children_of(*e);
        const Child a{c.first, kind_of(**c.first)};
        const Child b = c.second ? Child{c.second, kind_of(**c.second)} : Child{nullptr, K::Int};
        if (!only_otherwise_matches(k, a, b)) {
            return false;
        }
        // Leaves are final whatever they hold and often shared (one Var in every term), so
        // they are not pushed.
        if (c.second != nullptr && !is_leaf(b.kind)) {
            pending.push_back(c.second);
        }
        if (!is_leaf(a.kind)) {
            pending.push_back(c.first);
        }
    }
    return true;
}

}  // namespace

bool is_simplified(const ExprPtr& root) {
    if (is_leaf(kind_of(*root))) {
        return true;
    }
    std::vector<const ExprPtr*> pending = std::move(spare_pending);
    pending.clear();
    const bool simplified = all_final(root, pending);
    if (pending.capacity() <= kKeptEntries) {
        pending.clear();
        spare_pending = std::move(pending);
    }
    return simplified;
}

}  // namespace tavrelo
