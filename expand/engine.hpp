// The expander's working engine: expanded values stay polynomials (coefficients and powers of
// registered bases) from the leaves to the root, like terms meet through cached keys, and the
// result tree is built once at the end. Results are identical to the reference operations.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "core/expr.hpp"
#include "expand/bases.hpp"
#include "expand/keys.hpp"
#include "expand/packed_products.hpp"
#include "expand/plain_output.hpp"
#include "expand/poly.hpp"
#include "expand/term.hpp"

namespace tavrelo::fast {

// Scratch tables of the packed products and of the output over plain variables, kept for the
// next engine on the thread.
struct Tables {
    PackedProducts products;
    PlainOutput output;
    [[nodiscard]] bool small() const;
};

class Engine {
public:
    Engine();
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // The expansion of a tree whose every subtree is already simplified.
    [[nodiscard]] ExprPtr expand(const ExprPtr& simplified);

private:
    PolyRef eval(const ExprPtr& root);
    PolyRef combine(const Expr& s, std::vector<PolyRef>& values);

    PolyRef raw(const ExprPtr& tree);
    PolyRef constant_one();
    static PolyRef empty();
    PolyRef single(int coef, const Powers& powers);

    PolyRef negate(PolyRef p);
    PolyRef add(PolyRef p, PolyRef q);
    PolyRef multiply(PolyRef p, PolyRef q);
    PolyRef power(const PolyRef& base, int n);
    PolyRef recollect(PolyRef p);
    PolyRef collect(std::initializer_list<std::vector<Summand>*> lists);

    std::vector<Summand>& splits(Poly& p);
    std::vector<Summand>& splits_any_order(Poly& p);
    const ExprPtr& tree(Poly& p);
    void sort_entries(Poly& p);
    void settle(Poly& p);
    std::uint32_t key(Summand& s);
    bool entry_rare(const Summand& s) const;
    bool lone_sum_power(const Poly& p) const;
    Summand from_term(const Term& t);

    void merge_into_scratch(const Summand& a, const Summand& b, bool indexed);
    PolyRef multiply_packed(PolyRef& p, PolyRef& q);
    PolyRef power_packed(const PolyRef& base, int n);
    PolyRef collected(std::vector<Summand> entries);
    PolyRef from_packed(std::unique_ptr<PackedValue> value);
    void unpack(Poly& p);
    bool multiply_ranked(std::vector<Summand>& left, std::vector<Summand>& right);
    void accumulate_pair(std::uint32_t key, int coef, const Summand& a, const Summand& b);
    void chain_merge(Poly& p, const Summand& b);
    void absorb(Poly& table, std::vector<Summand>& incoming, bool incoming_first);

    void begin_collection();
    void accumulate(std::uint32_t key, int coef, const Powers& powers);
    PolyRef finish_collection();

    Bases bases_;
    // Made on first need: products of plain variables never ask for a key.
    std::optional<Keys> keys_;
    Keys& keys() {
        if (!keys_) {
            keys_.emplace(bases_);
        }
        return *keys_;
    }
    std::unordered_map<const Expr*, PolyRef> memo_;  // shared subtrees, by node identity

    std::uint32_t session_ = 0;
    std::vector<std::uint32_t> slot_;
    std::vector<std::uint32_t> stamp_;
    std::vector<std::int64_t> sums_;
    std::vector<Summand> entries_;

    std::unique_ptr<Tables> tables_;  // lent by the thread while the engine lives
    Powers scratch_;
    // Summands as (rank, id, exponent) in rank order, for products that merge canonical forms.
    struct Ranked {
        std::uint32_t rank;
        std::uint32_t id;
        int exp;
    };
    std::vector<Ranked> ranked_;
    std::vector<std::uint32_t> canonical_;
    std::unordered_map<std::uint32_t, std::uint32_t> index_;
};

}  // namespace tavrelo::fast
