// Output order of monomials over plain variables (a letter, then digits) without writing their
// key texts.
//
// Such a text is the run of the monomial's factors in descending name order, each its name and,
// unless the exponent is 1, "^{e}". Cut it into tokens, each a factor's text followed by the
// first byte of the next factor (or an end mark below every byte). No token is a proper prefix
// of another: a name's digits stop at a letter, '^' or the end, and an exponent at '}'. So two
// texts compare as their token sequences do, token by token in byte order, and a monomial's sort
// key is the byte-order ranks of its tokens, a few bits each, packed from the top of the first
// word down.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tavrelo::fast {

// Results of at least this many terms are ordered by tokens, smaller ones by their texts; tests
// lower it to run the token order on small results (0 restores the default).
[[nodiscard]] std::size_t token_order_threshold() noexcept;
void set_token_order_threshold(std::size_t terms) noexcept;
// How many tokens are worth ranking for a result of `terms` terms: about as many as the terms,
// and no fewer than the terms of the smallest result the token order takes by default.
[[nodiscard]] std::size_t token_budget(std::size_t terms) noexcept;

class TokenOrder {
public:
    static constexpr std::size_t kMaxWords = 2;
    static constexpr std::size_t kMaxTokens = std::size_t{1} << 14;

    using Piece = std::pair<std::uint32_t, int>;  // (rank of the name, exponent >= 1)

    // Ranks the tokens of the names `names` (index: rank, in descending name order) with
    // exponents from 1 to most[rank], for monomials of at most `longest` factors. False when
    // that takes more than `budget` (or kMaxTokens) tokens, or more than kMaxWords words a key.
    bool prepare(const std::vector<std::string_view>& names, const std::vector<int>& most,
                 std::size_t longest, std::size_t budget);

    [[nodiscard]] std::size_t words() const { return words_; }

    // Calls visit(payload, key, next key or null) for the entries 0..count-1 in descending key
    // order; key_of(e, out) writes the key of entry e into out[0, words()) (see `key`) and
    // returns the entry's payload, which travels with the key. Keys must be distinct.
    template <class KeyOf, class Visit>
    void order(std::size_t count, KeyOf&& key_of, Visit&& visit) {
        if (words_ == 1) {
            order_in<1>(records1_, scratch1_, count, key_of, visit);
        } else {
            order_in<2>(records2_, scratch2_, count, key_of, visit);
        }
    }

    // The key of the monomial whose `count` pieces (at most `longest`) stand in rank order,
    // into out[0, words()).
    void key(const Piece* pieces, std::size_t count, std::uint64_t* out) const;

    // The same for a one-word key, from exp_of(rank) for every rank below `ranks` (at most
    // kMaxRanksInOneWord; exponent 0: absent), without a branch on each rank.
    static constexpr std::size_t kMaxRanksInOneWord = 16;
    template <class ExpOf>
    [[nodiscard]] std::uint64_t one_word_key(std::size_t ranks, ExpOf&& exp_of) const {
        std::uint32_t tokens[kMaxRanksInOneWord];
        std::uint32_t next = 0;  // class of the byte after the factor: 0 for the end
        for (std::size_t r = ranks; r-- > 0;) {
            const int e = exp_of(r);
            // An absent rank reads some token and drops it; the table has room past the end.
            const std::size_t id =
                first_token_[r] + static_cast<std::size_t>(std::max(e, 1) - 1) * followers_ + next;
            tokens[r] = e != 0 ? rank_of_token_[id] : 0;
            next = e != 0 ? follower_of_rank_[r] : next;
        }
        std::uint64_t key = 0;
        unsigned shift = 64;
        for (std::size_t r = 0; r < ranks; ++r) {
            shift -= tokens[r] != 0 ? bits_ : 0;
            key |= std::uint64_t{tokens[r]} << (shift & 63);
        }
        return key;
    }

    // Calls f(rank, exp) for the pieces of `key` in order.
    template <class F>
    void for_each_piece(const std::uint64_t* key, F&& f) const {
        for (std::size_t w = 0; w < words_; ++w) {
            std::uint64_t word = key[w];
            for (std::size_t t = 0; t < per_word_; ++t, word <<= bits_) {
                const auto token = static_cast<std::uint32_t>(word >> (64 - bits_));
                if (token == 0) {
                    return;
                }
                const Piece& p = piece_of_rank_[token];
                f(p.first, p.second);
            }
        }
    }

    // How many leading pieces two keys have in common.
    [[nodiscard]] std::size_t shared_pieces(const std::uint64_t* a, const std::uint64_t* b) const;

    // Bytes held for the next use.
    [[nodiscard]] std::size_t bytes() const;

private:
    // Key words, then the payload.
    template <std::size_t W>
    using Record = std::array<std::uint64_t, W + 1>;

    template <std::size_t W, class KeyOf, class Visit>
    void order_in(std::vector<Record<W>>& records, std::vector<Record<W>>& scratch,
                  std::size_t count, KeyOf& key_of, Visit& visit) {
        records.resize(count);
        for (std::size_t e = 0; e < count; ++e) {
            records[e][W] = key_of(e, records[e].data());
        }
        sort_descending<W>(records, scratch);
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint64_t* next = i + 1 < count ? records[i + 1].data() : nullptr;
            visit(records[i][W], records[i].data(), next);
        }
    }

    template <std::size_t W>
    void sort_descending(std::vector<Record<W>>& records, std::vector<Record<W>>& scratch);

    static constexpr int kMaxDigitBits = 13;
    std::vector<std::uint32_t> histogram_;  // per digit and bucket; kept for the next sort

    unsigned bits_ = 1;         // per token
    std::size_t per_word_ = 1;  // tokens a word
    std::size_t words_ = 1;
    std::size_t longest_ = 0;
    std::size_t followers_ = 1;                 // classes of the byte after a factor: 0 the end
    std::uint32_t follower_of_byte_[256] = {};  // first byte of a name -> its class
    std::vector<std::uint32_t> follower_of_rank_;
    std::vector<std::uint32_t> first_token_;    // by rank: id of (rank, exponent 1, end)
    std::vector<std::uint32_t> rank_of_token_;  // by id: 1 + place in byte order
    std::vector<Piece> piece_of_rank_;          // by token rank
    std::string text_;                          // the tokens' texts, one after the other
    std::vector<std::uint32_t> offset_;         // by id, one past the end: where each begins
    std::vector<std::uint32_t> by_text_;
    std::vector<Record<1>> records1_;
    std::vector<Record<1>> scratch1_;
    std::vector<Record<2>> records2_;
    std::vector<Record<2>> scratch2_;
};

}  // namespace tavrelo::fast
