// The strategies of a product of expanded values; dispatch.cpp says which one is taken when.
#include <algorithm>
#include <utility>

#include "core/checked_int.hpp"
#include "expand/operations.hpp"

namespace tavrelo::fast {
namespace {

// Factor lists at least this long are searched through a hash index instead of a scan.
constexpr std::size_t kIndexFrom = 24;

void index_powers(Workspace& ws, const Summand& a) {
    ws.index.clear();
    for (std::size_t i = 0; i < a.powers.size(); ++i) {
        ws.index.emplace(a.powers[i].id, static_cast<std::uint32_t>(i));
    }
}

// The factors of a times b into ws.scratch: a's powers in order, then b's new bases; equal
// bases add exponents (checked). `indexed`: ws.index holds a's bases.
void merge_into_scratch(Workspace& ws, const Summand& a, const Summand& b, bool indexed) {
    Powers& scratch = ws.scratch;
    scratch.assign(a.powers.begin(), a.powers.end());
    const std::size_t own = scratch.size();
    for (const Power& q : b.powers) {
        std::size_t at = own;
        if (indexed) {
            const auto found = ws.index.find(q.id);
            if (found != ws.index.end()) {
                at = found->second;
            }
        } else {
            for (std::size_t i = 0; i < own; ++i) {
                if (scratch[i].id == q.id) {
                    at = i;
                    break;
                }
            }
        }
        if (at != own) {
            scratch[at].exp = checked_add(scratch[at].exp, q.exp);
        } else {
            scratch.push_back(q);
        }
    }
}

// A pair of a ranked product whose key is known: only its sum is needed, else the first pair
// of a key gives the entry its factors.
void add_pair(Workspace& ws, std::uint32_t key, int coef, const Summand& a, const Summand& b) {
    if (ws.collector.add_to_known(key, coef)) {
        return;
    }
    merge_into_scratch(ws, a, b, false);
    ws.collector.add(key, coef, ws.scratch, ws.keys().count());
}

Collected finish(Workspace& ws) {
    return ws.collector.finish([&](const Summand& e) { return entry_rare(ws.bases, e); });
}

// A single entry becomes a chain: an index of its bases and the counts of its powers.
Chain start_chain(const Bases& bases, Summand entry) {
    Chain c;
    for (std::size_t i = 0; i < entry.powers.size(); ++i) {
        const Power& p = entry.powers[i];
        c.index.emplace(p.id, static_cast<std::uint32_t>(i));
        c.odd += p.exp == 1 && bases.decomposable(p.handle);
    }
    c.live = entry.powers.size();
    c.entry = std::move(entry);
    return c;
}

}  // namespace

void multiply_in_place(Workspace& ws, Poly& p, const Summand& b) {
    if (Collected* c = p.collected()) {
        Summand& a = c->entries.front();
        if (a.powers.size() + b.powers.size() < kIndexFrom) {
            const int coef = checked_mul(a.coef, b.coef);
            merge_into_scratch(ws, a, b, false);
            a.powers = without_zeros(ws.scratch);
            a.coef = coef;
            a.key = kNoKey;
            p.tree.reset();
            c->key_index_ready = false;
            if (coef == 0) {
                c->entries.clear();
                c->rare = false;
            } else {
                c->rare = entry_rare(ws.bases, a);
            }
            return;
        }
        p.form = start_chain(ws.bases, std::move(a));
    }
    Chain& chain = *p.chain();
    Summand& a = chain.entry;
    const int coef = checked_mul(a.coef, b.coef);
    for (const Power& q : b.powers) {
        const auto found = chain.index.find(q.id);
        if (found != chain.index.end() && a.powers[found->second].exp != 0) {
            Power& mine = a.powers[found->second];
            const bool takes_apart = ws.bases.decomposable(mine.handle);
            chain.odd -= mine.exp == 1 && takes_apart;
            mine.exp = checked_add(mine.exp, q.exp);
            chain.odd += mine.exp == 1 && takes_apart;
            if (mine.exp == 0) {
                ++chain.dead;
                --chain.live;
            }
        } else if (q.exp != 0) {  // an absent factor comes back at the end, as a new one
            chain.index[q.id] = static_cast<std::uint32_t>(a.powers.size());
            a.powers.push_back(q);
            ++chain.live;
            chain.odd += q.exp == 1 && ws.bases.decomposable(q.handle);
        }
    }
    p.tree.reset();
    if (coef == 0) {
        p.form = Collected{};
        return;
    }
    a.coef = coef;
    a.key = kNoKey;
    if (chain.dead * 2 > a.powers.size()) {  // mostly dead: back to a plain entry
        Collected& c = settled(p);
        c.rare = entry_rare(ws.bases, c.entries.front());
        return;
    }
    chain.rare = chain.odd > 0 || (coef == 1 && chain.live == 1 && lone_sum_power(ws.bases, a));
}

PolyRef multiply_one_by_one(Workspace& ws, const Summand& a, const Summand& b) {
    const bool indexed = a.powers.size() >= kIndexFrom;
    if (indexed) {
        index_powers(ws, a);
    }
    const int coef = checked_mul(a.coef, b.coef);
    merge_into_scratch(ws, a, b, indexed);
    return single_value(ws, coef, ws.scratch);
}

// The pair loop of a product when every base text has a rank: each summand is put in rank order
// once, so that the canonical form of each product is a linear merge of two sorted lists. Pairs
// with two bases of equal text, and monomials not keyed yet, take the general route.
bool multiply_ranked(Workspace& ws, std::vector<Summand>& left, std::vector<Summand>& right,
                     Collected& out) {
    Bases& bases = ws.bases;
    for (const auto* side : {&left, &right}) {
        for (const Summand& s : *side) {
            if (s.powers.size() >= kIndexFrom) {
                return false;
            }
            for (const Power& p : s.powers) {
                (void)bases.group(p.id);
            }
        }
    }
    if (!bases.ranked()) {
        return false;
    }
    // Offsets into ws.ranked for every summand of left, then of right; a tie marks equal ranks.
    std::vector<Workspace::Ranked>& ranked = ws.ranked;
    ranked.clear();
    std::vector<std::uint32_t> start;
    std::vector<bool> tie;
    for (const auto* side : {&left, &right}) {
        for (const Summand& s : *side) {
            const auto from = static_cast<std::uint32_t>(ranked.size());
            start.push_back(from);
            for (const Power& p : s.powers) {
                ranked.push_back(Workspace::Ranked{bases.rank(bases.group(p.id)), p.id, p.exp});
            }
            bool equal_ranks = false;
            for (std::size_t i = from + 1; i < ranked.size(); ++i) {
                for (std::size_t j = i; j > from && ranked[j - 1].rank >= ranked[j].rank; --j) {
                    equal_ranks = equal_ranks || ranked[j - 1].rank == ranked[j].rank;
                    if (ranked[j - 1].rank == ranked[j].rank) {
                        break;
                    }
                    std::swap(ranked[j - 1], ranked[j]);
                }
            }
            tie.push_back(equal_ranks);
        }
    }
    start.push_back(static_cast<std::uint32_t>(ranked.size()));
    const std::size_t nl = left.size();
    std::vector<std::uint32_t>& canonical = ws.canonical;
    ws.collector.begin();
    for (std::size_t ia = 0; ia < nl; ++ia) {
        const Summand& a = left[ia];
        for (std::size_t ib = 0; ib < right.size(); ++ib) {
            const Summand& b = right[ib];
            const int coef = checked_mul(a.coef, b.coef);
            bool general = tie[ia] || tie[nl + ib];
            canonical.clear();
            const auto emit = [&](const Workspace::Ranked& r, int exp) {
                if (exp != 0) {
                    canonical.push_back(r.id);
                    canonical.push_back(static_cast<std::uint32_t>(exp));
                }
            };
            std::size_t i = start[ia];
            std::size_t j = start[nl + ib];
            const std::size_t ei = start[ia + 1];
            const std::size_t ej = start[nl + ib + 1];
            while (!general && i < ei && j < ej) {
                const Workspace::Ranked& x = ranked[i];
                const Workspace::Ranked& y = ranked[j];
                if (x.rank < y.rank) {
                    emit(x, x.exp);
                    ++i;
                } else if (y.rank < x.rank) {
                    emit(y, y.exp);
                    ++j;
                } else if (x.id == y.id) {
                    emit(x, checked_add(x.exp, y.exp));
                    ++i;
                    ++j;
                } else {
                    general = true;
                }
            }
            if (general) {
                merge_into_scratch(ws, a, b, false);
                if (coef != 0) {
                    const std::uint32_t k = ws.keys().key_of(ws.scratch);
                    ws.collector.add(k, coef, ws.scratch, ws.keys().count());
                }
                continue;
            }
            for (; i < ei; ++i) {
                emit(ranked[i], ranked[i].exp);
            }
            for (; j < ej; ++j) {
                emit(ranked[j], ranked[j].exp);
            }
            if (coef == 0) {
                continue;
            }
            std::uint32_t key = Keys::kOne;
            if (!canonical.empty()) {
                key = ws.keys().key_of_canonical(canonical,
                                                 hash_words(canonical.data(), canonical.size()));
            }
            add_pair(ws, key, coef, a, b);
        }
    }
    out = finish(ws);
    return true;
}

// Every pair of summands (first operand major), merged and collected by key.
Collected multiply_keyed(Workspace& ws, std::vector<Summand>& left, std::vector<Summand>& right) {
    ws.collector.begin();
    for (const Summand& a : left) {
        const bool indexed = a.powers.size() >= kIndexFrom;
        if (indexed) {
            index_powers(ws, a);
        }
        for (const Summand& b : right) {
            const int coef = checked_mul(a.coef, b.coef);
            merge_into_scratch(ws, a, b, indexed);
            if (coef != 0) {
                const std::uint32_t k = ws.keys().key_of(ws.scratch);
                ws.collector.add(k, coef, ws.scratch, ws.keys().count());
            }
        }
    }
    return finish(ws);
}

// Packed operands are used as they are; the operands are put in output order only when the
// product can tell (some base structure stands for several nodes).
PolyRef multiply_packed(Workspace& ws, PolyRef& p, PolyRef& q) {
    const bool square = p == q;
    const auto operand = [&](Poly& v) {
        return v.packed() != nullptr ? PackedProducts::Operand{&v.packed()->value, nullptr}
                                     : PackedProducts::Operand{nullptr, &splits_any_order(ws, v)};
    };
    const auto size_of = [](const PackedProducts::Operand& o) {
        return o.packed != nullptr ? o.packed->coefs.size() : o.list->size();
    };
    const PackedProducts::Operand left = operand(*p);
    const PackedProducts::Operand right = operand(*q);
    const std::size_t left_size = size_of(left);
    const std::size_t right_size = size_of(right);
    if (left_size + right_size <= 2 || left_size == 0 || right_size == 0) {
        return nullptr;
    }
    PackedProducts& products = ws.tables().products;
    PackedValue value;
    const auto outcome = products.multiply(ws.bases, left, right, square, value);
    if (outcome == PackedProducts::Outcome::done) {
        return packed_value(std::move(value));
    }
    if (outcome == PackedProducts::Outcome::needs_order) {
        const std::vector<Summand>& ordered_left = splits(ws, *p);
        const std::vector<Summand>& ordered_right = splits(ws, *q);
        Collected c;
        if (products.multiply_in_order(ws.bases, ordered_left, ordered_right, square, c.entries) ==
            PackedProducts::Outcome::done) {
            c.sorted = c.entries.size() <= 1;
            return collected_value(std::move(c));
        }
    }
    return nullptr;
}

PolyRef power_packed(Workspace& ws, const PolyRef& base, int n) {
    std::vector<Summand>& side = splits_any_order(ws, *base);
    if (side.size() < 2) {
        return nullptr;
    }
    PackedValue value;
    if (ws.tables().products.power(ws.bases, side, n, value) != PackedProducts::Outcome::done) {
        return nullptr;
    }
    return packed_value(std::move(value));
}

}  // namespace tavrelo::fast
