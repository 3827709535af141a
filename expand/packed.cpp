#include "expand/packed.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>
#include <limits>
#include <string_view>

#include "core/checked_int.hpp"
#include "expand/term_builder.hpp"

namespace tavrelo::fast {
namespace {

constexpr std::uint64_t kEmpty = ~std::uint64_t{0};
constexpr std::uint32_t kNone = 0xFFFFFFFFu;
constexpr std::size_t kFetchAhead = 8;

bool letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool digit(char c) { return c >= '0' && c <= '9'; }

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
    constexpr std::size_t kKeep = std::size_t{1} << 20;  // bytes
    const std::size_t bytes =
        8 * (slots_.capacity() + left_words_.capacity() + right_words_.capacity()) +
        8 * (next_words_.capacity() + placed_.capacity()) + sizeof(Entry) * entries_.capacity() +
        sizeof(Keyed) * (keyed_.capacity() + keyed_scratch_.capacity()) + text_.capacity();
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
        bool ok = kind_of(node) == ExprKind::Var;
        if (ok) {
            const std::string& name = as<Var>(node).name;
            ok = !name.empty() && letter(name[0]) &&
                 std::all_of(name.begin() + 1, name.end(), digit);
        }
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
                                                 bool ordered, std::vector<Summand>& out) {
    next_session();
    handle_of_field_.clear();
    most_left_.clear();
    most_right_.clear();
    seen_.clear();
    seen_stamp_ = 0;
    bool mixed = false;
    if (!assign_fields(bases, left, most_left_, mixed) ||
        (!square && !assign_fields(bases, right, most_right_, mixed))) {
        return Outcome::unfit;
    }
    if (square) {
        most_right_ = most_left_;
    }
    std::int64_t most = 1;
    for (std::size_t f = 0; f < most_left_.size(); ++f) {
        most = std::max<std::int64_t>(most, std::int64_t{most_left_[f]} + most_right_[f]);
    }
    // An exponent sum past 32 bits is the general path's overflow error; pair counts past 2^31
    // could carry the exact 64-bit sums out of range.
    const std::uint64_t pairs = std::uint64_t{left.size()} * right.size();
    if (most > std::numeric_limits<std::int32_t>::max() || pairs >= (std::uint64_t{1} << 31)) {
        return Outcome::unfit;
    }
    if (!lay_out_fields(most)) {
        return Outcome::unfit;
    }
    if (mixed && !ordered) {
        return Outcome::needs_order;
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
                                              std::vector<Summand>& out) {
    next_session();
    handle_of_field_.clear();
    most_left_.clear();
    most_right_.clear();
    seen_.clear();
    seen_stamp_ = 0;
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
            const std::uint64_t* rw = odd ? right_words_.data() : left_words_.data();
            next_words_.clear();
            next_coef_.clear();
            for (const Entry& e : entries_) {
                if (e.sum == 0) {
                    continue;
                }
                next_coef_.push_back(to_int32(e.sum));
                for (std::size_t w = 0; w < words_; ++w) {
                    next_words_.push_back(left_words_[e.left * words_ + w] +
                                          rw[e.right * words_ + w]);
                }
            }
            left_words_.swap(next_words_);
            left_coef_.swap(next_coef_);
        }
    }
    const std::uint64_t field_mask = (std::uint64_t{1} << bits_) - 1;
    out.clear();
    out.reserve(left_coef_.size());
    for (std::size_t k = 0; k < left_coef_.size(); ++k) {
        Summand s{left_coef_[k], kNoKey, {}};
        const std::uint64_t* key = &left_words_[k * words_];
        for (std::uint32_t f = 0; f < handle_of_field_.size(); ++f) {
            const auto exp =
                static_cast<int>((key[word_of_field_[f]] >> shift_of_field_[f]) & field_mask);
            if (exp != 0) {
                const std::uint32_t h = handle_of_field_[f];
                s.powers.push_back(Power{h, bases.id(h), exp});
            }
        }
        out.push_back(std::move(s));
    }
    return Outcome::done;
}

template <std::size_t W>
void PackedProducts::grow() {
    const std::size_t stride = W + 1;
    const std::size_t capacity = 2 * (mask_ + 1);
    std::vector<std::uint64_t> old = std::move(slots_);
    slots_.assign(capacity * stride, 0);
    for (std::size_t i = 0; i < capacity; ++i) {
        slots_[i * stride + W] = kEmpty;
    }
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
    const std::size_t guess =
        std::min<std::size_t>(left_count * right_count, 4 * (left_count + right_count) + 16);
    const std::size_t capacity = std::bit_ceil(std::max<std::size_t>(2 * guess, 2));
    slots_.assign(capacity * stride, 0);
    for (std::size_t i = 0; i < capacity; ++i) {
        slots_[i * stride + W] = kEmpty;
    }
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
                    if (2 * entries_.size() > mask_ + 1) {
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
    return true;
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
        const std::size_t most = pieces_.size() * (longest_name_ + kLongestExponent);
        if (text_.size() < used + most) {
            text_.resize(std::max(2 * text_.size(), used + most));
        }
        char* out = text_.data() + used;
        const Powers& powers = entries[e].powers;
        for (const auto& [rank, k] : pieces_) {
            placed_.push_back(static_cast<std::uint32_t>(k));
            const std::string_view name = name_at_rank_[rank];
            out = std::copy(name.begin(), name.end(), out);
            const int exp = powers[static_cast<std::size_t>(k)].exp;
            if (exp != 1) {
                *out++ = '^';
                *out++ = '{';
                out = std::to_chars(out, out + 11, exp).ptr;
                *out++ = '}';
            }
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
        sum = sum ? std::make_shared<Add>(std::move(sum), std::move(t)) : std::move(t);
    }
    if (!sum) {
        sum = builder.integer(0);
    }
    return true;
}

}  // namespace tavrelo::fast
