// Which way each operation on expanded values goes. The first row whose condition holds is
// taken; a strategy marked "(may decline)" looks at the operands and may answer that they do not
// fit, and then the next row is tried. Every row gives the same result as the last one.
//
// multiply p × q               when                                  why
//   in place                   p is one entry held only here, and    a long product of factors
//                              q one summand                         grows one entry, no new value
//   packed    (may decline)    every base a plain variable, the      one integer addition and one
//                              exponents fit two words               table probe per pair, no keys;
//                                                                    the result stays packed
//   one by one                 one summand on each side              nothing to collect
//   ranked    (may decline)    every base text ranked, short         canonical forms by merging
//                              factor lists                          sorted lists; keys by form
//   keyed                      always                                like terms meet by key text
//
// power b^n
//   packed    (may decline)    b plain, at least two summands        squares stay packed
//   squaring                   always                                repeated squaring by multiply
//
// collect summand lists
//   single                     at most one non-zero summand          needs no key
//   packed    (may decline)    one or two lists over plain bases     needs no keys
//   keyed                      always
//
// order collected entries
//   plain     (may decline)    every base plain                      texts written from the names
//   keyed                      always                                keys compared
//
// build the result tree
//   packed                     a packed value                        ordered by token ranks (large
//                                                                    results) or by texts, and
//                                                                    written without unpacking
//   plain     (may decline)    every base plain                      factors already in name order
//   keyed                      always                                factors in text order
//
// key of a monomial (chosen in keys.cpp, which caches them)
//   known                      its canonical form was keyed before   a lookup, no text
//   composed                   no number factor, no long text        joined from the bases' texts
//                                                                    by the rules of latex_rules
//   rendered                   otherwise                             the term's tree rendered
#include <utility>

#include "core/node_pool.hpp"
#include "expand/operations.hpp"

namespace tavrelo::fast {

PolyRef multiply(Workspace& ws, PolyRef p, PolyRef q) {
    if (p != q && p.use_count() == 1 && p->single_entry()) {
        std::vector<Summand>& right = splits(ws, *q);
        if (right.size() == 1) {
            multiply_in_place(ws, *p, right.front());
            return p;
        }
    }
    if (PolyRef packed = multiply_packed(ws, p, q)) {
        return packed;
    }
    std::vector<Summand>& left = splits(ws, *p);
    std::vector<Summand>& right = splits(ws, *q);
    if (left.empty() || right.empty()) {
        return empty_value();
    }
    if (left.size() == 1 && right.size() == 1) {
        return multiply_one_by_one(ws, left.front(), right.front());
    }
    Collected ranked;
    if (multiply_ranked(ws, left, right, ranked)) {
        return collected_value(std::move(ranked));
    }
    return collected_value(multiply_keyed(ws, left, right));
}

PolyRef power(Workspace& ws, const PolyRef& base, int n) {
    if (n == 0) {
        return one_value();
    }
    if (n == 1) {
        return base;
    }
    if (PolyRef packed = power_packed(ws, base, n)) {
        return packed;
    }
    const PolyRef half = power(ws, base, n / 2);
    PolyRef square = multiply(ws, half, half);
    if (n % 2 == 1) {
        return multiply(ws, std::move(square), base);
    }
    return square;
}

PolyRef collect(Workspace& ws, std::initializer_list<std::vector<Summand>*> lists) {
    std::size_t count = 0;
    const Summand* only = nullptr;
    for (const auto* list : lists) {
        for (const Summand& s : *list) {
            if (s.coef != 0) {
                ++count;
                only = &s;
            }
        }
    }
    if (count <= 1) {
        return only != nullptr ? single_value(ws, only->coef, only->powers) : empty_value();
    }
    if (lists.size() <= 2) {
        PackedValue value;
        const std::vector<Summand>* second = lists.size() == 2 ? *(lists.begin() + 1) : nullptr;
        if (ws.tables().products.collect(ws.bases, **lists.begin(), second, value) ==
            PackedProducts::Outcome::done) {
            return packed_value(std::move(value));
        }
    }
    return collected_value(collect_keyed(ws, lists));
}

void order(Workspace& ws, Collected& c) {
    if (c.sorted) {
        return;
    }
    c.key_index_ready = false;
    c.sorted = true;
    if (ws.tables().output.sort(ws.bases, c.entries)) {
        return;
    }
    for (Summand& s : c.entries) {
        (void)ws.key(s);
    }
    const Keys& keys = ws.keys();
    std::sort(c.entries.begin(), c.entries.end(), [&](const Summand& a, const Summand& b) {
        return keys.before(static_cast<std::uint32_t>(a.key), static_cast<std::uint32_t>(b.key));
    });
}

const ExprPtr& tree(Workspace& ws, Poly& p) {
    if (p.tree) {
        return p.tree;
    }
    if (Packed* packed = p.packed()) {
        ws.tables().output.build(ws.bases, packed->value, p.tree);
        return p.tree;
    }
    Collected& c = settled(p);
    // Entries the plain order has just sorted have their factors in name order too.
    const bool plain_sorted = !c.sorted && ws.tables().output.sort(ws.bases, c.entries);
    if (plain_sorted) {
        c.key_index_ready = false;
        c.sorted = true;
    }
    order(ws, c);
    if (ws.tables().output.build(ws.bases, c.entries, plain_sorted, p.tree)) {
        return p.tree;
    }
    ExprPtr sum;
    TermBuilder builder(ws.bases, c.entries.size());
    for (const Summand& e : c.entries) {
        ExprPtr t = build_summand(ws.bases, builder, e.coef, e.powers);
        sum = sum ? make_node<Add>(std::move(sum), std::move(t)) : std::move(t);
    }
    p.tree = sum ? std::move(sum) : make_node<Int>(0);
    return p.tree;
}

}  // namespace tavrelo::fast
