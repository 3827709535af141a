#include "expand/term_builder.hpp"

#include <algorithm>
#include <bit>
#include <memory>
#include <utility>

#include "core/node_pool.hpp"

namespace tavrelo::fast {

namespace {

// Integers are keyed under a handle no base can have.
constexpr std::uint64_t kIntegerKeys = std::uint64_t{0xFFFFFFFFu} << 32;

constexpr std::uint64_t key_of(std::uint32_t high, int low) {
    return (std::uint64_t{high} << 32) | static_cast<std::uint32_t>(low);
}

// An emptied table kept for the next builder of about the same size on this thread: short
// expansions would otherwise pay for a fresh table (and the allocator's bookkeeping of a large
// block) on every call.
constexpr std::size_t kKeepSlots = 4096;
thread_local std::vector<NodeSlot> spare_slots;

}  // namespace

TermBuilder::TermBuilder(const Bases& bases, std::size_t terms)
    : bases_(bases), share_(terms >= kShareFrom) {
    if (!share_) {
        return;
    }
    // About three entries a term (a power, its exponent, a coefficient) while they are few.
    const std::size_t want = std::bit_ceil(std::min(6 * terms, kKeepSlots));
    if (spare_slots.size() >= want && spare_slots.size() <= 4 * want) {
        slots_ = std::move(spare_slots);
        spare_slots = {};
        shift_ = static_cast<unsigned>(64 - std::countr_zero(slots_.size()));
    } else {
        grow(want);
    }
}

TermBuilder::~TermBuilder() {
    if (slots_.empty() || slots_.size() > kKeepSlots) {
        return;
    }
    for (NodeSlot& s : slots_) {
        s.node.reset();
    }
    spare_slots = std::move(slots_);
}

void TermBuilder::grow(std::size_t size) {
    std::vector<NodeSlot> old = std::move(slots_);
    slots_ = std::vector<NodeSlot>(size);
    shift_ = static_cast<unsigned>(64 - std::countr_zero(size));
    for (NodeSlot& s : old) {
        if (s.node) {
            std::size_t at = (s.key * 0x9E3779B97F4A7C15ull) >> shift_;
            while (slots_[at].node) {
                at = (at + 1) & (size - 1);
            }
            slots_[at] = std::move(s);
        }
    }
}

ExprPtr& TermBuilder::slot(std::uint64_t key) {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t at = (key * 0x9E3779B97F4A7C15ull) >> shift_;; at = (at + 1) & mask) {
        NodeSlot& s = slots_[at];
        if (!s.node) {
            ++used_;
            s.key = key;
            return s.node;
        }
        if (s.key == key) {
            return s.node;
        }
    }
}

const ExprPtr& TermBuilder::integer_in_room(int value) {
    ExprPtr& node = slot(kIntegerKeys | key_of(0, value));
    if (!node) {
        node = make_node<Int>(value);
    }
    return node;
}

const ExprPtr& TermBuilder::integer(int value) {
    if (!share_) {
        integer_ = make_node<Int>(value);
        return integer_;
    }
    make_room(1);
    return integer_in_room(value);
}

const ExprPtr& TermBuilder::piece_node(const Piece& p) {
    const ExprPtr& base = bases_.node(p.handle);
    if (p.exp == 1) {
        return base;
    }
    // The exponent's node first: a slot stays free until its node is set.
    make_room(2);
    const ExprPtr& exp = integer_in_room(p.exp);
    ExprPtr& node = slot(key_of(p.handle, p.exp));
    if (!node) {
        node = make_node<Pow>(base, exp);
    }
    return node;
}

void TermBuilder::factor(std::uint32_t handle, int exp) {
    if (!share_) {
        const ExprPtr& base = bases_.node(handle);
        ExprPtr piece = exp == 1 ? base : make_node<Pow>(base, make_node<Int>(exp));
        plain_ = plain_ ? make_node<Mul>(std::move(plain_), std::move(piece)) : std::move(piece);
        return;
    }
    const Piece p{handle, exp};
    // A leading product given away (see keep_next) cannot be shared any more.
    if (!diverged_ && matched_ < pieces_.size() && pieces_[matched_] == p && products_[matched_]) {
        ++matched_;
        return;
    }
    if (!diverged_) {
        diverged_ = true;
        pieces_.resize(matched_);
        products_.resize(matched_);
    }
    extend(p, keep_);
    ++matched_;
}

void TermBuilder::extend(const Piece& p, std::size_t keep) {
    const ExprPtr& piece = piece_node(p);
    if (products_.empty()) {
        products_.push_back(piece);
    } else {
        // The next term needs the product so far only if it shares these pieces; else the
        // new product takes it over, without raising its reference count and dropping it later.
        ExprPtr& so_far = products_.back();
        ExprPtr left = products_.size() <= keep ? so_far : std::move(so_far);
        products_.push_back(make_node<Mul>(std::move(left), piece));
    }
    pieces_.push_back(p);
}

ExprPtr TermBuilder::finish(int coef) {
    if (!share_) {
        ExprPtr product = std::move(plain_);
        plain_.reset();
        if (coef == 0 || !product) {
            return make_node<Int>(coef);
        }
        if (coef == 1) {
            return product;
        }
        if (coef == -1) {
            return make_node<Neg>(std::move(product));
        }
        return make_node<Mul>(make_node<Int>(coef), std::move(product));
    }
    // A term that is a leading part of the previous one becomes the one to compare with.
    pieces_.resize(matched_);
    products_.resize(matched_);
    const std::size_t factors = matched_;
    const bool made = diverged_;
    matched_ = 0;
    diverged_ = false;
    return close(factors, made, std::exchange(keep_, kKeepAll), coef);
}

ExprPtr TermBuilder::term(const Factor* factors, std::size_t count, int coef, std::size_t keep) {
    if (!share_) {
        for (std::size_t i = 0; i < count; ++i) {
            factor(factors[i].handle, factors[i].exp);
        }
        return finish(coef);
    }
    // The leading factors in common with the previous term keep their products.
    std::size_t same = 0;
    const std::size_t limit = std::min(count, pieces_.size());
    while (same < limit && pieces_[same] == factors[same] && products_[same]) {
        ++same;
    }
    pieces_.resize(same);
    products_.resize(same);
    for (std::size_t i = same; i < count; ++i) {
        extend(factors[i], keep);
    }
    return close(count, same < count, keep, coef);
}

ExprPtr TermBuilder::close(std::size_t factors, bool made, std::size_t keep, int coef) {
    if (coef == 0 || factors == 0) {
        return integer(coef);
    }
    // Without a hint, a product made for this term goes to the term itself: in output order no
    // later term extends it (its text would sort before this one), so the table keeps only the
    // leading products before it, and no reference count is raised and dropped for it.
    ExprPtr product;
    if (keep == kKeepAll ? made : factors > keep) {
        product = std::move(products_.back());
        products_.pop_back();
        pieces_.pop_back();
    } else {
        product = products_.back();
    }
    if (coef == 1) {
        return product;
    }
    if (coef == -1) {
        return make_node<Neg>(std::move(product));
    }
    return make_node<Mul>(integer(coef), std::move(product));
}

}  // namespace tavrelo::fast
