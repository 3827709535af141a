#include "expand/packed_products.hpp"

#include <algorithm>
#include <bit>
#include <limits>
#include <utility>

#include "core/checked_int.hpp"

namespace tavrelo::fast {
namespace {

constexpr std::uint32_t kNone = 0xFFFFFFFFu;

// An exponent sum past 32 bits is the general path's overflow error; pair counts past 2^31
// could carry the exact 64-bit sums out of range.
bool within_range(std::int64_t most, std::uint64_t pairs) {
    return most <= std::numeric_limits<std::int32_t>::max() && pairs < (std::uint64_t{1} << 31);
}

}  // namespace

std::size_t PackedProducts::bytes() const {
    return table_.bytes() +
           8 * (left_words_.capacity() + right_words_.capacity() + next_words_.capacity() +
                spare_keys_.capacity()) +
           4 * spare_coefs_.capacity();
}

void PackedProducts::reuse_spare(std::vector<std::uint64_t>& keys, std::vector<int>& coefs) {
    if (keys.capacity() == 0) {
        keys.swap(spare_keys_);
    }
    if (coefs.capacity() == 0) {
        coefs.swap(spare_coefs_);
    }
}

void PackedProducts::recycle(PackedValue&& value) {
    if (value.keys.capacity() > spare_keys_.capacity()) {
        spare_keys_ = std::move(value.keys);
    }
    if (value.coefs.capacity() > spare_coefs_.capacity()) {
        spare_coefs_ = std::move(value.coefs);
    }
}

void PackedProducts::compact(const std::uint64_t* lw, const std::uint64_t* rw,
                             std::vector<std::uint64_t>& keys, std::vector<int>& coefs) {
    reuse_spare(keys, coefs);
    table_.compact(layout_.words(), lw, rw, keys, coefs);
}

void PackedProducts::all_pairs(const std::uint64_t* lw, const int* lc, std::size_t left_count,
                               const std::uint64_t* rw, const int* rc, std::size_t right_count,
                               std::vector<std::uint64_t>& keys, std::vector<int>& coefs) {
    const std::size_t words = layout_.words();
    reuse_spare(keys, coefs);
    keys.clear();
    coefs.clear();
    keys.reserve(left_count * right_count * words);
    coefs.reserve(left_count * right_count);
    for (std::size_t i = 0; i < left_count; ++i) {
        const std::int64_t ca = lc[i];
        if (ca == 0) {
            continue;
        }
        for (std::size_t j = 0; j < right_count; ++j) {
            const std::int64_t product = ca * rc[j];
            if (!fits_int32(product)) {
                throw_overflow();
            }
            if (product == 0) {
                continue;
            }
            coefs.push_back(static_cast<int>(product));
            for (std::size_t w = 0; w < words; ++w) {
                keys.push_back(lw[i * words + w] + rw[j * words + w]);
            }
        }
    }
}

PackedProducts::Outcome PackedProducts::multiply_in_order(const Bases& bases,
                                                          const std::vector<Summand>& left,
                                                          const std::vector<Summand>& right,
                                                          bool square, std::vector<Summand>& out) {
    layout_.begin();
    bool mixed = false;  // harmless here: the operands stand in output order
    if (!layout_.assign(bases, left, layout_.most_left, mixed) ||
        (!square && !layout_.assign(bases, right, layout_.most_right, mixed))) {
        return Outcome::unfit;
    }
    const std::int64_t most = layout_.most_product_exponent(square);
    if (!within_range(most, std::uint64_t{left.size()} * right.size()) || !layout_.lay_out(most)) {
        return Outcome::unfit;
    }
    layout_.pack(left, left_words_);
    left_coef_.resize(left.size());
    for (std::size_t i = 0; i < left.size(); ++i) {
        left_coef_[i] = left[i].coef;
    }
    if (!square) {
        layout_.pack(right, right_words_);
        right_coef_.resize(right.size());
        for (std::size_t i = 0; i < right.size(); ++i) {
            right_coef_[i] = right[i].coef;
        }
    }
    const std::uint64_t* rw = square ? left_words_.data() : right_words_.data();
    const int* rc = square ? left_coef_.data() : right_coef_.data();
    table_.collect(layout_.words(), left_words_.data(), left_coef_.data(), left.size(), rw, rc,
                   right.size(), square);
    emit(left, square ? left : right, out);
    return Outcome::done;
}

PackedProducts::Outcome PackedProducts::multiply(const Bases& bases, const Operand& left,
                                                 const Operand& right, bool square,
                                                 PackedValue& out) {
    layout_.begin();
    bool mixed = false;
    const auto assign = [&](const Operand& side, std::vector<int>& most) {
        if (side.packed != nullptr) {
            layout_.assign(*side.packed, most, mixed);
            return true;
        }
        return layout_.assign(bases, *side.list, most, mixed);
    };
    if (!assign(left, layout_.most_left)) {
        return Outcome::unfit;
    }
    const std::size_t left_fields = layout_.fields.size();
    if (!square && !assign(right, layout_.most_right)) {
        return Outcome::unfit;
    }
    const std::int64_t most = layout_.most_product_exponent(square);
    // Operands without a base in common: distinct monomials on each side give distinct
    // products, so there is nothing to collect.
    bool apart = !square;
    for (std::size_t f = 0; f < left_fields && apart; ++f) {
        apart = layout_.most_right[f] == 0;
    }
    const auto count_of = [](const Operand& side) {
        return side.packed != nullptr ? side.packed->coefs.size() : side.list->size();
    };
    const std::size_t left_count = count_of(left);
    const std::size_t right_count = count_of(right);
    if (!within_range(most, std::uint64_t{left_count} * right_count) || !layout_.lay_out(most)) {
        return Outcome::unfit;
    }
    if (mixed) {
        return Outcome::needs_order;
    }
    const auto pack = [&](const Operand& side, std::vector<std::uint64_t>& words,
                          std::vector<int>& coefs) -> std::pair<const std::uint64_t*, const int*> {
        if (side.packed != nullptr) {
            return {layout_.repack(*side.packed, words), side.packed->coefs.data()};
        }
        layout_.pack(*side.list, words);
        coefs.resize(side.list->size());
        for (std::size_t i = 0; i < coefs.size(); ++i) {
            coefs[i] = (*side.list)[i].coef;
        }
        return {words.data(), coefs.data()};
    };
    const auto [lw, lc] = pack(left, left_words_, left_coef_);
    const auto [rw, rc] = square ? std::pair{lw, lc} : pack(right, right_words_, right_coef_);
    const std::size_t words = layout_.words();
    const auto distinct = [&](const Operand& side, const std::uint64_t* keys, std::size_t n) {
        if (side.packed != nullptr) {
            return true;  // collected
        }
        constexpr std::size_t kCompareUpTo = 64;
        if (n > kCompareUpTo) {
            return false;
        }
        for (std::size_t a = 0; a < n; ++a) {
            for (std::size_t b = a + 1; b < n; ++b) {
                if (std::equal(keys + a * words, keys + (a + 1) * words, keys + b * words)) {
                    return false;
                }
            }
        }
        return true;
    };
    if (apart && distinct(left, lw, left_count) && distinct(right, rw, right_count)) {
        all_pairs(lw, lc, left_count, rw, rc, right_count, out.keys, out.coefs);
    } else {
        table_.collect(words, lw, lc, left_count, rw, rc, right_count, square);
        compact(lw, rw, out.keys, out.coefs);
    }
    std::vector<int> most_of_field(layout_.most_left.size());
    for (std::size_t f = 0; f < most_of_field.size(); ++f) {
        most_of_field[f] = layout_.most_left[f] + layout_.most_right[f];
    }
    layout_.fill(bases, out, most_of_field);
    return Outcome::done;
}

PackedProducts::Outcome PackedProducts::collect(const Bases& bases,
                                                const std::vector<Summand>& first,
                                                const std::vector<Summand>* second,
                                                PackedValue& out) {
    const std::vector<Summand>* lists[] = {&first, second};
    layout_.begin();
    bool mixed = false;
    std::size_t count = 0;
    for (const auto* list : lists) {
        if (list != nullptr && !layout_.assign(bases, *list, layout_.most_left, mixed)) {
            return Outcome::unfit;
        }
        count += list != nullptr ? list->size() : 0;
    }
    if (mixed) {
        return Outcome::needs_order;
    }
    int most = 1;
    for (const int m : layout_.most_left) {
        most = std::max(most, m);
    }
    if (!layout_.lay_out(most)) {
        return Outcome::unfit;
    }
    // All summands one after the other, times the constant 1.
    left_words_.clear();
    left_coef_.clear();
    for (const auto* list : lists) {
        if (list == nullptr) {
            continue;
        }
        layout_.pack(*list, right_words_);
        left_words_.insert(left_words_.end(), right_words_.begin(), right_words_.end());
        for (const Summand& s : *list) {
            left_coef_.push_back(s.coef);
        }
    }
    right_words_.assign(layout_.words(), 0);
    right_coef_.assign(1, 1);
    table_.collect(layout_.words(), left_words_.data(), left_coef_.data(), count,
                   right_words_.data(), right_coef_.data(), 1, false);
    compact(left_words_.data(), right_words_.data(), out.keys, out.coefs);
    layout_.fill(bases, out, layout_.most_left);
    return Outcome::done;
}

// Repeated squaring (and one product with the base for each odd step) on packed values alone:
// each intermediate is collected (zero sums dropped, sums checked) as a product of expanded
// values would be, and only the last one gets factor lists.
PackedProducts::Outcome PackedProducts::power(const Bases& bases, const std::vector<Summand>& side,
                                              int n, PackedValue& out) {
    layout_.begin();
    bool mixed = false;
    if (n < 2 || !layout_.assign(bases, side, layout_.most_left, mixed) || mixed) {
        return Outcome::unfit;
    }
    std::int64_t most = 1;
    for (const int m : layout_.most_left) {
        most = std::max<std::int64_t>(most, std::int64_t{m} * n);
    }
    if (most > std::numeric_limits<std::int32_t>::max() || !layout_.lay_out(most)) {
        return Outcome::unfit;
    }
    layout_.pack(side, right_words_);
    right_coef_.resize(side.size());
    for (std::size_t i = 0; i < side.size(); ++i) {
        right_coef_[i] = side[i].coef;
    }
    // The value so far (the base to the power of the leading bits of n) in left_words_.
    left_words_ = right_words_;
    left_coef_ = right_coef_;
    const int top = std::bit_width(static_cast<unsigned>(n)) - 1;
    for (int bit = top - 1; bit >= 0; --bit) {
        for (const bool odd : {false, true}) {
            if (odd && ((n >> bit) & 1) == 0) {
                continue;
            }
            const std::size_t count = left_coef_.size();
            const std::size_t other = odd ? side.size() : count;
            if (std::uint64_t{count} * other >= (std::uint64_t{1} << 31)) {
                return Outcome::unfit;
            }
            const std::uint64_t* rw = odd ? right_words_.data() : left_words_.data();
            table_.collect(layout_.words(), left_words_.data(), left_coef_.data(), count, rw,
                           odd ? right_coef_.data() : left_coef_.data(), other, !odd);
            compact(left_words_.data(), rw, next_words_, next_coef_);
            left_words_.swap(next_words_);
            left_coef_.swap(next_coef_);
        }
    }
    std::vector<int> most_of_field(layout_.most_left.size());
    for (std::size_t f = 0; f < most_of_field.size(); ++f) {
        most_of_field[f] = static_cast<int>(std::int64_t{layout_.most_left[f]} * n);
    }
    out.keys = left_words_;
    out.coefs = left_coef_;
    layout_.fill(bases, out, most_of_field);
    return Outcome::done;
}

// Each surviving entry with the factors of its first pair, merged as a pairwise product merges
// them: the left summand's powers in order, then the right one's new bases, zeros left out.
void PackedProducts::emit(const std::vector<Summand>& left, const std::vector<Summand>& right,
                          std::vector<Summand>& out) {
    const std::uint64_t* rw = &left == &right ? left_words_.data() : right_words_.data();
    const std::size_t words = layout_.words();
    const std::vector<PairTable::Entry>& entries = table_.entries();
    mark_.assign(layout_.fields.size(), kNone);
    out.clear();
    out.reserve(entries.size());
    for (std::size_t e = 0; e < entries.size(); ++e) {
        const PairTable::Entry& entry = entries[e];
        if (entry.sum == 0) {
            continue;
        }
        Summand s{to_int32(entry.sum), kNoKey, {}};
        const Summand& a = left[entry.left];
        const Summand& b = right[entry.right];
        const std::uint64_t* kb = rw + std::size_t{entry.right} * words;
        s.powers.reserve(a.powers.size() + b.powers.size());
        for (const Power& p : a.powers) {
            mark_[layout_.fields.at(p.id)] = static_cast<std::uint32_t>(e);
            const int extra = layout_.exponent(kb, p.id);
            if (p.exp + extra != 0) {
                s.powers.push_back(Power{p.handle, p.id, p.exp + extra});
            }
        }
        for (const Power& q : b.powers) {
            if (mark_[layout_.fields.at(q.id)] != static_cast<std::uint32_t>(e) && q.exp != 0) {
                s.powers.push_back(q);
            }
        }
        out.push_back(std::move(s));
    }
}

}  // namespace tavrelo::fast
