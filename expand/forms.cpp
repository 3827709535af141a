// Making expanded values, converting them between their forms, and checking what each form
// promises.
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <utility>

#include "expand/operations.hpp"

namespace tavrelo::fast {

bool Poly::plain_entries() const {
    if (const auto* c = std::get_if<Collected>(&form)) {
        return !c->rare;
    }
    if (const auto* c = std::get_if<Chain>(&form)) {
        return !c->rare;
    }
    return std::holds_alternative<Packed>(form);
}

bool Poly::single_entry() const {
    if (const auto* c = std::get_if<Collected>(&form)) {
        return !c->rare && c->entries.size() == 1;
    }
    if (const auto* c = std::get_if<Chain>(&form)) {
        return !c->rare;
    }
    return false;
}

PolyRef raw_value(Workspace& ws, const ExprPtr& tree) {
    Raw raw;
    std::vector<Term> terms;
    split_sum(tree, terms);
    raw.terms.reserve(terms.size());
    for (const Term& t : terms) {
        raw.terms.push_back(ws.from_term(t));
    }
    return std::make_shared<Poly>(Poly{std::move(raw), tree});
}

PolyRef empty_value() { return collected_value(Collected{}); }

PolyRef one_value() {
    Collected c;
    c.entries.push_back(Summand{1, static_cast<std::int32_t>(Keys::kOne), {}});
    return collected_value(std::move(c));
}

PolyRef single_value(Workspace& ws, int coef, const Powers& powers) {
    if (coef == 0) {
        return empty_value();
    }
    Collected c;
    c.entries.push_back(Summand{coef, kNoKey, without_zeros(powers)});
    c.rare = entry_rare(ws.bases, c.entries.front());
    return collected_value(std::move(c));
}

PolyRef collected_value(Collected c) { return std::make_shared<Poly>(Poly{std::move(c), nullptr}); }

PolyRef packed_value(PackedValue v) {
    if (v.coefs.size() >= 2) {
        return std::make_shared<Poly>(Poly{Packed{std::move(v)}, nullptr});
    }
    Collected c;
    unpack(v, c.entries);
    return collected_value(std::move(c));
}

// The conversions: a packed value unpacks into entries in field order (not output order); a
// chain drops its dead positions. Either keeps the tree it has, which stands for the same value.
Collected& settled(Poly& p) {
    if (Packed* packed = p.packed()) {
        Collected c;
        unpack(packed->value, c.entries);
        c.sorted = c.entries.size() <= 1;
        p.form = std::move(c);
    } else if (Chain* chain = p.chain()) {
        Collected c;
        chain->entry.powers = without_zeros(chain->entry.powers);
        c.entries.push_back(std::move(chain->entry));
        c.rare = chain->rare;
        p.form = std::move(c);
    }
    return *p.collected();
}

std::vector<Summand>& splits(Workspace& ws, Poly& p) {
    if (p.raw()) {
        return std::get<Raw>(p.form).terms;
    }
    Collected& c = settled(p);
    order(ws, c);
    if (!c.rare) {
        return c.entries;
    }
    if (!c.splits_ready) {
        c.splits.clear();
        std::vector<Term> terms;
        for (const Summand& e : c.entries) {
            if (!entry_rare(ws.bases, e)) {
                c.splits.push_back(e);
                continue;
            }
            terms.clear();
            split_sum(build_summand(ws.bases, e.coef, e.powers), terms);
            for (const Term& t : terms) {
                c.splits.push_back(ws.from_term(t));
            }
        }
        c.splits_ready = true;
    }
    return c.splits;
}

std::vector<Summand>& splits_any_order(Workspace& ws, Poly& p) {
    if (p.plain_entries()) {
        return settled(p).entries;
    }
    return splits(ws, p);
}

// ---- invariants ----

namespace {

[[noreturn]] void broken(const std::string& what) {
    throw std::logic_error("expander value: " + what);
}

// `dead_allowed`: powers of exponent 0 stand for absent factors (a chain's dead positions).
void check_entry(const Summand& s, const Bases& bases, bool dead_allowed) {
    if (s.coef == 0) {
        broken("an entry with coefficient 0");
    }
    std::unordered_set<std::uint32_t> ids;
    for (const Power& p : s.powers) {
        if (p.exp == 0 && !dead_allowed) {
            broken("a power with exponent 0");
        }
        if (bases.id(p.handle) != p.id) {
            broken("a power whose id is not its node's");
        }
        if (p.exp != 0 && !ids.insert(p.id).second) {
            broken("a base twice in one entry");
        }
    }
}

void check(const Raw& raw, const ExprPtr& tree) {
    if (!tree) {
        broken("a raw value without its tree");
    }
    std::vector<Term> terms;
    split_sum(tree, terms);
    if (terms.size() != raw.terms.size()) {
        broken("raw summands that are not its tree's");
    }
    for (std::size_t i = 0; i < terms.size(); ++i) {
        if (terms[i].coefficient != raw.terms[i].coef ||
            terms[i].factors.size() != raw.terms[i].powers.size()) {
            broken("raw summands that are not its tree's");
        }
    }
}

void check(const Collected& c, const Bases& bases, const Keys* keys) {
    bool rare = false;
    std::unordered_set<std::int32_t> seen;
    for (const Summand& e : c.entries) {
        check_entry(e, bases, false);
        rare = rare || entry_rare(bases, e);
        if (e.key != kNoKey && !seen.insert(e.key).second) {
            broken("two entries with one key");
        }
    }
    if (rare && !c.rare) {  // the flag may stay up after a rare entry cancelled
        broken("a rare entry in a value not marked rare");
    }
    if (c.splits_ready && !c.rare) {
        broken("splits of a value that is not rare");
    }
    if (c.key_index_ready) {
        if (c.key_index.size() != c.entries.size()) {
            broken("a key index of another size");
        }
        for (std::size_t i = 0; i < c.entries.size(); ++i) {
            const auto found = c.key_index.find(static_cast<std::uint32_t>(c.entries[i].key));
            if (found == c.key_index.end() || found->second != i) {
                broken("a key index that misses an entry");
            }
        }
    }
    if (c.sorted && keys != nullptr) {
        for (std::size_t i = 1; i < c.entries.size(); ++i) {
            const std::int32_t a = c.entries[i - 1].key;
            const std::int32_t b = c.entries[i].key;
            if (a != kNoKey && b != kNoKey &&
                !keys->before(static_cast<std::uint32_t>(a), static_cast<std::uint32_t>(b))) {
                broken("sorted entries out of order");
            }
        }
    }
}

void check(const Packed& p, const Bases& bases) {
    const PackedValue& v = p.value;
    const std::size_t fields = v.ids.size();
    if (v.coefs.size() < 2) {
        broken("a packed value of fewer than two entries");
    }
    if (v.handles.size() != fields || v.most.size() != fields || v.bits == 0 || v.bits > 32 ||
        v.words == 0 || v.words > 2 || fields > v.words * (64 / v.bits) ||
        v.keys.size() != v.coefs.size() * v.words) {
        broken("a packed layout that does not hold together");
    }
    for (std::size_t f = 0; f < fields; ++f) {
        if (!bases.plain(v.handles[f]) || bases.id(v.handles[f]) != v.ids[f]) {
            broken("a packed field that is not a plain variable");
        }
    }
    std::vector<Summand> entries;
    unpack(v, entries);
    std::unordered_set<std::string> monomials;
    for (std::size_t k = 0; k < entries.size(); ++k) {
        check_entry(entries[k], bases, false);
        const auto* words = reinterpret_cast<const char*>(&v.keys[k * v.words]);
        if (!monomials.emplace(words, 8 * v.words).second) {
            broken("two packed entries with one monomial");
        }
    }
    for (std::size_t k = 0; k < entries.size(); ++k) {
        for (const Power& q : entries[k].powers) {
            for (std::size_t f = 0; f < fields; ++f) {
                if (v.ids[f] == q.id && q.exp > v.most[f]) {
                    broken("a packed exponent above its field's largest");
                }
            }
        }
    }
}

void check(const Chain& c, const Bases& bases) {
    const Summand& e = c.entry;
    check_entry(e, bases, true);
    // A base that died and came back stands twice: dead, then live at the end. The index
    // points at the last position of each base.
    std::size_t dead = 0;
    std::size_t odd = 0;
    std::unordered_map<std::uint32_t, std::uint32_t> last;
    for (std::size_t i = 0; i < e.powers.size(); ++i) {
        const Power& q = e.powers[i];
        dead += q.exp == 0 ? 1 : 0;
        odd += q.exp == 1 && bases.decomposable(q.handle) ? 1 : 0;
        last[q.id] = static_cast<std::uint32_t>(i);
    }
    if (last != c.index) {
        broken("a chain index that misses a power");
    }
    if (dead != c.dead || e.powers.size() - dead != c.live || odd != c.odd) {
        broken("chain counts that do not match its powers");
    }
    const bool rare = c.odd > 0 || (e.coef == 1 && c.live == 1 && lone_sum_power(bases, e));
    if (rare != c.rare) {
        broken("a chain rarity flag that does not match its entry");
    }
}

}  // namespace

void check_invariants(const Poly& p, const Bases& bases, const Keys* keys) {
    if (const auto* raw = std::get_if<Raw>(&p.form)) {
        check(*raw, p.tree);
    } else if (const auto* c = std::get_if<Collected>(&p.form)) {
        check(*c, bases, keys);
    } else if (const auto* packed = std::get_if<Packed>(&p.form)) {
        check(*packed, bases);
    } else {
        check(std::get<Chain>(p.form), bases);
    }
}

}  // namespace tavrelo::fast
