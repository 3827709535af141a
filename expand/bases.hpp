// The bases met during one expansion: every distinct node gets a handle, every distinct
// structure an id (so "equal bases" is an integer comparison), and every distinct text a group
// (rendered once, on first need; a text too long to write is kept compressed).
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/expr.hpp"
#include "core/latex_text.hpp"
#include "core/long_text.hpp"

namespace tavrelo::fast {

class Bases {
public:
    // The handle of `node`, registering it (and its structure) on first sight. The table keeps
    // the node alive for the whole expansion.
    [[nodiscard]] std::uint32_t handle_of(const ExprPtr& node);

    [[nodiscard]] const ExprPtr& node(std::uint32_t handle) const { return nodes_[handle]; }
    [[nodiscard]] std::uint32_t id(std::uint32_t handle) const { return id_of_handle_[handle]; }
    // Bases that the term decomposition takes apart when they stand alone with exponent 1.
    [[nodiscard]] bool decomposable(std::uint32_t handle) const { return decomposable_[handle]; }
    // Variables with a plain name (latex::is_plain_name), whose monomials need no keys.
    [[nodiscard]] bool plain(std::uint32_t handle) const { return plain_[handle]; }

    [[nodiscard]] std::uint32_t group(std::uint32_t id) {
        const std::uint32_t g = group_of_id_[id];
        return g != kUnknown ? g : assign_group(id);
    }
    [[nodiscard]] const Text& text(std::uint32_t id) { return group_texts_[group(id)]; }
    // The text of any tree made of registered nodes, compressed when long like the bases'.
    [[nodiscard]] Text text_of_tree(const ExprPtr& tree) { return latex_.of(tree); }
    [[nodiscard]] std::size_t text_limit() const { return latex_.limit(); }
    // True when every group has a rank: its place in descending text order (0 first). Ranks are
    // kept only while there are few groups, so that keeping them fresh stays cheap.
    [[nodiscard]] bool ranked();
    [[nodiscard]] std::uint32_t rank(std::uint32_t group) const { return rank_of_group_[group]; }

    // A node of the structure `id`, for the properties that depend on its shape.
    [[nodiscard]] const Expr& representative(std::uint32_t id) const {
        return *nodes_[first_handle_of_id_[id]];
    }
    [[nodiscard]] std::uint32_t representative_handle(std::uint32_t id) const {
        return first_handle_of_id_[id];
    }

private:
    static constexpr std::uint32_t kUnknown = 0xFFFFFFFFu;

    std::uint64_t structural_hash(const ExprPtr& root);
    std::uint32_t assign_group(std::uint32_t id);

    std::unordered_map<const Expr*, std::uint32_t> handle_of_node_;
    std::vector<ExprPtr> nodes_;
    std::vector<std::uint32_t> id_of_handle_;
    std::vector<bool> decomposable_;
    std::vector<bool> plain_;

    std::unordered_map<const Expr*, std::uint64_t> hash_of_node_;  // nodes under kept handles
    std::unordered_multimap<std::uint64_t, std::uint32_t> ids_by_hash_;
    std::vector<std::uint32_t> first_handle_of_id_;
    std::vector<std::uint32_t> group_of_id_;

    LatexTexts latex_;
    std::deque<Text> group_texts_;
    std::vector<std::uint32_t> rank_of_group_;
    std::vector<std::uint32_t> groups_by_rank_;
    std::unordered_map<std::string_view, std::uint32_t> group_of_text_;
    std::unordered_multimap<std::size_t, std::uint32_t> long_groups_;  // by Text::hash_key
};

}  // namespace tavrelo::fast
