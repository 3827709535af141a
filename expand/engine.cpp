#include "expand/engine.hpp"

#include <algorithm>
#include <memory>
#include <utility>

#include "core/checked_int.hpp"
#include "core/node_pool.hpp"
#include "expand/term.hpp"

namespace tavrelo::fast {
namespace {

// Factor lists at least this long are searched through a hash index instead of a scan.
constexpr std::size_t kIndexFrom = 24;

Powers without_zeros(const Powers& powers) {
    Powers out;
    out.reserve(powers.size());
    for (const Power& p : powers) {
        if (p.exp != 0) {
            out.push_back(p);
        }
    }
    return out;
}

bool is_leaf(ExprKind k) {
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

// One set of packed-product tables per thread, lent to one engine at a time, so that later
// expansions do not pay for fresh tables; an engine made while it is lent gets its own.
thread_local std::unique_ptr<Tables> spare_tables;

}  // namespace

// Tables up to this size stay with the thread for its next expansion: fresh ones are paged in
// from the system on every call, which took a fifth of the time of a 40,000-term product.
bool Tables::small() const {
    constexpr std::size_t kKeep = std::size_t{64} << 20;  // bytes
    return products.bytes() + output.bytes() <= kKeep;
}

Engine::Engine() : tables_(spare_tables ? std::move(spare_tables) : std::make_unique<Tables>()) {}

Engine::~Engine() {
    if (!spare_tables && tables_->small()) {
        spare_tables = std::move(tables_);
    }
}

ExprPtr Engine::expand(const ExprPtr& simplified) {
    const PolyRef result = eval(simplified);
    ExprPtr tree_of_result = tree(*result);
    // The result's key arrays are not read again: they serve the next call's products.
    if (result->packed) {
        tables_->products.recycle(std::move(*result->packed));
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
        const bool shared = !is_leaf(k) && s.use_count() > 1;
        if (!f.operands_done) {
            if (shared) {
                const auto known = memo_.find(s.get());
                if (known != memo_.end()) {
                    values.push_back(known->second);
                    continue;
                }
            }
            if (is_leaf(k)) {
                values.push_back(raw(s));
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
        PolyRef result = combine(*s, values);
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
    case ExprKind::Neg: return negate(std::move(last));
    case ExprKind::Add:
    case ExprKind::Mul: {
        PolyRef first = std::move(values.back());
        values.pop_back();
        return kind_of(s) == ExprKind::Add ? add(std::move(first), std::move(last))
                                           : multiply(std::move(first), std::move(last));
    }
    case ExprKind::Pow: {
        const ExprPtr& exp = as<Pow>(s).exp;
        if (kind_of(*exp) == ExprKind::Int && as<Int>(*exp).value >= 0) {
            return recollect(power(last, as<Int>(*exp).value));
        }
        return raw(make_node<Pow>(tree(*last), exp));
    }
    default: return raw(rebuild_function(s, tree(*last)));
    }
}

// ---- values ----

Summand Engine::from_term(const Term& t) {
    Summand s{t.coefficient, kNoKey, {}};
    s.powers.reserve(t.factors.size());
    for (const Factor& f : t.factors) {
        const std::uint32_t h = bases_.handle_of(f.base);
        s.powers.push_back(Power{h, bases_.id(h), f.exponent});
    }
    return s;
}

PolyRef Engine::raw(const ExprPtr& tree) {
    auto p = std::make_shared<Poly>();
    std::vector<Term> terms;
    split_sum(tree, terms);
    for (const Term& t : terms) {
        p->terms.push_back(from_term(t));
    }
    p->tree = tree;
    return p;
}

PolyRef Engine::empty() {
    auto p = std::make_shared<Poly>();
    p->collected = true;
    return p;
}

PolyRef Engine::constant_one() {
    auto p = std::make_shared<Poly>();
    p->collected = true;
    p->terms.push_back(Summand{1, static_cast<std::int32_t>(Keys::kOne), {}});
    return p;
}

PolyRef Engine::single(int coef, const Powers& powers) {
    if (coef == 0) {
        return empty();
    }
    auto p = std::make_shared<Poly>();
    p->collected = true;
    p->terms.push_back(Summand{coef, kNoKey, without_zeros(powers)});
    p->rare = entry_rare(p->terms.front());
    return p;
}

std::uint32_t Engine::key(Summand& s) {
    if (s.key == kNoKey) {
        s.key = static_cast<std::int32_t>(keys().key_of(s.powers));
    }
    return static_cast<std::uint32_t>(s.key);
}

// A collected entry whose tree decomposes into something else: a lone sum with coefficient 1
// (the sum itself is the tree), or an exponent-1 factor that decomposition takes apart.
bool Engine::entry_rare(const Summand& s) const {
    std::size_t live = 0;
    const Power* only = nullptr;
    for (const Power& p : s.powers) {
        if (p.exp == 0) {
            continue;
        }
        if (p.exp == 1 && bases_.decomposable(p.handle)) {
            return true;
        }
        ++live;
        only = &p;
    }
    return s.coef == 1 && live == 1 && only->exp == 1 &&
           kind_of(*bases_.node(only->handle)) == ExprKind::Add;
}

bool Engine::lone_sum_power(const Poly& p) const {
    if (p.chain && p.live != 1) {
        return false;
    }
    const Summand& s = p.terms.front();
    const Power* only = nullptr;
    for (const Power& q : s.powers) {
        if (q.exp != 0) {
            if (only != nullptr) {
                return false;
            }
            only = &q;
        }
    }
    return only != nullptr && only->exp == 1 &&
           kind_of(*bases_.node(only->handle)) == ExprKind::Add;
}

void Engine::settle(Poly& p) {
    if (!p.chain) {
        return;
    }
    Powers& powers = p.terms.front().powers;
    powers = without_zeros(powers);
    p.power_index.clear();
    p.chain = false;
    p.dead = 0;
}

void Engine::sort_entries(Poly& p) {
    if (p.sorted) {
        return;
    }
    if (tables_->output.sort(bases_, p.terms)) {
        p.key_index_ready = false;
        p.sorted = true;
        return;
    }
    for (Summand& s : p.terms) {
        (void)key(s);
    }
    const Keys& keys = this->keys();
    std::sort(p.terms.begin(), p.terms.end(), [&](const Summand& a, const Summand& b) {
        return keys.before(static_cast<std::uint32_t>(a.key), static_cast<std::uint32_t>(b.key));
    });
    p.key_index_ready = false;
    p.sorted = true;
}

void Engine::unpack(Poly& p) {
    if (p.packed) {
        fast::unpack(*p.packed, p.terms);
        p.packed.reset();
    }
}

std::vector<Summand>& Engine::splits(Poly& p) {
    unpack(p);
    if (!p.collected) {
        return p.terms;
    }
    settle(p);
    sort_entries(p);
    if (!p.rare) {
        return p.terms;
    }
    if (!p.splits_ready) {
        p.splits.clear();
        std::vector<Term> terms;
        for (const Summand& e : p.terms) {
            if (!entry_rare(e)) {
                p.splits.push_back(e);
                continue;
            }
            terms.clear();
            split_sum(build_summand(bases_, e.coef, e.powers), terms);
            for (const Term& t : terms) {
                p.splits.push_back(from_term(t));
            }
        }
        p.splits_ready = true;
    }
    return p.splits;
}

// Entries with distinct keys merge the same way in any order.
std::vector<Summand>& Engine::splits_any_order(Poly& p) {
    unpack(p);
    if (p.collected && !p.rare) {
        settle(p);
        return p.terms;
    }
    return splits(p);
}

const ExprPtr& Engine::tree(Poly& p) {
    if (p.tree) {
        return p.tree;
    }
    if (p.packed) {
        tables_->output.build(bases_, *p.packed, p.tree);
        return p.tree;
    }
    settle(p);
    bool ranked = false;
    if (!p.sorted && tables_->output.sort(bases_, p.terms)) {
        p.key_index_ready = false;
        p.sorted = true;
        ranked = true;
    }
    sort_entries(p);
    if (tables_->output.build(bases_, p.terms, ranked, p.tree)) {
        return p.tree;
    }
    ExprPtr sum;
    TermBuilder builder(bases_, p.terms.size());
    for (const Summand& e : p.terms) {
        ExprPtr t = build_summand(bases_, builder, e.coef, e.powers);
        sum = sum ? make_node<Add>(std::move(sum), std::move(t)) : std::move(t);
    }
    p.tree = sum ? std::move(sum) : make_node<Int>(0);
    return p.tree;
}

// ---- collection ----

void Engine::begin_collection() {
    ++session_;
    entries_.clear();
    sums_.clear();
}

void Engine::accumulate(std::uint32_t key, int coef, const Powers& powers) {
    if (key >= slot_.size()) {
        const std::size_t size = std::max<std::size_t>(keys().count(), 2 * slot_.size());
        slot_.resize(size, 0);
        stamp_.resize(size, 0);
    }
    if (stamp_[key] == session_) {
        sums_[slot_[key]] += coef;
        return;
    }
    stamp_[key] = session_;
    slot_[key] = static_cast<std::uint32_t>(entries_.size());
    entries_.push_back(Summand{0, static_cast<std::int32_t>(key), without_zeros(powers)});
    sums_.push_back(coef);
}

PolyRef Engine::finish_collection() {
    auto p = std::make_shared<Poly>();
    p->collected = true;
    p->terms.reserve(entries_.size());
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (sums_[i] == 0) {
            continue;
        }
        entries_[i].coef = to_int32(sums_[i]);
        p->terms.push_back(std::move(entries_[i]));
        p->rare = p->rare || entry_rare(p->terms.back());
    }
    p->sorted = p->terms.size() <= 1;
    entries_.clear();
    sums_.clear();
    return p;
}

PolyRef Engine::collect(std::initializer_list<std::vector<Summand>*> lists) {
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
    if (count <= 1) {  // one summand needs no key
        return only != nullptr ? single(only->coef, only->powers) : empty();
    }
    if (lists.size() <= 2) {  // polynomials in plain variables need no keys either
        auto value = std::make_unique<PackedValue>();
        const std::vector<Summand>* second = lists.size() == 2 ? *(lists.begin() + 1) : nullptr;
        if (tables_->products.collect(bases_, **lists.begin(), second, *value) ==
            PackedProducts::Outcome::done) {
            return from_packed(std::move(value));
        }
    }
    begin_collection();
    for (auto* list : lists) {
        for (Summand& s : *list) {
            if (s.coef != 0) {
                accumulate(key(s), s.coef, s.powers);
            }
        }
    }
    return finish_collection();
}

PolyRef Engine::recollect(PolyRef p) {
    if (p->collected && !p->rare) {
        return p;
    }
    return collect({&splits(*p)});
}

// ---- operations ----

PolyRef Engine::negate(PolyRef p) {
    unpack(*p);
    if (p->collected && !p->rare && p->terms.size() == 1 && p.use_count() == 1) {
        Summand& s = p->terms.front();
        s.coef = checked_neg(s.coef);
        p->tree.reset();
        p->rare = s.coef == 1 && lone_sum_power(*p);
        return p;
    }
    std::vector<Summand>& parts = splits(*p);
    if (parts.size() >= 2) {  // the tree is a sum: one opaque factor
        const std::uint32_t h = bases_.handle_of(tree(*p));
        return single(-1, Powers{Power{h, bases_.id(h), 1}});
    }
    if (parts.empty()) {
        return empty();
    }
    return single(checked_neg(parts.front().coef), parts.front().powers);
}

// The sum of two expanded values: the collection of both summand lists, done in place in a
// uniquely owned operand when that gives the same entries.
PolyRef Engine::add(PolyRef p, PolyRef q) {
    unpack(*p);
    unpack(*q);
    if (p != q) {
        if (p.use_count() == 1 && p->collected && !p->rare) {
            absorb(*p, splits_any_order(*q), false);
            return p;
        }
        if (q.use_count() == 1 && q->collected && !q->rare) {
            absorb(*q, splits_any_order(*p), true);
            return q;
        }
    }
    return collect({&splits_any_order(*p), &splits_any_order(*q)});
}

void Engine::absorb(Poly& table, std::vector<Summand>& incoming, bool incoming_first) {
    settle(table);
    std::vector<Summand>& entries = table.terms;
    if (!table.key_index_ready) {
        table.key_index.clear();
        for (std::size_t i = 0; i < entries.size(); ++i) {
            table.key_index.emplace(key(entries[i]), static_cast<std::uint32_t>(i));
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
        const std::uint32_t k = key(s);
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
            if (incoming_first) {  // the first summand of a key gives the entry its factors
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
        table.rare = table.rare || entry_rare(entries[pos]);
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
    table.tree.reset();
    table.splits_ready = false;
}

void Engine::merge_into_scratch(const Summand& a, const Summand& b, bool indexed) {
    scratch_.assign(a.powers.begin(), a.powers.end());
    const std::size_t own = scratch_.size();
    for (const Power& q : b.powers) {
        std::size_t at = own;
        if (indexed) {
            const auto found = index_.find(q.id);
            if (found != index_.end()) {
                at = found->second;
            }
        } else {
            for (std::size_t i = 0; i < own; ++i) {
                if (scratch_[i].id == q.id) {
                    at = i;
                    break;
                }
            }
        }
        if (at != own) {
            scratch_[at].exp = checked_add(scratch_[at].exp, q.exp);
        } else {
            scratch_.push_back(q);
        }
    }
}

// The product of two expanded values: every pair of summands (first operand major), merged and
// collected by key; a single entry times a single summand is merged in place.
PolyRef Engine::multiply(PolyRef p, PolyRef q) {
    if (p != q && p.use_count() == 1 && p->collected && !p->rare && p->terms.size() == 1) {
        std::vector<Summand>& right = splits(*q);
        if (right.size() == 1) {
            chain_merge(*p, right.front());
            return p;
        }
    }
    if (PolyRef packed = multiply_packed(p, q)) {
        return packed;
    }
    std::vector<Summand>& left = splits(*p);
    std::vector<Summand>& right = splits(*q);
    if (left.empty() || right.empty()) {
        return empty();
    }
    if (left.size() == 1 && right.size() == 1) {
        const bool indexed = left.front().powers.size() >= kIndexFrom;
        if (indexed) {
            index_.clear();
            for (std::size_t i = 0; i < left.front().powers.size(); ++i) {
                index_.emplace(left.front().powers[i].id, static_cast<std::uint32_t>(i));
            }
        }
        const int coef = checked_mul(left.front().coef, right.front().coef);
        merge_into_scratch(left.front(), right.front(), indexed);
        return single(coef, scratch_);
    }
    if (multiply_ranked(left, right)) {
        return finish_collection();
    }
    begin_collection();
    for (const Summand& a : left) {
        const bool indexed = a.powers.size() >= kIndexFrom;
        if (indexed) {
            index_.clear();
            for (std::size_t i = 0; i < a.powers.size(); ++i) {
                index_.emplace(a.powers[i].id, static_cast<std::uint32_t>(i));
            }
        }
        for (const Summand& b : right) {
            const int coef = checked_mul(a.coef, b.coef);
            merge_into_scratch(a, b, indexed);
            if (coef != 0) {
                accumulate(keys().key_of(scratch_), coef, scratch_);
            }
        }
    }
    return finish_collection();
}

// The power through packed exponents when the base qualifies, else null.
PolyRef Engine::power_packed(const PolyRef& base, int n) {
    std::vector<Summand>& side = splits_any_order(*base);
    if (side.size() < 2) {
        return nullptr;
    }
    auto value = std::make_unique<PackedValue>();
    if (tables_->products.power(bases_, side, n, *value) != PackedProducts::Outcome::done) {
        return nullptr;
    }
    return from_packed(std::move(value));
}

// A collected value from packed entries in order of first occurrence. Their bases are plain
// variables, which decomposition never takes apart, so no entry is rare.
PolyRef Engine::collected(std::vector<Summand> entries) {
    auto result = std::make_shared<Poly>();
    result->collected = true;
    result->terms = std::move(entries);
    result->sorted = result->terms.size() <= 1;
    return result;
}

// A packed result stays packed for the next product; one entry or none is unpacked at once,
// since the single-entry operations work on factor lists.
PolyRef Engine::from_packed(std::unique_ptr<PackedValue> value) {
    auto result = std::make_shared<Poly>();
    result->collected = true;
    if (value->coefs.size() < 2) {
        fast::unpack(*value, result->terms);
    } else {
        result->packed = std::move(value);
        result->sorted = false;
    }
    return result;
}

// The product through packed exponents when both operands qualify, else null. Packed operands
// are used as they are; the operands are put in output order only when the product can tell.
PolyRef Engine::multiply_packed(PolyRef& p, PolyRef& q) {
    const bool square = p == q;
    const auto operand = [this](Poly& v) {
        return v.packed ? PackedProducts::Operand{v.packed.get(), nullptr}
                        : PackedProducts::Operand{nullptr, &splits_any_order(v)};
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
    auto value = std::make_unique<PackedValue>();
    const auto outcome = tables_->products.multiply(bases_, left, right, square, *value);
    if (outcome == PackedProducts::Outcome::done) {
        return from_packed(std::move(value));
    }
    if (outcome == PackedProducts::Outcome::needs_order) {
        const std::vector<Summand>& ordered_left = splits(*p);
        const std::vector<Summand>& ordered_right = splits(*q);
        std::vector<Summand> entries;
        if (tables_->products.multiply_in_order(bases_, ordered_left, ordered_right, square,
                                                entries) == PackedProducts::Outcome::done) {
            return collected(std::move(entries));
        }
    }
    return nullptr;
}

void Engine::accumulate_pair(std::uint32_t key, int coef, const Summand& a, const Summand& b) {
    if (key < slot_.size() && stamp_[key] == session_) {
        sums_[slot_[key]] += coef;
        return;
    }
    merge_into_scratch(a, b, false);  // the first pair of a key gives the entry its factors
    accumulate(key, coef, scratch_);
}

// The pair loop of a product when every base text has a rank: each summand is put in rank order
// once, so that the canonical form of each product is a linear merge of two sorted lists. Pairs
// with two bases of equal text, and monomials not keyed yet, take the general route.
bool Engine::multiply_ranked(std::vector<Summand>& left, std::vector<Summand>& right) {
    for (const auto* side : {&left, &right}) {
        for (const Summand& s : *side) {
            if (s.powers.size() >= kIndexFrom) {
                return false;
            }
            for (const Power& p : s.powers) {
                (void)bases_.group(p.id);
            }
        }
    }
    if (!bases_.ranked()) {
        return false;
    }
    // Offsets into ranked_ for every summand of left, then of right; a tie marks equal ranks.
    ranked_.clear();
    std::vector<std::uint32_t> start;
    std::vector<bool> tie;
    for (const auto* side : {&left, &right}) {
        for (const Summand& s : *side) {
            const auto from = static_cast<std::uint32_t>(ranked_.size());
            start.push_back(from);
            for (const Power& p : s.powers) {
                ranked_.push_back(Ranked{bases_.rank(bases_.group(p.id)), p.id, p.exp});
            }
            bool equal_ranks = false;
            for (std::size_t i = from + 1; i < ranked_.size(); ++i) {
                for (std::size_t j = i; j > from && ranked_[j - 1].rank >= ranked_[j].rank; --j) {
                    equal_ranks = equal_ranks || ranked_[j - 1].rank == ranked_[j].rank;
                    if (ranked_[j - 1].rank == ranked_[j].rank) {
                        break;
                    }
                    std::swap(ranked_[j - 1], ranked_[j]);
                }
            }
            tie.push_back(equal_ranks);
        }
    }
    start.push_back(static_cast<std::uint32_t>(ranked_.size()));
    const std::size_t nl = left.size();
    begin_collection();
    for (std::size_t ia = 0; ia < nl; ++ia) {
        const Summand& a = left[ia];
        for (std::size_t ib = 0; ib < right.size(); ++ib) {
            const Summand& b = right[ib];
            const int coef = checked_mul(a.coef, b.coef);
            bool general = tie[ia] || tie[nl + ib];
            canonical_.clear();
            const auto emit = [&](const Ranked& r, int exp) {
                if (exp != 0) {
                    canonical_.push_back(r.id);
                    canonical_.push_back(static_cast<std::uint32_t>(exp));
                }
            };
            std::size_t i = start[ia];
            std::size_t j = start[nl + ib];
            const std::size_t ei = start[ia + 1];
            const std::size_t ej = start[nl + ib + 1];
            while (!general && i < ei && j < ej) {
                const Ranked& x = ranked_[i];
                const Ranked& y = ranked_[j];
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
                merge_into_scratch(a, b, false);
                if (coef != 0) {
                    accumulate(keys().key_of(scratch_), coef, scratch_);
                }
                continue;
            }
            for (; i < ei; ++i) {
                emit(ranked_[i], ranked_[i].exp);
            }
            for (; j < ej; ++j) {
                emit(ranked_[j], ranked_[j].exp);
            }
            if (coef == 0) {
                continue;
            }
            std::uint32_t key = Keys::kOne;
            if (!canonical_.empty()) {
                key = keys().key_of_canonical(canonical_,
                                              hash_words(canonical_.data(), canonical_.size()));
            }
            accumulate_pair(key, coef, a, b);
        }
    }
    return true;
}

void Engine::chain_merge(Poly& p, const Summand& b) {
    Summand& a = p.terms.front();
    const int coef = checked_mul(a.coef, b.coef);
    if (!p.chain && a.powers.size() + b.powers.size() < kIndexFrom) {
        merge_into_scratch(a, b, false);
        a.powers = without_zeros(scratch_);
    } else {
        if (!p.chain) {
            p.power_index.clear();
            p.odd = 0;
            for (std::size_t i = 0; i < a.powers.size(); ++i) {
                p.power_index.emplace(a.powers[i].id, static_cast<std::uint32_t>(i));
                p.odd += a.powers[i].exp == 1 && bases_.decomposable(a.powers[i].handle);
            }
            p.live = a.powers.size();
            p.dead = 0;
            p.chain = true;
        }
        for (const Power& q : b.powers) {
            const auto found = p.power_index.find(q.id);
            if (found != p.power_index.end() && a.powers[found->second].exp != 0) {
                Power& mine = a.powers[found->second];
                const bool takes_apart = bases_.decomposable(mine.handle);
                p.odd -= mine.exp == 1 && takes_apart;
                mine.exp = checked_add(mine.exp, q.exp);
                p.odd += mine.exp == 1 && takes_apart;
                if (mine.exp == 0) {
                    ++p.dead;
                    --p.live;
                }
            } else if (q.exp != 0) {  // an absent factor comes back at the end, as a new one
                p.power_index[q.id] = static_cast<std::uint32_t>(a.powers.size());
                a.powers.push_back(q);
                ++p.live;
                p.odd += q.exp == 1 && bases_.decomposable(q.handle);
            }
        }
        if (p.dead * 2 > a.powers.size()) {
            settle(p);
        }
    }
    a.coef = coef;
    a.key = kNoKey;
    p.tree.reset();
    p.key_index_ready = false;
    if (coef == 0) {
        p.terms.clear();
        p.power_index.clear();
        p.chain = false;
        p.rare = false;
        return;
    }
    p.rare =
        p.chain ? (p.odd > 0 || (coef == 1 && p.live == 1 && lone_sum_power(p))) : entry_rare(a);
}

PolyRef Engine::power(const PolyRef& base, int n) {
    if (n == 0) {
        return constant_one();
    }
    if (n == 1) {
        return base;
    }
    if (PolyRef packed = power_packed(base, n)) {
        return packed;
    }
    const PolyRef half = power(base, n / 2);
    PolyRef square = multiply(half, half);
    if (n % 2 == 1) {
        return multiply(std::move(square), base);
    }
    return square;
}

}  // namespace tavrelo::fast
