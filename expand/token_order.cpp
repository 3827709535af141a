#include "expand/token_order.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <charconv>
#include <numeric>

#include "core/latex_rules.hpp"

namespace tavrelo::fast {
namespace {

// Below this, ranking the tokens costs more than writing the texts.
constexpr std::size_t kDefaultThreshold = 256;
std::atomic<std::size_t> threshold{kDefaultThreshold};

}  // namespace

std::size_t token_order_threshold() noexcept { return threshold.load(std::memory_order_relaxed); }

void set_token_order_threshold(std::size_t terms) noexcept {
    threshold.store(terms == 0 ? kDefaultThreshold : terms, std::memory_order_relaxed);
}

std::size_t token_budget(std::size_t terms) noexcept { return std::max(terms, kDefaultThreshold); }

bool TokenOrder::prepare(const std::vector<std::string_view>& names, const std::vector<int>& most,
                         std::size_t longest, std::size_t budget) {
    // Classes of the byte that follows a factor: 0 for the end, then the names' first bytes.
    std::fill(std::begin(follower_of_byte_), std::end(follower_of_byte_), 0);
    std::vector<char> byte_of_follower{'\0'};
    follower_of_rank_.resize(names.size());
    for (std::size_t r = 0; r < names.size(); ++r) {
        const auto b = static_cast<unsigned char>(names[r].front());
        if (follower_of_byte_[b] == 0) {
            follower_of_byte_[b] = static_cast<std::uint32_t>(byte_of_follower.size());
            byte_of_follower.push_back(names[r].front());
        }
        follower_of_rank_[r] = follower_of_byte_[b];
    }
    followers_ = byte_of_follower.size();

    const std::size_t limit = std::min(budget, kMaxTokens);
    std::size_t total = 0;
    first_token_.resize(names.size());
    for (std::size_t r = 0; r < names.size(); ++r) {
        first_token_[r] = static_cast<std::uint32_t>(total);
        const auto exps = static_cast<std::size_t>(std::max(most[r], 0));
        if (exps > limit / followers_) {
            return false;
        }
        total += exps * followers_;
        if (total > limit) {
            return false;
        }
    }
    bits_ = std::max(1U, static_cast<unsigned>(std::bit_width(total)));
    per_word_ = 64 / bits_;
    words_ = std::max<std::size_t>(1, (longest + per_word_ - 1) / per_word_);
    longest_ = longest;
    if (words_ > kMaxWords) {
        return false;
    }

    // Every token's text, in id order: rank, then exponent, then the following byte.
    text_.clear();
    offset_.assign(1, 0);
    std::vector<Piece> piece_of_token;
    piece_of_token.reserve(total);
    for (std::size_t r = 0; r < names.size(); ++r) {
        for (int e = 1; e <= most[r]; ++e) {
            for (const char next : byte_of_follower) {
                const std::size_t at = text_.size();
                text_.resize(at + names[r].size() + latex::kLongestPlainExponent);
                text_.resize(static_cast<std::size_t>(
                    latex::write_plain_power(text_.data() + at, names[r], e) - text_.data()));
                text_ += next;
                offset_.push_back(static_cast<std::uint32_t>(text_.size()));
                piece_of_token.emplace_back(static_cast<std::uint32_t>(r), e);
            }
        }
    }
    const std::string_view all = text_;
    const auto text_of = [&](std::uint32_t id) {
        return all.substr(offset_[id], offset_[id + 1] - offset_[id]);
    };
    by_text_.resize(total);
    std::iota(by_text_.begin(), by_text_.end(), 0);
    // The end mark is the byte 0, which compares below every other byte.
    std::sort(by_text_.begin(), by_text_.end(),
              [&](std::uint32_t a, std::uint32_t b) { return text_of(a) < text_of(b); });
    rank_of_token_.assign(total + followers_, 0);  // room past the end: see one_word_key
    piece_of_rank_.resize(total + 1);
    for (std::size_t i = 0; i < total; ++i) {
        rank_of_token_[by_text_[i]] = static_cast<std::uint32_t>(i + 1);
        piece_of_rank_[i + 1] = piece_of_token[by_text_[i]];
    }
    return true;
}

void TokenOrder::key(const Piece* pieces, std::size_t count, std::uint64_t* out) const {
    std::fill(out, out + words_, 0);
    std::uint64_t* word = out;
    unsigned shift = 64;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t next = i + 1 < count ? follower_of_rank_[pieces[i + 1].first] : 0;
        const std::size_t id = first_token_[pieces[i].first] +
                               static_cast<std::size_t>(pieces[i].second - 1) * followers_ + next;
        if (shift < bits_) {  // the word is full
            ++word;
            shift = 64;
        }
        shift -= bits_;
        *word |= std::uint64_t{rank_of_token_[id]} << shift;
    }
}

std::size_t TokenOrder::shared_pieces(const std::uint64_t* a, const std::uint64_t* b) const {
    std::size_t shared = 0;
    for (std::size_t w = 0; w < words_; ++w) {
        std::uint64_t x = a[w];
        std::uint64_t y = b[w];
        for (std::size_t t = 0; t < per_word_; ++t, x <<= bits_, y <<= bits_) {
            const auto s = static_cast<std::uint32_t>(x >> (64 - bits_));
            const auto u = static_cast<std::uint32_t>(y >> (64 - bits_));
            if (s != u) {
                // Equal pieces may differ in the byte that follows them: then the next differ.
                return s != 0 && u != 0 && piece_of_rank_[s] == piece_of_rank_[u] ? shared + 1
                                                                                  : shared;
            }
            if (s == 0) {
                return shared;
            }
            ++shared;
        }
    }
    return shared;
}

// Least significant digit first, over the bits that tokens occupy, with wider digits (fewer
// passes) for more records; a pass whose digit is the same for every record moves nothing and
// is skipped.
template <std::size_t W>
void TokenOrder::sort_descending(std::vector<Record<W>>& records, std::vector<Record<W>>& scratch) {
    const std::size_t n = records.size();
    const auto digit_bits = static_cast<unsigned>(
        std::clamp(static_cast<int>(std::bit_width(n)) - 3, 8, kMaxDigitBits));
    const std::size_t buckets = std::size_t{1} << digit_bits;
    const std::uint64_t mask = buckets - 1;
    struct Digit {
        std::size_t word;
        unsigned shift;
    };
    std::array<Digit, 8 * W> digits{};
    std::size_t count = 0;
    for (std::size_t w = W; w-- > 0;) {
        const std::size_t tokens =
            std::min(per_word_, longest_ - std::min(longest_, w * per_word_));
        for (auto shift = static_cast<unsigned>(64 - tokens * bits_); shift < 64;
             shift += digit_bits) {
            digits[count++] = Digit{w, shift};
        }
    }
    histogram_.assign(count * buckets, 0);
    for (const Record<W>& r : records) {
        for (std::size_t d = 0; d < count; ++d) {
            ++histogram_[d * buckets + ((r[digits[d].word] >> digits[d].shift) & mask)];
        }
    }
    scratch.resize(n);
    for (std::size_t d = 0; d < count; ++d) {
        std::uint32_t* const next = &histogram_[d * buckets];
        if (std::find(next, next + buckets, n) != next + buckets) {
            continue;
        }
        // Counts become places, descending: the largest digit first.
        std::uint32_t at = 0;
        for (std::size_t b = buckets; b-- > 0;) {
            const std::uint32_t here = next[b];
            next[b] = at;
            at += here;
        }
        const Digit digit = digits[d];
        for (const Record<W>& r : records) {
            scratch[next[(r[digit.word] >> digit.shift) & mask]++] = r;
        }
        records.swap(scratch);
    }
}

template void TokenOrder::sort_descending<1>(std::vector<Record<1>>&, std::vector<Record<1>>&);
template void TokenOrder::sort_descending<2>(std::vector<Record<2>>&, std::vector<Record<2>>&);

std::size_t TokenOrder::bytes() const {
    return text_.capacity() +
           4 * (offset_.capacity() + by_text_.capacity() + rank_of_token_.capacity()) +
           sizeof(Piece) * piece_of_rank_.capacity() +
           sizeof(Record<1>) * (records1_.capacity() + scratch1_.capacity()) +
           sizeof(Record<2>) * (records2_.capacity() + scratch2_.capacity()) +
           4 * histogram_.capacity();
}

}  // namespace tavrelo::fast
