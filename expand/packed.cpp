#include "expand/packed.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>
#include <limits>
#include <string_view>

#include "core/checked_int.hpp"
#include "core/latex_rules.hpp"
#include "core/node_pool.hpp"
#include "expand/term_builder.hpp"

namespace tavrelo::fast {
namespace {

constexpr std::uint64_t kEmpty = ~std::uint64_t{0};
constexpr std::uint32_t kNone = 0xFFFFFFFFu;
constexpr std::size_t kFetchAhead = 8;

template <std::size_t W>
std::size_t slot_of(const std::uint64_t* key, unsigned shift) {
    std::uint64_t h = key[0];
    if constexpr (W == 2) {
        h ^= key[1] * 0xC2B2AE3D27D4EB4Full;
    }
    return static_cast<std::size_t>((h * 0x9E3779B97F4A7C15ull) >> shift);
}

}  // namespace

void PackedProducts::next_session() {
    if (++session_ == 0) {  // after 2^32 sessions: no stale stamp may look current
        std::fill(field_stamp_.begin(), field_stamp_.end(), 0);
        session_ = 1;
    }
}

bool PackedProducts::small() const {
    // Tables up to this size stay with the thread for its next expansion: fresh ones are paged in
    // from the system on every call, which took a fifth of the time of a 40,000-term product.
    constexpr std::size_t kKeep = std::size_t{64} << 20;  // bytes
    const std::size_t bytes =
        8 * (slots_.capacity() + left_words_.capacity() + right_words_.capacity()) +
        8 * (next_words_.capacity() + placed_.capacity() + spare_keys_.capacity()) +
        4 * spare_coefs_.capacity() + sizeof(Entry) * entries_.capacity() +
        sizeof(Keyed) * (keyed_.capacity() + keyed_scratch_.capacity()) + text_.capacity() +
        tokens_.bytes();
    return bytes <= kKeep;
}

const std::string& PackedProducts::name_of(Bases& bases, std::uint32_t field) const {
    return as<Var>(*bases.node(handle_of_field_[field])).name;
}

bool PackedProducts::classify(Bases& bases, std::uint32_t handle) {
    if (handle >= plain_.size()) {
        plain_.resize(std::max<std::size_t>(handle + 1, 2 * plain_.size()), -1);
    }
    if (plain_[handle] < 0) {
        const Expr& node = *bases.node(handle);
        const bool ok = kind_of(node) == ExprKind::Var && latex::is_plain_name(as<Var>(node).name);
        plain_[handle] = ok ? 1 : 0;
    }
    return plain_[handle] == 1;
}

// Gives every base id of `side` a field and records each field's largest exponent there. Fails
// on anything but plain variables with exponents >= 0; notes a structure met as several nodes.
bool PackedProducts::assign_fields(Bases& bases, const std::vector<Summand>& side,
                                   std::vector<int>& most, bool& mixed) {
    for (const Summand& s : side) {
        ++seen_stamp_;
        for (const Power& p : s.powers) {
            if (p.exp < 0 || !plain(bases, p.handle)) {
                return false;
            }
            if (p.id >= field_stamp_.size()) {
                const std::size_t size = std::max<std::size_t>(p.id + 1, 2 * field_stamp_.size());
                field_stamp_.resize(size, 0);
                field_of_id_.resize(size, 0);
            }
            if (field_stamp_[p.id] != session_) {
                field_stamp_[p.id] = session_;
                field_of_id_[p.id] = static_cast<std::uint32_t>(handle_of_field_.size());
                handle_of_field_.push_back(p.handle);
                most_left_.push_back(0);
                most_right_.push_back(0);
                seen_.push_back(0);
            }
            const std::uint32_t f = field_of_id_[p.id];
            if (seen_[f] == seen_stamp_) {
                return false;
            }
            mixed = mixed || handle_of_field_[f] != p.handle;
            seen_[f] = seen_stamp_;
            most[f] = std::max(most[f], p.exp);
        }
    }
    return true;
}

// Fields of bits_ bits wide enough for `most`, packed into words; false past two words.
bool PackedProducts::lay_out_fields(std::int64_t most) {
    bits_ = static_cast<unsigned>(std::bit_width(static_cast<std::uint64_t>(most)));
    const unsigned per_word = 64 / bits_;
    const std::size_t fields = handle_of_field_.size();
    words_ = std::max<std::size_t>(1, (fields + per_word - 1) / per_word);
    if (words_ > 2) {
        return false;
    }
    // Word and shift of each field, once, instead of a division for every exponent.
    word_of_field_.resize(fields);
    shift_of_field_.resize(fields);
    for (std::size_t f = 0; f < fields; ++f) {
        word_of_field_[f] = static_cast<std::uint8_t>(f / per_word);
        shift_of_field_[f] = static_cast<std::uint8_t>(f % per_word * bits_);
    }
    return true;
}

void PackedProducts::pack_side(const std::vector<Summand>& side,
                               std::vector<std::uint64_t>& words) {
    words.assign(side.size() * words_, 0);
    for (std::size_t i = 0; i < side.size(); ++i) {
        std::uint64_t* w = &words[i * words_];
        for (const Power& p : side[i].powers) {
            const std::uint32_t f = field_of_id_[p.id];
            w[word_of_field_[f]] += static_cast<std::uint64_t>(p.exp) << shift_of_field_[f];
        }
    }
}

PackedProducts::Outcome PackedProducts::multiply(Bases& bases, const std::vector<Summand>& left,
                                                 const std::vector<Summand>& right, bool square,
                                                 std::vector<Summand>& out) {
    begin_fields();
    bool mixed = false;
    if (!assign_fields(bases, left, most_left_, mixed) ||
        (!square && !assign_fields(bases, right, most_right_, mixed))) {
        return Outcome::unfit;
    }
    const std::int64_t most = most_product_exponent(square);
    // An exponent sum past 32 bits is the general path's overflow error; pair counts past 2^31
    // could carry the exact 64-bit sums out of range.
    const std::uint64_t pairs = std::uint64_t{left.size()} * right.size();
    if (most > std::numeric_limits<std::int32_t>::max() || pairs >= (std::uint64_t{1} << 31)) {
        return Outcome::unfit;
    }
    if (!lay_out_fields(most)) {
        return Outcome::unfit;
    }

    pack_side(left, left_words_);
    left_coef_.resize(left.size());
    for (std::size_t i = 0; i < left.size(); ++i) {
        left_coef_[i] = left[i].coef;
    }
    if (!square) {
        pack_side(right, right_words_);
        right_coef_.resize(right.size());
        for (std::size_t i = 0; i < right.size(); ++i) {
            right_coef_[i] = right[i].coef;
        }
    }
    const std::uint64_t* rw = square ? left_words_.data() : right_words_.data();
    const int* rc = square ? left_coef_.data() : right_coef_.data();
    pairs_of(left_words_.data(), left_coef_.data(), left.size(), rw, rc, right.size(), square);
    emit(left, square ? left : right, out);
    return Outcome::done;
}

// The largest exponent a product can reach in any field (at least 1); a square's right side is
// its left.
std::int64_t PackedProducts::most_product_exponent(bool square) {
    if (square) {
        most_right_ = most_left_;
    }
    std::int64_t most = 1;
    for (std::size_t f = 0; f < most_left_.size(); ++f) {
        most = std::max<std::int64_t>(most, std::int64_t{most_left_[f]} + most_right_[f]);
    }
    return most;
}

void PackedProducts::begin_fields() {
    next_session();
    handle_of_field_.clear();
    most_left_.clear();
    most_right_.clear();
    seen_.clear();
    seen_stamp_ = 0;
}

// Gives every field of a packed value a field here, noting a structure met as another node.
void PackedProducts::assign_packed_fields(const PackedValue& value, std::vector<int>& most,
                                          bool& mixed) {
    for (std::size_t f = 0; f < value.ids.size(); ++f) {
        const std::uint32_t id = value.ids[f];
        if (id >= field_stamp_.size()) {
            const std::size_t size = std::max<std::size_t>(id + 1, 2 * field_stamp_.size());
            field_stamp_.resize(size, 0);
            field_of_id_.resize(size, 0);
        }
        if (field_stamp_[id] != session_) {
            field_stamp_[id] = session_;
            field_of_id_[id] = static_cast<std::uint32_t>(handle_of_field_.size());
            handle_of_field_.push_back(value.handles[f]);
            most_left_.push_back(0);
            most_right_.push_back(0);
            seen_.push_back(0);
        }
        const std::uint32_t g = field_of_id_[id];
        mixed = mixed || handle_of_field_[g] != value.handles[f];
        most[g] = std::max(most[g], value.most[f]);
    }
}

// The value's keys in the current layout: its own when the layouts agree (its fields come first
// here, in its order), else moved into `words` field by field.
const std::uint64_t* PackedProducts::repack(const PackedValue& value,
                                            std::vector<std::uint64_t>& words) {
    const std::size_t count = value.coefs.size();
    bool same_fields = true;
    for (std::size_t f = 0; f < value.ids.size() && same_fields; ++f) {
        same_fields = field_of_id_[value.ids[f]] == f;
    }
    if (same_fields && value.bits == bits_ && value.words == words_) {
        return value.keys.data();
    }
    words.assign(count * words_, 0);
    if (same_fields && value.bits == bits_) {  // the same fields, only more words
        for (std::size_t i = 0; i < count; ++i) {
            std::copy_n(&value.keys[i * value.words], value.words, &words[i * words_]);
        }
        return words.data();
    }
    const unsigned per_word = 64 / value.bits;
    const std::uint64_t mask = (std::uint64_t{1} << value.bits) - 1;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> from(value.ids.size());
    for (std::size_t f = 0; f < value.ids.size(); ++f) {
        from[f] = {static_cast<std::uint32_t>(f / per_word),
                   static_cast<std::uint32_t>(f % per_word * value.bits)};
    }
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t* key = &value.keys[i * value.words];
        std::uint64_t* w = &words[i * words_];
        for (std::size_t f = 0; f < from.size(); ++f) {
            const std::uint64_t exp = (key[from[f].first] >> from[f].second) & mask;
            const std::uint32_t g = field_of_id_[value.ids[f]];
            w[word_of_field_[g]] |= exp << shift_of_field_[g];
        }
    }
    return words.data();
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

// Every pair in first-operand-major order as an entry of its own, products checked as the
// collection checks them.
void PackedProducts::all_pairs(const std::uint64_t* lw, const int* lc, std::size_t left_count,
                               const std::uint64_t* rw, const int* rc, std::size_t right_count,
                               std::vector<std::uint64_t>& keys, std::vector<int>& coefs) {
    reuse_spare(keys, coefs);
    keys.clear();
    coefs.clear();
    keys.reserve(left_count * right_count * words_);
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
            for (std::size_t w = 0; w < words_; ++w) {
                keys.push_back(lw[i * words_ + w] + rw[j * words_ + w]);
            }
        }
    }
}

// The surviving entries of the last pair collection, sums checked, as packed keys.
void PackedProducts::compact(const std::uint64_t* lw, const std::uint64_t* rw,
                             std::vector<std::uint64_t>& keys, std::vector<int>& coefs) {
    reuse_spare(keys, coefs);
    keys.clear();
    coefs.clear();
    keys.reserve(entries_.size() * words_);
    coefs.reserve(entries_.size());
    for (const Entry& e : entries_) {
        if (e.sum == 0) {
            continue;
        }
        coefs.push_back(to_int32(e.sum));
        for (std::size_t w = 0; w < words_; ++w) {
            keys.push_back(lw[e.left * words_ + w] + rw[e.right * words_ + w]);
        }
    }
}

void PackedProducts::fill(Bases& bases, PackedValue& out, const std::vector<int>& most) const {
    out.handles = handle_of_field_;
    out.ids.resize(handle_of_field_.size());
    for (std::size_t f = 0; f < handle_of_field_.size(); ++f) {
        out.ids[f] = bases.id(handle_of_field_[f]);
    }
    out.most = most;
    out.bits = bits_;
    out.words = words_;
}

PackedProducts::Outcome PackedProducts::multiply_packed(Bases& bases, const Operand& left,
                                                        const Operand& right, bool square,
                                                        PackedValue& out) {
    begin_fields();
    bool mixed = false;
    const auto assign = [&](const Operand& side, std::vector<int>& most) {
        if (side.packed != nullptr) {
            assign_packed_fields(*side.packed, most, mixed);
            return true;
        }
        return assign_fields(bases, *side.list, most, mixed);
    };
    if (!assign(left, most_left_)) {
        return Outcome::unfit;
    }
    const std::size_t left_fields = handle_of_field_.size();
    if (!square && !assign(right, most_right_)) {
        return Outcome::unfit;
    }
    const std::int64_t most = most_product_exponent(square);
    // Operands without a base in common: distinct monomials on each side give distinct
    // products, so there is nothing to collect.
    bool apart = !square;
    for (std::size_t f = 0; f < left_fields && apart; ++f) {
        apart = most_right_[f] == 0;
    }
    const auto count_of = [](const Operand& side) {
        return side.packed != nullptr ? side.packed->coefs.size() : side.list->size();
    };
    const std::size_t left_count = count_of(left);
    const std::size_t right_count = count_of(right);
    const std::uint64_t pairs = std::uint64_t{left_count} * right_count;
    if (most > std::numeric_limits<std::int32_t>::max() || pairs >= (std::uint64_t{1} << 31)) {
        return Outcome::unfit;
    }
    if (!lay_out_fields(most)) {
        return Outcome::unfit;
    }
    if (mixed) {
        return Outcome::needs_order;
    }
    const auto pack = [&](const Operand& side, std::vector<std::uint64_t>& words,
                          std::vector<int>& coefs) -> std::pair<const std::uint64_t*, const int*> {
        if (side.packed != nullptr) {
            return {repack(*side.packed, words), side.packed->coefs.data()};
        }
        pack_side(*side.list, words);
        coefs.resize(side.list->size());
        for (std::size_t i = 0; i < coefs.size(); ++i) {
            coefs[i] = (*side.list)[i].coef;
        }
        return {words.data(), coefs.data()};
    };
    const auto [lw, lc] = pack(left, left_words_, left_coef_);
    const auto [rw, rc] = square ? std::pair{lw, lc} : pack(right, right_words_, right_coef_);
    const auto distinct = [&](const Operand& side, const std::uint64_t* words, std::size_t n) {
        if (side.packed != nullptr) {
            return true;  // collected
        }
        constexpr std::size_t kCompareUpTo = 64;
        if (n > kCompareUpTo) {
            return false;
        }
        for (std::size_t a = 0; a < n; ++a) {
            for (std::size_t b = a + 1; b < n; ++b) {
                if (std::equal(words + a * words_, words + (a + 1) * words_, words + b * words_)) {
                    return false;
                }
            }
        }
        return true;
    };
    if (apart && distinct(left, lw, left_count) && distinct(right, rw, right_count)) {
        all_pairs(lw, lc, left_count, rw, rc, right_count, out.keys, out.coefs);
    } else {
        pairs_of(lw, lc, left_count, rw, rc, right_count, square);
        compact(lw, rw, out.keys, out.coefs);
    }
    std::vector<int> most_of_field(most_left_.size());
    for (std::size_t f = 0; f < most_left_.size(); ++f) {
        most_of_field[f] = most_left_[f] + most_right_[f];
    }
    fill(bases, out, most_of_field);
    return Outcome::done;
}

PackedProducts::Outcome PackedProducts::collect(Bases& bases, const std::vector<Summand>& first,
                                                const std::vector<Summand>* second,
                                                PackedValue& out) {
    const std::vector<Summand>* lists[] = {&first, second};
    begin_fields();
    bool mixed = false;
    std::size_t count = 0;
    for (const auto* list : lists) {
        if (list != nullptr && !assign_fields(bases, *list, most_left_, mixed)) {
            return Outcome::unfit;
        }
        count += list != nullptr ? list->size() : 0;
    }
    if (mixed) {
        return Outcome::needs_order;
    }
    int most = 1;
    for (const int m : most_left_) {
        most = std::max(most, m);
    }
    if (!lay_out_fields(most)) {
        return Outcome::unfit;
    }
    // All summands one after the other, times the constant 1.
    left_words_.clear();
    left_coef_.clear();
    for (const auto* list : lists) {
        if (list == nullptr) {
            continue;
        }
        pack_side(*list, right_words_);
        left_words_.insert(left_words_.end(), right_words_.begin(), right_words_.end());
        for (const Summand& s : *list) {
            left_coef_.push_back(s.coef);
        }
    }
    right_words_.assign(words_, 0);
    right_coef_.assign(1, 1);
    pairs_of(left_words_.data(), left_coef_.data(), count, right_words_.data(), right_coef_.data(),
             1, false);
    compact(left_words_.data(), right_words_.data(), out.keys, out.coefs);
    fill(bases, out, most_left_);
    return Outcome::done;
}

void PackedProducts::unpack(const PackedValue& value, std::vector<Summand>& out) {
    const unsigned per_word = 64 / value.bits;
    const std::uint64_t mask = (std::uint64_t{1} << value.bits) - 1;
    const std::size_t fields = value.ids.size();
    std::vector<std::pair<std::uint32_t, std::uint32_t>> at(fields);
    for (std::size_t f = 0; f < fields; ++f) {
        at[f] = {static_cast<std::uint32_t>(f / per_word),
                 static_cast<std::uint32_t>(f % per_word * value.bits)};
    }
    std::uint64_t lowest = 0;  // the lowest bit of every field
    for (unsigned f = 0; f < per_word; ++f) {
        lowest |= std::uint64_t{1} << (f * value.bits);
    }
    out.clear();
    out.reserve(value.coefs.size());
    for (std::size_t k = 0; k < value.coefs.size(); ++k) {
        const std::uint64_t* key = &value.keys[k * value.words];
        std::size_t live = 0;  // non-zero fields, each folded onto its lowest bit
        for (std::size_t w = 0; w < value.words; ++w) {
            std::uint64_t folded = key[w];
            for (unsigned b = 1; b < value.bits; ++b) {
                folded |= key[w] >> b;
            }
            live += static_cast<std::size_t>(std::popcount(folded & lowest));
        }
        Summand s{value.coefs[k], kNoKey, {}};
        s.powers.reserve(live);
        for (std::size_t f = 0; f < fields; ++f) {
            const auto exp = static_cast<int>((key[at[f].first] >> at[f].second) & mask);
            if (exp != 0) {
                s.powers.push_back(Power{value.handles[f], value.ids[f], exp});
            }
        }
        out.push_back(std::move(s));
    }
}

void PackedProducts::pairs_of(const std::uint64_t* lw, const int* lc, std::size_t left_count,
                              const std::uint64_t* rw, const int* rc, std::size_t right_count,
                              bool square) {
    if (words_ == 1) {
        collect_pairs<1>(lw, lc, left_count, rw, rc, right_count, square);
    } else {
        collect_pairs<2>(lw, lc, left_count, rw, rc, right_count, square);
    }
}

// Repeated squaring (and one product with the base for each odd step) on packed values alone:
// each intermediate is collected (zero sums dropped, sums checked) as a product of expanded
// values would be, and only the last one gets factor lists.
PackedProducts::Outcome PackedProducts::power(Bases& bases, const std::vector<Summand>& side, int n,
                                              PackedValue& out) {
    begin_fields();
    bool mixed = false;
    if (n < 2 || !assign_fields(bases, side, most_left_, mixed) || mixed) {
        return Outcome::unfit;
    }
    std::int64_t most = 1;
    for (const int m : most_left_) {
        most = std::max<std::int64_t>(most, std::int64_t{m} * n);
    }
    if (most > std::numeric_limits<std::int32_t>::max()) {
        return Outcome::unfit;
    }
    if (!lay_out_fields(most)) {
        return Outcome::unfit;
    }
    pack_side(side, right_words_);
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
            pairs_of(left_words_.data(), left_coef_.data(), count,
                     odd ? right_words_.data() : left_words_.data(),
                     odd ? right_coef_.data() : left_coef_.data(), other, !odd);
            compact(left_words_.data(), odd ? right_words_.data() : left_words_.data(), next_words_,
                    next_coef_);
            left_words_.swap(next_words_);
            left_coef_.swap(next_coef_);
        }
    }
    std::vector<int> most_of_field(most_left_.size());
    for (std::size_t f = 0; f < most_left_.size(); ++f) {
        most_of_field[f] = static_cast<int>(std::int64_t{most_left_[f]} * n);
    }
    out.keys = left_words_;
    out.coefs = left_coef_;
    fill(bases, out, most_of_field);
    return Outcome::done;
}

template <std::size_t W>
void PackedProducts::grow() {
    const std::size_t stride = W + 1;
    const std::size_t capacity = 2 * (mask_ + 1);
    std::vector<std::uint64_t> old = std::move(slots_);
    slots_.assign(capacity * stride, kEmpty);  // free slots; their key words are never read
    mask_ = capacity - 1;
    const auto shift = static_cast<unsigned>(64 - std::countr_zero(capacity));
    for (std::size_t i = 0; i * stride < old.size(); ++i) {
        const std::uint64_t* s = &old[i * stride];
        if (s[W] == kEmpty) {
            continue;
        }
        std::size_t at = slot_of<W>(s, shift);
        while (slots_[at * stride + W] != kEmpty) {
            at = (at + 1) & mask_;
        }
        std::copy(s, s + stride, &slots_[at * stride]);
    }
}

// Every pair in first-operand-major order, or for a square each unordered pair once (i <= j):
// the first occurrence of a monomial in the full order is its least pair, which has i <= j, so
// entries are met in the same order, and the other half only doubles the sums.
template <std::size_t W>
void PackedProducts::collect_pairs(const std::uint64_t* lw, const int* lc, std::size_t left_count,
                                   const std::uint64_t* rw, const int* rc, std::size_t right_count,
                                   bool square) {
    constexpr std::size_t stride = W + 1;

    entries_.clear();
    const std::size_t pairs = square ? left_count * (left_count + 1) / 2 : left_count * right_count;
    // Sparse products keep most of their pairs; dense ones collect far fewer entries. Products
    // of two different sums are more often sparse, and a table of kRoomyGuess entries costs
    // less to clear than to grow twice.
    constexpr std::size_t kRoomyGuess = std::size_t{1} << 15;
    const std::size_t guess =
        std::min<std::size_t>(pairs, std::max({4 * (left_count + right_count) + 16, pairs / 4,
                                               square ? std::size_t{0} : kRoomyGuess}));
    const std::size_t capacity = std::bit_ceil(std::max<std::size_t>(4 * guess / 3, 2));
    slots_.assign(capacity * stride, kEmpty);  // free slots; their key words are never read
    mask_ = capacity - 1;
    auto shift = static_cast<unsigned>(64 - std::countr_zero(capacity));

    std::uint64_t key[W];
    for (std::size_t i = 0; i < left_count; ++i) {
        const std::int64_t ca = lc[i];
        if (ca == 0) {
            continue;
        }
        const std::uint64_t* ka = lw + i * W;
        for (std::size_t j = square ? i : 0; j < right_count; ++j) {
            std::int64_t product = ca * rc[j];
            if (!fits_int32(product)) {
                throw_overflow();
            }
            if (product == 0) {
                continue;
            }
            if (square && j != i) {
                product *= 2;
            }
            const std::uint64_t* kb = rw + j * W;
            for (std::size_t w = 0; w < W; ++w) {
                key[w] = ka[w] + kb[w];
            }
            std::size_t at = slot_of<W>(key, shift);
            while (true) {
                std::uint64_t* s = &slots_[at * stride];
                if (s[W] == kEmpty) {
                    std::copy(key, key + W, s);
                    s[W] = entries_.size();
                    entries_.push_back(Entry{product, static_cast<std::uint32_t>(i),
                                             static_cast<std::uint32_t>(j)});
                    if (4 * entries_.size() > 3 * (mask_ + 1)) {
                        grow<W>();
                        shift = static_cast<unsigned>(64 - std::countr_zero(mask_ + 1));
                    }
                    break;
                }
                if (std::equal(key, key + W, s)) {
                    entries_[s[W]].sum += product;
                    break;
                }
                at = (at + 1) & mask_;
            }
        }
    }
}

// Each surviving entry with the factors of its first pair, merged as a pairwise product merges
// them: the left summand's powers in order, then the right one's new bases, zeros left out.
void PackedProducts::emit(const std::vector<Summand>& left, const std::vector<Summand>& right,
                          std::vector<Summand>& out) {
    const std::uint64_t* rw = &left == &right ? left_words_.data() : right_words_.data();
    const std::uint64_t field_mask = (std::uint64_t{1} << bits_) - 1;
    mark_.assign(handle_of_field_.size(), kNone);
    out.clear();
    out.reserve(entries_.size());
    for (std::size_t e = 0; e < entries_.size(); ++e) {
        const Entry& entry = entries_[e];
        if (entry.sum == 0) {
            continue;
        }
        Summand s{to_int32(entry.sum), kNoKey, {}};
        const Summand& a = left[entry.left];
        const Summand& b = right[entry.right];
        const std::uint64_t* kb = rw + std::size_t{entry.right} * words_;
        s.powers.reserve(a.powers.size() + b.powers.size());
        for (const Power& p : a.powers) {
            const std::uint32_t f = field_of_id_[p.id];
            mark_[f] = static_cast<std::uint32_t>(e);
            const auto extra =
                static_cast<int>((kb[word_of_field_[f]] >> shift_of_field_[f]) & field_mask);
            if (p.exp + extra != 0) {
                s.powers.push_back(Power{p.handle, p.id, p.exp + extra});
            }
        }
        for (const Power& q : b.powers) {
            if (mark_[field_of_id_[q.id]] != static_cast<std::uint32_t>(e) && q.exp != 0) {
                s.powers.push_back(q);
            }
        }
        out.push_back(std::move(s));
    }
}

// Gives every base id of `entries` a field, ranked by descending name; false when some base is
// not a plain variable.
bool PackedProducts::rank_fields(Bases& bases, const std::vector<Summand>& entries) {
    next_session();
    handle_of_field_.clear();
    for (const Summand& s : entries) {
        for (const Power& p : s.powers) {
            if (p.exp == 0) {
                continue;
            }
            if (!plain(bases, p.handle)) {
                return false;
            }
            if (p.id >= field_stamp_.size()) {
                const std::size_t size = std::max<std::size_t>(p.id + 1, 2 * field_stamp_.size());
                field_stamp_.resize(size, 0);
                field_of_id_.resize(size, 0);
            }
            if (field_stamp_[p.id] != session_) {
                field_stamp_[p.id] = session_;
                field_of_id_[p.id] = static_cast<std::uint32_t>(handle_of_field_.size());
                handle_of_field_.push_back(p.handle);
            }
        }
    }
    rank_gathered_fields(bases);
    return true;
}

// Ranks the fields of handle_of_field_ by descending name.
void PackedProducts::rank_gathered_fields(Bases& bases) {
    order_.resize(handle_of_field_.size());
    for (std::uint32_t f = 0; f < order_.size(); ++f) {
        order_[f] = f;
    }
    std::sort(order_.begin(), order_.end(), [&](std::uint32_t a, std::uint32_t b) {
        return name_of(bases, a) > name_of(bases, b);
    });
    rank_.assign(order_.size(), 0);
    for (std::uint32_t r = 0; r < order_.size(); ++r) {
        rank_[order_[r]] = r;
    }
    at_rank_.resize(order_.size());
    name_at_rank_.resize(order_.size());
    longest_name_ = 0;
    for (std::uint32_t r = 0; r < order_.size(); ++r) {
        name_at_rank_[r] = name_of(bases, order_[r]);
        longest_name_ = std::max(longest_name_, name_at_rank_[r].size());
    }
}

// The live powers of `s` as (rank, position) in descending name order; false when a base
// appears twice.
bool PackedProducts::place(const Summand& s) {
    pieces_.clear();
    if (order_.size() <= 64 * kMaskWords) {
        // Few fields: mark ranks in a bit set and read them back in order.
        std::uint64_t mask[kMaskWords] = {};
        for (std::size_t k = 0; k < s.powers.size(); ++k) {
            if (s.powers[k].exp == 0) {
                continue;
            }
            const std::uint32_t r = rank_[field_of_id_[s.powers[k].id]];
            const std::uint64_t bit = std::uint64_t{1} << (r % 64);
            if ((mask[r / 64] & bit) != 0) {
                return false;
            }
            mask[r / 64] |= bit;
            at_rank_[r] = static_cast<int>(k);
        }
        for (std::size_t w = 0; w < kMaskWords; ++w) {
            for (std::uint64_t m = mask[w]; m != 0; m &= m - 1) {
                const auto r = static_cast<std::uint32_t>(64 * w + std::countr_zero(m));
                pieces_.emplace_back(r, at_rank_[r]);
            }
        }
        return true;
    }
    for (std::size_t k = 0; k < s.powers.size(); ++k) {
        if (s.powers[k].exp != 0) {
            pieces_.emplace_back(rank_[field_of_id_[s.powers[k].id]], static_cast<int>(k));
        }
    }
    std::sort(pieces_.begin(), pieces_.end());
    for (std::size_t i = 1; i < pieces_.size(); ++i) {
        if (pieces_[i].first == pieces_[i - 1].first) {
            return false;
        }
    }
    return true;
}

// Puts keyed_[lo, hi), whose texts agree on their first `depth` bytes, in descending text
// order: split by the byte at `depth` (texts have few distinct bytes, so a few passes separate
// them), comparison sorts for small groups and past the prefixes.
void PackedProducts::sort_keyed(std::size_t lo, std::size_t hi, std::size_t depth,
                                std::string_view all) {
    constexpr std::size_t kSmall = 48;
    const auto first = keyed_.begin() + static_cast<std::ptrdiff_t>(lo);
    const auto last = keyed_.begin() + static_cast<std::ptrdiff_t>(hi);
    // Descending order: byte 255 first, the text's end (zero) last.
    const auto bucket_of = [](const Keyed& k, std::size_t at) {
        return 255 - static_cast<unsigned>((k.prefix[at / 8] >> (56 - 8 * (at % 8))) & 0xFF);
    };
    std::size_t count[256];
    while (true) {
        if (hi - lo <= kSmall || depth == kPrefixBytes) {
            // Texts hold no zero byte, so the zero padding sorts a text before its extensions,
            // and equal prefixes leave only the bytes past them to compare.
            std::sort(first, last, [all](const Keyed& a, const Keyed& b) {
                for (std::size_t w = 0; w < kPrefixBytes / 8; ++w) {
                    if (a.prefix[w] != b.prefix[w]) {
                        return a.prefix[w] > b.prefix[w];
                    }
                }
                const std::size_t skip = std::min<std::size_t>(kPrefixBytes, a.length);
                return all.substr(a.offset + skip, a.length - skip) >
                       all.substr(b.offset + skip, b.length - skip);
            });
            return;
        }
        std::fill(count, count + 256, 0);
        for (auto k = first; k != last; ++k) {
            ++count[bucket_of(*k, depth)];
        }
        if (count[bucket_of(*first, depth)] != hi - lo) {
            break;
        }
        ++depth;  // one byte for all: nothing to move
    }
    std::size_t start[256];
    std::size_t next[256];
    std::size_t at = lo;
    for (std::size_t b = 0; b < 256; ++b) {
        start[b] = next[b] = at;
        at += count[b];
    }
    for (auto k = first; k != last; ++k) {
        keyed_scratch_[next[bucket_of(*k, depth)]++] = *k;
    }
    std::copy(keyed_scratch_.begin() + static_cast<std::ptrdiff_t>(lo),
              keyed_scratch_.begin() + static_cast<std::ptrdiff_t>(hi), first);
    for (std::size_t b = 0; b < 256; ++b) {
        if (count[b] > 1) {
            sort_keyed(start[b], start[b] + count[b], depth + 1, all);
        }
    }
}

// Puts keyed_ in descending order of the texts in text_[0, used).
void PackedProducts::sort_texts(std::size_t used) {
    for (Keyed& k : keyed_) {
        char head[kPrefixBytes] = {};
        std::memcpy(head, text_.data() + k.offset, std::min<std::size_t>(kPrefixBytes, k.length));
        for (std::size_t w = 0; w < kPrefixBytes / 8; ++w) {
            std::uint64_t word;
            std::memcpy(&word, head + 8 * w, 8);
            k.prefix[w] =
                std::endian::native == std::endian::little ? __builtin_bswap64(word) : word;
        }
    }
    keyed_scratch_.resize(keyed_.size());
    sort_keyed(0, keyed_.size(), 0, std::string_view(text_.data(), used));
}

// Writes the key text of one monomial from its (rank, exponent) pieces, which stand in rank
// order; `out` has room for it.
char* PackedProducts::write_text(char* out) const {
    for (const auto& [rank, exp] : pieces_) {
        out = latex::write_plain_power(out, name_at_rank_[rank], exp);
    }
    return out;
}

void PackedProducts::build_packed(Bases& bases, const PackedValue& value, ExprPtr& sum) {
    next_session();
    handle_of_field_ = value.handles;
    rank_gathered_fields(bases);
    const unsigned per_word = 64 / value.bits;
    const std::uint64_t mask = (std::uint64_t{1} << value.bits) - 1;
    const std::size_t fields = value.ids.size();
    std::uint64_t lowest = 0;  // the lowest bit of every field
    for (unsigned f = 0; f < per_word; ++f) {
        lowest |= std::uint64_t{1} << (f * value.bits);
    }
    // By rank: word and shift of the field; by word and bit: the rank of the field there.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> at(fields);
    std::vector<std::uint32_t> rank_at_bit(64 * value.words, 0);
    for (std::uint32_t r = 0; r < fields; ++r) {
        at[r] = {order_[r] / per_word, order_[r] % per_word * value.bits};
        rank_at_bit[64 * at[r].first + at[r].second] = r;
    }
    // A few fields are read one by one (without a branch on each); many through a mask of
    // the live ones.
    constexpr std::size_t kFewFields = 8;
    const bool by_mask = fields > kFewFields && fields <= 64 * kMaskWords;
    // The (rank, exponent) pieces of entry e in rank order, into pieces_.
    const auto pieces_of = [&](std::size_t e) {
        const std::uint64_t* key = &value.keys[e * value.words];
        if (!by_mask) {
            pieces_.resize(fields);
            std::size_t live = 0;
            for (std::uint32_t r = 0; r < fields; ++r) {
                const auto exp = static_cast<int>((key[at[r].first] >> at[r].second) & mask);
                pieces_[live] = {r, exp};
                live += exp != 0 ? 1 : 0;
            }
            pieces_.resize(live);
            return;
        }
        pieces_.clear();
        std::uint64_t ranks[kMaskWords] = {};
        for (std::size_t w = 0; w < value.words; ++w) {
            std::uint64_t folded = key[w];
            for (unsigned b = 1; b < value.bits; ++b) {
                folded |= key[w] >> b;
            }
            for (std::uint64_t m = folded & lowest; m != 0; m &= m - 1) {
                const std::uint32_t r = rank_at_bit[64 * w + std::countr_zero(m)];
                ranks[r / 64] |= std::uint64_t{1} << (r % 64);
            }
        }
        for (std::size_t w = 0; w < kMaskWords; ++w) {
            for (std::uint64_t m = ranks[w]; m != 0; m &= m - 1) {
                const auto r = static_cast<std::uint32_t>(64 * w + std::countr_zero(m));
                pieces_.emplace_back(r,
                                     static_cast<int>((key[at[r].first] >> at[r].second) & mask));
            }
        }
    };
    const std::size_t count = value.coefs.size();
    if (count >= token_order_threshold()) {
        // Most factors a term has: all fields when they are few, else counted.
        std::size_t longest = fields <= kFewFields ? fields : 0;
        for (std::size_t e = 0; e < count && longest < fields; ++e) {
            const std::uint64_t* key = &value.keys[e * value.words];
            std::size_t live = 0;
            for (std::size_t w = 0; w < value.words; ++w) {
                std::uint64_t folded = key[w];
                for (unsigned b = 1; b < value.bits; ++b) {
                    folded |= key[w] >> b;
                }
                live += static_cast<std::size_t>(std::popcount(folded & lowest));
            }
            longest = std::max(longest, live);
        }
        most_by_rank_.resize(fields);
        for (std::size_t r = 0; r < fields; ++r) {
            most_by_rank_[r] = value.most[order_[r]];
        }
        if (tokens_.prepare(name_at_rank_, most_by_rank_, longest, token_budget(count))) {
            sum.reset();
            TermBuilder builder(bases, count);
            std::vector<TermBuilder::Factor> factors(longest);
            const bool one_word = tokens_.words() == 1 && value.words == 1 &&
                                  fields <= TokenOrder::kMaxRanksInOneWord;
            tokens_.order(
                count,
                // The coefficient travels with the key: the sorted walk then reads no entry.
                [&](std::size_t e, std::uint64_t* out) -> std::uint64_t {
                    if (one_word) {
                        const std::uint64_t key = value.keys[e];
                        out[0] = tokens_.one_word_key(fields, [&](std::size_t r) {
                            return static_cast<int>((key >> at[r].second) & mask);
                        });
                    } else {
                        pieces_of(e);
                        tokens_.key(pieces_.data(), pieces_.size(), out);
                    }
                    return static_cast<std::uint32_t>(value.coefs[e]);
                },
                [&](std::uint64_t coef, const std::uint64_t* key, const std::uint64_t* next) {
                    std::size_t placed = 0;
                    tokens_.for_each_piece(key, [&](std::uint32_t rank, int exp) {
                        factors[placed++] = {handle_of_field_[order_[rank]], exp};
                    });
                    ExprPtr t = builder.term(
                        factors.data(), placed, static_cast<int>(static_cast<std::uint32_t>(coef)),
                        next != nullptr ? tokens_.shared_pieces(key, next) : 0);
                    sum = sum ? make_node<Add>(std::move(sum), std::move(t)) : std::move(t);
                });
            return;
        }
    }
    keyed_.clear();
    std::size_t used = 0;
    std::uint32_t constant = kNone;
    for (std::size_t e = 0; e < count; ++e) {
        pieces_of(e);
        if (pieces_.empty()) {
            constant = static_cast<std::uint32_t>(e);
            continue;
        }
        const std::size_t most = pieces_.size() * (longest_name_ + latex::kLongestPlainExponent);
        if (text_.size() < used + most) {
            text_.resize(std::max(2 * text_.size(), used + most));
        }
        char* const begin = text_.data() + used;
        const auto length = static_cast<std::size_t>(write_text(begin) - begin);
        keyed_.push_back(Keyed{{},
                               static_cast<std::uint32_t>(used),
                               static_cast<std::uint32_t>(length),
                               static_cast<std::uint32_t>(e),
                               0});
        used += length;
    }
    sort_texts(used);
    if (constant != kNone) {
        keyed_.push_back(Keyed{{}, 0, 0, constant, 0});
    }
    sum.reset();
    TermBuilder builder(bases, count);
    for (std::size_t i = 0; i < keyed_.size(); ++i) {
        // Sorting scattered the entries: fetch their keys ahead of use.
        if (i + kFetchAhead < keyed_.size()) {
            __builtin_prefetch(&value.keys[keyed_[i + kFetchAhead].entry * value.words]);
        }
        const std::uint32_t e = keyed_[i].entry;
        pieces_of(e);  // again: cheaper than keeping every entry's factors
        for (const auto& [rank, exp] : pieces_) {
            builder.factor(handle_of_field_[order_[rank]], exp);
        }
        ExprPtr t = builder.finish(value.coefs[e]);
        sum = sum ? make_node<Add>(std::move(sum), std::move(t)) : std::move(t);
    }
}

bool PackedProducts::sort_plain(Bases& bases, std::vector<Summand>& entries) {
    if (!rank_fields(bases, entries)) {
        return false;
    }
    keyed_.clear();
    placed_.clear();
    // The texts go straight into one buffer (its size is only room), grown ahead of each entry
    // for its longest text.
    std::size_t used = 0;
    std::uint32_t constant = kNone;
    for (std::size_t e = 0; e < entries.size(); ++e) {
        if (!place(entries[e]) || pieces_.size() != entries[e].powers.size()) {
            return false;  // a base twice, or a zero exponent: not a settled entry
        }
        if (pieces_.empty()) {
            if (constant != kNone) {
                return false;
            }
            constant = static_cast<std::uint32_t>(e);
            continue;
        }
        const std::size_t most = pieces_.size() * (longest_name_ + latex::kLongestPlainExponent);
        if (text_.size() < used + most) {
            text_.resize(std::max(2 * text_.size(), used + most));
        }
        char* out = text_.data() + used;
        const Powers& powers = entries[e].powers;
        for (const auto& [rank, k] : pieces_) {
            placed_.push_back(static_cast<std::uint32_t>(k));
            out = latex::write_plain_power(out, name_at_rank_[rank],
                                           powers[static_cast<std::size_t>(k)].exp);
        }
        const auto length = static_cast<std::size_t>(out - (text_.data() + used));
        keyed_.push_back(Keyed{{},
                               static_cast<std::uint32_t>(used),
                               static_cast<std::uint32_t>(length),
                               static_cast<std::uint32_t>(e),
                               static_cast<std::uint32_t>(placed_.size() - pieces_.size())});
        used += length;
    }
    // Each entry's factors in name order too (no two print alike, so no later text sort can
    // tell), which lets the tree be built without placing them again.
    for (const Keyed& k : keyed_) {
        Powers& powers = entries[k.entry].powers;
        ordered_powers_.clear();
        for (std::size_t i = 0; i < powers.size(); ++i) {
            ordered_powers_.push_back(powers[placed_[k.placed + i]]);
        }
        std::copy(ordered_powers_.begin(), ordered_powers_.end(), powers.begin());
    }
    sort_texts(used);
    std::vector<Summand> sorted;
    sorted.reserve(entries.size());
    for (const Keyed& k : keyed_) {
        sorted.push_back(std::move(entries[k.entry]));
    }
    if (constant != kNone) {
        sorted.push_back(std::move(entries[constant]));
    }
    entries = std::move(sorted);
    return true;
}

bool PackedProducts::build_plain(Bases& bases, const std::vector<Summand>& entries, bool ranked,
                                 ExprPtr& sum) {
    if (!ranked && !rank_fields(bases, entries)) {
        return false;
    }
    sum.reset();
    TermBuilder builder(bases, entries.size());
    for (std::size_t e = 0; e < entries.size(); ++e) {
        // Sorting moved the entries but not their factor lists: fetch those ahead of use.
        if (e + kFetchAhead < entries.size()) {
            __builtin_prefetch(entries[e + kFetchAhead].powers.data());
        }
        const Summand& s = entries[e];
        if (!ranked && !place(s)) {
            sum.reset();
            return false;
        }
        const std::size_t count = ranked ? s.powers.size() : pieces_.size();
        for (std::size_t i = 0; i < count; ++i) {
            const Power& p =
                ranked ? s.powers[i] : s.powers[static_cast<std::size_t>(pieces_[i].second)];
            builder.factor(p.handle, p.exp);
        }
        ExprPtr t = builder.finish(s.coef);
        sum = sum ? make_node<Add>(std::move(sum), std::move(t)) : std::move(t);
    }
    if (!sum) {
        sum = builder.integer(0);
    }
    return true;
}

}  // namespace tavrelo::fast
