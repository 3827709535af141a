// What the operations on expanded values share during one expansion: the bases met and their
// keys, the table that collects summands by key, and scratch tables lent by the thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "core/checked_int.hpp"
#include "expand/bases.hpp"
#include "expand/forms.hpp"
#include "expand/keys.hpp"
#include "expand/packed_products.hpp"
#include "expand/plain_output.hpp"
#include "expand/summand.hpp"
#include "expand/term.hpp"

namespace tavrelo::fast {

// Collects summands by key id: the first summand of a key gives the entry its factors, sums
// are exact, entries stand in order of first occurrence.
class Collector {
public:
    void begin();
    // `keys`: how many key ids exist, to size the table.
    void add(std::uint32_t key, int coef, const Powers& powers, std::size_t keys);
    // Adds to an entry the key already has; false when it has none yet.
    bool add_to_known(std::uint32_t key, int coef);
    // The entries with non-zero sums, checked to fit 32 bits; `rare` tells which are.
    template <class Rare>
    Collected finish(Rare&& rare);

private:
    std::uint32_t session_ = 0;
    std::vector<std::uint32_t> slot_;   // by key: position in entries_
    std::vector<std::uint32_t> stamp_;  // by key: the session slot_ belongs to
    std::vector<std::int64_t> sums_;
    std::vector<Summand> entries_;
};

// Scratch tables of the packed products and of the output over plain variables, kept for the
// next expansion on the thread.
struct Tables {
    PackedProducts products;
    PlainOutput output;
    [[nodiscard]] bool small() const;
};

class Workspace {
public:
    Workspace();
    ~Workspace();
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    Bases bases;
    Collector collector;
    Tables& tables() { return *tables_; }

    // Made on first need: products of plain variables never ask for a key.
    Keys& keys() {
        if (!keys_) {
            keys_.emplace(bases);
        }
        return *keys_;
    }
    [[nodiscard]] const Keys* keys_if_made() const { return keys_ ? &*keys_ : nullptr; }

    // The key id of `s`, computed on first need.
    std::uint32_t key(Summand& s);
    // The summand of a decomposed term, its bases registered.
    Summand from_term(const Term& t);

    // Scratch of the products: factor lists being merged, and an index of their bases.
    Powers scratch;
    std::unordered_map<std::uint32_t, std::uint32_t> index;
    struct Ranked {
        std::uint32_t rank;
        std::uint32_t id;
        int exp;
    };
    std::vector<Ranked> ranked;
    std::vector<std::uint32_t> canonical;

private:
    std::optional<Keys> keys_;
    std::unique_ptr<Tables> tables_;  // lent by the thread while the workspace lives
};

// A collected entry whose tree decomposes into something else: a lone sum with coefficient 1
// (the sum itself is the tree), or an exponent-1 factor that decomposition takes apart.
[[nodiscard]] bool entry_rare(const Bases& bases, const Summand& s);
// Whether the one live power of `s` is a sum to the power 1 (with coefficient 1 the entry's
// tree is then that sum).
[[nodiscard]] bool lone_sum_power(const Bases& bases, const Summand& s);

// The powers of `powers` whose exponent is not zero.
[[nodiscard]] Powers without_zeros(const Powers& powers);

template <class Rare>
Collected Collector::finish(Rare&& rare) {
    Collected c;
    c.entries.reserve(entries_.size());
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (sums_[i] == 0) {
            continue;
        }
        entries_[i].coef = to_int32(sums_[i]);
        c.entries.push_back(std::move(entries_[i]));
        c.rare = c.rare || rare(c.entries.back());
    }
    c.sorted = c.entries.size() <= 1;
    entries_.clear();
    sums_.clear();
    return c;
}

}  // namespace tavrelo::fast
