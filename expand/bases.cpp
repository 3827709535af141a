#include "expand/bases.hpp"

#include <algorithm>
#include <functional>
#include <utility>

#include "core/children.hpp"
#include "core/latex_rules.hpp"

namespace tavrelo::fast {
namespace {

std::uint64_t mix(std::uint64_t h, std::uint64_t v) {
    h ^= v + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
    return h * 0xBF58476D1CE4E5B9ull;
}

std::uint64_t leaf_hash(const Expr& e) {
    const auto k = static_cast<std::uint64_t>(e.kind());
    switch (kind_of(e)) {
    case ExprKind::Int: return mix(k, static_cast<std::uint32_t>(as<Int>(e).value));
    case ExprKind::Var: return mix(k, std::hash<std::string>{}(as<Var>(e).name));
    case ExprKind::Rational:
        return mix(mix(k, static_cast<std::uint32_t>(as<Rational>(e).num)),
                   static_cast<std::uint32_t>(as<Rational>(e).den));
    default: return mix(k, 0);
    }
}

bool takes_apart(const Expr& e) {
    switch (kind_of(e)) {
    case ExprKind::Int:
    case ExprKind::Neg:
    case ExprKind::Mul: return true;
    case ExprKind::Pow: return kind_of(*as<Pow>(e).exp) == ExprKind::Int;
    default: return false;
    }
}

}  // namespace

std::uint64_t Bases::structural_hash(const ExprPtr& root) {
    // Post-order without recursion; every hashed node stays reachable from a kept handle.
    std::vector<std::pair<const Expr*, bool>> pending{{root.get(), false}};
    while (!pending.empty()) {
        auto [node, children_done] = pending.back();
        if (hash_of_node_.count(node) != 0) {
            pending.pop_back();
            continue;
        }
        const Children c = children_of(*node);
        if (c.first == nullptr) {
            hash_of_node_.emplace(node, leaf_hash(*node));
            pending.pop_back();
            continue;
        }
        if (!children_done) {
            pending.back().second = true;
            if (c.second != nullptr) {
                pending.emplace_back(c.second->get(), false);
            }
            pending.emplace_back(c.first->get(), false);
            continue;
        }
        std::uint64_t h = mix(static_cast<std::uint64_t>(node->kind()), 1);
        h = mix(h, hash_of_node_.at(c.first->get()));
        if (c.second != nullptr) {
            h = mix(h, hash_of_node_.at(c.second->get()));
        }
        hash_of_node_.emplace(node, h);
        pending.pop_back();
    }
    return hash_of_node_.at(root.get());
}

std::uint32_t Bases::handle_of(const ExprPtr& node) {
    const auto known = handle_of_node_.find(node.get());
    if (known != handle_of_node_.end()) {
        return known->second;
    }
    const auto handle = static_cast<std::uint32_t>(nodes_.size());
    nodes_.push_back(node);
    decomposable_.push_back(takes_apart(*node));
    plain_.push_back(kind_of(*node) == ExprKind::Var && latex::is_plain_name(as<Var>(*node).name));
    handle_of_node_.emplace(node.get(), handle);

    const std::uint64_t h = structural_hash(node);
    std::uint32_t id = kUnknown;
    const auto [first, last] = ids_by_hash_.equal_range(h);
    for (auto it = first; it != last; ++it) {
        if (structurally_equal(*node, representative(it->second))) {
            id = it->second;
            break;
        }
    }
    if (id == kUnknown) {
        id = static_cast<std::uint32_t>(first_handle_of_id_.size());
        first_handle_of_id_.push_back(handle);
        group_of_id_.push_back(kUnknown);
        ids_by_hash_.emplace(h, id);
    }
    id_of_handle_.push_back(id);
    return handle;
}

std::uint32_t Bases::assign_group(std::uint32_t id) {
    Text text = latex_.of(nodes_[first_handle_of_id_[id]]);
    const auto g_new = static_cast<std::uint32_t>(group_texts_.size());
    std::uint32_t g = g_new;
    if (!text.is_long()) {
        const auto found = group_of_text_.find(text.str());
        if (found != group_of_text_.end()) {
            g = found->second;
        } else {
            group_texts_.push_back(std::move(text));
            group_of_text_.emplace(group_texts_.back().str(), g);
        }
    } else {
        const std::size_t h = text.hash_key();
        const auto [first, last] = long_groups_.equal_range(h);
        for (auto it = first; it != last && g == g_new; ++it) {
            if (group_texts_[it->second] == text) {
                g = it->second;
            }
        }
        if (g == g_new) {
            group_texts_.push_back(std::move(text));
            long_groups_.emplace(h, g);
        }
    }
    group_of_id_[id] = g;
    return g;
}

bool Bases::ranked() {
    constexpr std::size_t kMostRanked = 256;
    const std::size_t groups = group_texts_.size();
    if (groups > kMostRanked) {
        return false;
    }
    if (rank_of_group_.size() != groups) {
        // Texts are distinct, so the descending order is unique: new groups are inserted into
        // the old order, with few comparisons of (possibly long) texts.
        for (auto g = static_cast<std::uint32_t>(groups_by_rank_.size()); g < groups; ++g) {
            const auto at = std::upper_bound(groups_by_rank_.begin(), groups_by_rank_.end(), g,
                                             [&](std::uint32_t a, std::uint32_t b) {
                                                 return group_texts_[a] > group_texts_[b];
                                             });
            groups_by_rank_.insert(at, g);
        }
        rank_of_group_.assign(groups, 0);
        for (std::size_t r = 0; r < groups; ++r) {
            rank_of_group_[groups_by_rank_[r]] = static_cast<std::uint32_t>(r);
        }
    }
    return true;
}

}  // namespace tavrelo::fast
