#include "expand/plain_output.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>

#include "core/latex_rules.hpp"
#include "core/node_pool.hpp"
#include "expand/term_builder.hpp"

namespace tavrelo::fast {
namespace {

constexpr std::uint32_t kNone = 0xFFFFFFFFu;
constexpr std::size_t kFetchAhead = 8;

}  // namespace

std::size_t PlainOutput::bytes() const {
    return 8 * placed_.capacity() +
           sizeof(Keyed) * (keyed_.capacity() + keyed_scratch_.capacity()) + text_.capacity() +
           tokens_.bytes();
}

// Gives every base id of `entries` a field, ranked by descending name; false when some base is
// not a plain variable.
bool PlainOutput::rank_fields(const Bases& bases, const std::vector<Summand>& entries) {
    fields_.begin();
    for (const Summand& s : entries) {
        for (const Power& p : s.powers) {
            if (p.exp == 0) {
                continue;
            }
            if (!bases.plain(p.handle)) {
                return false;
            }
            (void)fields_.field_of(p.id, p.handle);
        }
    }
    rank_gathered_fields(bases);
    return true;
}

// Ranks the fields by descending name.
void PlainOutput::rank_gathered_fields(const Bases& bases) {
    const auto name_of = [&](std::uint32_t field) -> const std::string& {
        return as<Var>(*bases.node(fields_.handle(field))).name;
    };
    order_.resize(fields_.size());
    for (std::uint32_t f = 0; f < order_.size(); ++f) {
        order_[f] = f;
    }
    std::sort(order_.begin(), order_.end(),
              [&](std::uint32_t a, std::uint32_t b) { return name_of(a) > name_of(b); });
    rank_.assign(order_.size(), 0);
    for (std::uint32_t r = 0; r < order_.size(); ++r) {
        rank_[order_[r]] = r;
    }
    at_rank_.resize(order_.size());
    name_at_rank_.resize(order_.size());
    longest_name_ = 0;
    for (std::uint32_t r = 0; r < order_.size(); ++r) {
        name_at_rank_[r] = name_of(order_[r]);
        longest_name_ = std::max(longest_name_, name_at_rank_[r].size());
    }
}

// The live powers of `s` as (rank, position) in descending name order; false when a base
// appears twice.
bool PlainOutput::place(const Summand& s) {
    pieces_.clear();
    if (order_.size() <= 64 * kMaskWords) {
        // Few fields: mark ranks in a bit set and read them back in order.
        std::uint64_t mask[kMaskWords] = {};
        for (std::size_t k = 0; k < s.powers.size(); ++k) {
            if (s.powers[k].exp == 0) {
                continue;
            }
            const std::uint32_t r = rank_[fields_.at(s.powers[k].id)];
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
            pieces_.emplace_back(rank_[fields_.at(s.powers[k].id)], static_cast<int>(k));
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
void PlainOutput::sort_keyed(std::size_t lo, std::size_t hi, std::size_t depth,
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
void PlainOutput::sort_texts(std::size_t used) {
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
char* PlainOutput::write_text(char* out) const {
    for (const auto& [rank, exp] : pieces_) {
        out = latex::write_plain_power(out, name_at_rank_[rank], exp);
    }
    return out;
}

void PlainOutput::build(const Bases& bases, const PackedValue& value, ExprPtr& sum) {
    fields_.begin();
    fields_.assign(value.handles);  // the value's own fields, in its order
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
                        factors[placed++] = {fields_.handle(order_[rank]), exp};
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
            builder.factor(fields_.handle(order_[rank]), exp);
        }
        ExprPtr t = builder.finish(value.coefs[e]);
        sum = sum ? make_node<Add>(std::move(sum), std::move(t)) : std::move(t);
    }
}

bool PlainOutput::sort(const Bases& bases, std::vector<Summand>& entries) {
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

bool PlainOutput::build(const Bases& bases, const std::vector<Summand>& entries, bool sorted,
                        ExprPtr& sum) {
    if (!sorted && !rank_fields(bases, entries)) {
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
        if (!sorted && !place(s)) {
            sum.reset();
            return false;
        }
        const std::size_t count = sorted ? s.powers.size() : pieces_.size();
        for (std::size_t i = 0; i < count; ++i) {
            const Power& p =
                sorted ? s.powers[i] : s.powers[static_cast<std::size_t>(pieces_[i].second)];
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
