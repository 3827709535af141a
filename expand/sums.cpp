// Sums and negations of expanded values, and collection by key.
#include <algorithm>
#include <functional>
#include <unordered_map>
#include <utility>

#include "core/checked_int.hpp"
#include "expand/operations.hpp"

namespace tavrelo::fast {
namespace {

// Adds `incoming` into the collected entries of `table` (held only by the caller), as the
// collection of both lists would: a new key is appended, a cancelled entry removed;
// `incoming_first`: the incoming summands come first in that collection, so the first summand
// of a key gives the entry its factors.
void absorb(Workspace& ws, Poly& value, std::vector<Summand>& incoming, bool incoming_first) {
    Collected& table = settled(value);
    std::vector<Summand>& entries = table.entries;
    if (!table.key_index_ready) {
        table.key_index.clear();
        for (std::size_t i = 0; i < entries.size(); ++i) {
            table.key_index.emplace(ws.key(entries[i]), static_cast<std::uint32_t>(i));
        }
        table.key_index_ready = true;
    }
    std::unordered_map<std::uint32_t, std::int64_t> touched;  // position -> exact sum
    std::vector<std::uint32_t> order;
    const std::size_t before = entries.size();
    for (Summand& s : incoming) {
        if (s.coef == 0) {
            continue;
        }
        const std::uint32_t k = ws.key(s);
        const auto found = table.key_index.find(k);
        if (found == table.key_index.end()) {
            const auto pos = static_cast<std::uint32_t>(entries.size());
            entries.push_back(Summand{0, static_cast<std::int32_t>(k), without_zeros(s.powers)});
            table.key_index.emplace(k, pos);
            touched.emplace(pos, s.coef);
            order.push_back(pos);
            continue;
        }
        const std::uint32_t pos = found->second;
        const auto [it, first_touch] = touched.emplace(pos, entries[pos].coef);
        if (first_touch) {
            order.push_back(pos);
            if (incoming_first) {
                entries[pos].powers = without_zeros(s.powers);
            }
        }
        it->second += s.coef;
    }
    std::vector<std::uint32_t> cancelled;
    for (const std::uint32_t pos : order) {
        const std::int64_t sum = touched.at(pos);
        if (sum == 0) {
            cancelled.push_back(pos);
            continue;
        }
        entries[pos].coef = to_int32(sum);
        table.rare = table.rare || entry_rare(ws.bases, entries[pos]);
    }
    std::sort(cancelled.begin(), cancelled.end(), std::greater<>());
    for (const std::uint32_t pos : cancelled) {
        table.key_index.erase(static_cast<std::uint32_t>(entries[pos].key));
        if (pos + 1 != entries.size()) {
            entries[pos] = std::move(entries.back());
            table.key_index[static_cast<std::uint32_t>(entries[pos].key)] = pos;
        }
        entries.pop_back();
    }
    if (entries.size() != before || !cancelled.empty()) {
        table.sorted = entries.size() <= 1;
    }
    value.tree.reset();
    table.splits_ready = false;
}

}  // namespace

Collected collect_keyed(Workspace& ws, std::initializer_list<std::vector<Summand>*> lists) {
    ws.collector.begin();
    for (auto* list : lists) {
        for (Summand& s : *list) {
            if (s.coef != 0) {
                const std::uint32_t k = ws.key(s);
                ws.collector.add(k, s.coef, s.powers, ws.keys().count());
            }
        }
    }
    return ws.collector.finish([&](const Summand& e) { return entry_rare(ws.bases, e); });
}

PolyRef recollect(Workspace& ws, PolyRef p) {
    if (p->plain_entries()) {
        return p;
    }
    return collect(ws, {&splits(ws, *p)});
}

PolyRef negate(Workspace& ws, PolyRef p) {
    if (p->packed() != nullptr) {
        (void)settled(*p);
    }
    if (p->single_entry() && p.use_count() == 1) {
        Summand& s = p->chain() != nullptr ? p->chain()->entry : p->collected()->entries.front();
        s.coef = checked_neg(s.coef);
        p->tree.reset();
        const bool rare = s.coef == 1 && (p->chain() == nullptr || p->chain()->live == 1) &&
                          lone_sum_power(ws.bases, s);
        if (Chain* chain = p->chain()) {
            chain->rare = rare;
        } else {
            p->collected()->rare = rare;
        }
        return p;
    }
    std::vector<Summand>& parts = splits(ws, *p);
    if (parts.size() >= 2) {  // the tree is a sum: one opaque factor
        const std::uint32_t h = ws.bases.handle_of(tree(ws, *p));
        return single_value(ws, -1, Powers{Power{h, ws.bases.id(h), 1}});
    }
    if (parts.empty()) {
        return empty_value();
    }
    return single_value(ws, checked_neg(parts.front().coef), parts.front().powers);
}

// The sum of two expanded values: the collection of both summand lists, done in place in a
// uniquely owned operand when that gives the same entries.
PolyRef add(Workspace& ws, PolyRef p, PolyRef q) {
    for (Poly* v : {p.get(), q.get()}) {
        if (v->packed() != nullptr) {
            (void)settled(*v);
        }
    }
    if (p != q) {
        if (p.use_count() == 1 && p->plain_entries()) {
            absorb(ws, *p, splits_any_order(ws, *q), false);
            return p;
        }
        if (q.use_count() == 1 && q->plain_entries()) {
            absorb(ws, *q, splits_any_order(ws, *p), true);
            return q;
        }
    }
    return collect(ws, {&splits_any_order(ws, *p), &splits_any_order(ws, *q)});
}

}  // namespace tavrelo::fast
