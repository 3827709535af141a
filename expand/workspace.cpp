#include "expand/workspace.hpp"

#include <algorithm>
#include <utility>

namespace tavrelo::fast {
namespace {

// One set of scratch tables per thread, lent to one workspace at a time, so that later
// expansions do not pay for fresh tables; a workspace made while they are lent gets its own.
thread_local std::unique_ptr<Tables> spare_tables;

}  // namespace

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

bool lone_sum_power(const Bases& bases, const Summand& s) {
    const Power* only = nullptr;
    for (const Power& q : s.powers) {
        if (q.exp != 0) {
            if (only != nullptr) {
                return false;
            }
            only = &q;
        }
    }
    return only != nullptr && only->exp == 1 && kind_of(*bases.node(only->handle)) == ExprKind::Add;
}

bool entry_rare(const Bases& bases, const Summand& s) {
    for (const Power& p : s.powers) {
        if (p.exp == 1 && bases.decomposable(p.handle)) {
            return true;
        }
    }
    return s.coef == 1 && lone_sum_power(bases, s);
}

void Collector::begin() {
    if (++session_ == 0) {  // after 2^32 collections: no stale stamp may look current
        std::fill(stamp_.begin(), stamp_.end(), 0);
        session_ = 1;
    }
    entries_.clear();
    sums_.clear();
}

void Collector::add(std::uint32_t key, int coef, const Powers& powers, std::size_t keys) {
    if (key >= slot_.size()) {
        const std::size_t size = std::max<std::size_t>(keys, 2 * slot_.size());
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

bool Collector::add_to_known(std::uint32_t key, int coef) {
    if (key < slot_.size() && stamp_[key] == session_) {
        sums_[slot_[key]] += coef;
        return true;
    }
    return false;
}

// Tables up to this size stay with the thread for its next expansion: fresh ones are paged in
// from the system on every call, which took a fifth of the time of a 40,000-term product.
bool Tables::small() const {
    constexpr std::size_t kKeep = std::size_t{64} << 20;  // bytes
    return products.bytes() + output.bytes() <= kKeep;
}

Workspace::Workspace()
    : tables_(spare_tables ? std::move(spare_tables) : std::make_unique<Tables>()) {}

Workspace::~Workspace() {
    if (!spare_tables && tables_->small()) {
        spare_tables = std::move(tables_);
    }
}

std::uint32_t Workspace::key(Summand& s) {
    if (s.key == kNoKey) {
        s.key = static_cast<std::int32_t>(keys().key_of(s.powers));
    }
    return static_cast<std::uint32_t>(s.key);
}

Summand Workspace::from_term(const Term& t) {
    Summand s{t.coefficient, kNoKey, {}};
    s.powers.reserve(t.factors.size());
    for (const Factor& f : t.factors) {
        const std::uint32_t h = bases.handle_of(f.base);
        s.powers.push_back(Power{h, bases.id(h), f.exponent});
    }
    return s;
}

}  // namespace tavrelo::fast
