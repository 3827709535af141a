// Builds the terms of one result tree so that they share the nodes they have in common. Nodes
// never change, so sharing them changes nothing that can be observed but the node count: one
// Pow node per base node and exponent, one Int node per value, and each term's left-nested
// product reuses the longest leading product of the term built just before it (terms come in
// output order, where neighbours share long runs of leading factors). Short results are built
// plainly: there the lookups and reference counts would cost more than the nodes they save.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "core/expr.hpp"
#include "expand/bases.hpp"

namespace tavrelo::fast {

struct NodeSlot {
    std::uint64_t key = 0;
    ExprPtr node;  // empty: a free slot
};

class TermBuilder {
public:
    // Results of at least this many terms share their nodes.
    static constexpr std::size_t kShareFrom = 64;

    // `terms`: how many terms are coming, to choose sharing and size the node table once.
    explicit TermBuilder(const Bases& bases, std::size_t terms = 0);
    ~TermBuilder();
    TermBuilder(const TermBuilder&) = delete;
    TermBuilder& operator=(const TermBuilder&) = delete;

    struct Factor {
        std::uint32_t handle;
        int exp;
        bool operator==(const Factor&) const = default;
    };

    // A whole term at once, as factor() for each factor, keep_next(keep), then finish(coef).
    [[nodiscard]] ExprPtr term(const Factor* factors, std::size_t count, int coef,
                               std::size_t keep);

    // The next factor of the term being built: the base node `handle` to the power `exp`
    // (exponent 1 stands for the base itself; callers leave exponent 0 out).
    void factor(std::uint32_t handle, int exp);
    // The term built from the factors given since the last call, with its coefficient in
    // front (-1 as a negation, 1 left out; a term without factors is the coefficient alone).
    [[nodiscard]] ExprPtr finish(int coef);

    // A hint for the term being built: the next term shares its first `pieces` factors, so
    // only the leading products of those are kept for it. Sharing never depends on the hint
    // being right; a wrong one only costs nodes.
    void keep_next(std::size_t pieces) { keep_ = pieces; }

    // The Int node of `value`, valid until the next call on this builder.
    [[nodiscard]] const ExprPtr& integer(int value);

private:
    using Piece = Factor;

    // Appends the product of the pieces so far and `p`; `keep` as in keep_next.
    void extend(const Piece& p, std::size_t keep);
    // The term made of `coef` and the product of the first `factors` pieces; `made`: that
    // product was built for this term.
    [[nodiscard]] ExprPtr close(std::size_t factors, bool made, std::size_t keep, int coef);

    // The node of one factor, valid until the next call that adds to the table.
    [[nodiscard]] const ExprPtr& piece_node(const Piece& p);

    const Bases& bases_;
    const bool share_;
    ExprPtr plain_;    // without sharing: the product of the current term so far
    ExprPtr integer_;  // without sharing: the last integer handed out
    // The pieces of the previous term (then of the current one, from the first difference on),
    // and products_[k], the product of pieces 0..k.
    std::vector<Piece> pieces_;
    std::vector<ExprPtr> products_;
    std::size_t matched_ = 0;  // leading pieces of the current term known so far
    bool diverged_ = false;    // the current term has left the previous one's pieces
    static constexpr std::size_t kKeepAll = ~std::size_t{0};
    std::size_t keep_ = kKeepAll;  // see keep_next

    // The node stored under `key` (a handle and exponent, or an integer), empty when new, in
    // an open-addressing table (short expansions cannot afford an allocation per entry). The
    // table never moves while it has room for the entries made room for.
    void make_room(std::size_t entries) {
        if (2 * (used_ + entries) > slots_.size()) {
            grow(std::max<std::size_t>(32, 2 * slots_.size()));
        }
    }
    [[nodiscard]] ExprPtr& slot(std::uint64_t key);
    [[nodiscard]] const ExprPtr& integer_in_room(int value);
    void grow(std::size_t size);

    std::vector<NodeSlot> slots_;
    std::size_t used_ = 0;
    unsigned shift_ = 64;
};

}  // namespace tavrelo::fast
