#include "compare/structural_hash.hpp"

#include <cstddef>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "compare/mix.hpp"
#include "core/children.hpp"

namespace tavrelo {
namespace {

using detail::absorb;
using detail::mix64;

constexpr std::uint64_t seed(ExprKind k) {
    return (static_cast<std::uint64_t>(k) + 1) * 0x9e3779b97f4a7c15ULL;
}

constexpr std::uint64_t widen(int v) { return static_cast<std::uint64_t>(std::int64_t{v}); }

std::uint64_t name_hash(std::string_view name) {
    std::uint64_t h = absorb(seed(ExprKind::Var), name.size());
    for (std::size_t at = 0; at < name.size(); at += 8) {
        std::uint64_t word = 0;
        for (std::size_t i = 0; i < 8 && at + i < name.size(); ++i) {
            word |= std::uint64_t{static_cast<unsigned char>(name[at + i])} << (8 * i);
        }
        h = absorb(h, word);
    }
    return h;
}

std::uint64_t leaf_hash(const Expr& e) {
    switch (kind_of(e)) {
    case ExprKind::Int: return absorb(seed(ExprKind::Int), widen(as<Int>(e).value));
    case ExprKind::Var: return name_hash(as<Var>(e).name);
    case ExprKind::Rational: {
        const auto& r = as<Rational>(e);
        return absorb(absorb(seed(ExprKind::Rational), widen(r.num)), widen(r.den));
    }
    default: return mix64(seed(kind_of(e)));
    }
}

// A node waiting for its children's hashes. `shared`: reachable by several handles, so its hash
// is remembered for the next visit.
struct Frame {
    const Expr* node;
    bool shared;
    bool children_pushed;
};

bool is_shared(const ExprPtr& handle) { return handle.use_count() > 1; }

}  // namespace

std::uint64_t structural_hash(const Expr& root) {
    std::vector<Frame> todo{{&root, false, false}};
    std::vector<std::uint64_t> hashes;  // of finished children, in order
    std::unordered_map<const Expr*, std::uint64_t> known;
    while (!todo.empty()) {
        const Frame f = todo.back();
        const Children c = children_of(*f.node);
        if (f.children_pushed) {
            todo.pop_back();
            std::uint64_t h = seed(kind_of(*f.node));
            if (c.second != nullptr) {
                const std::uint64_t second = hashes.back();
                hashes.pop_back();
                h = absorb(absorb(h, hashes.back()), second);
            } else {
                h = absorb(h, hashes.back());
            }
            hashes.back() = h;
            if (f.shared) {
                known.emplace(f.node, h);
            }
            continue;
        }
        if (f.shared) {
            if (const auto found = known.find(f.node); found != known.end()) {
                todo.pop_back();
                hashes.push_back(found->second);
                continue;
            }
        }
        if (c.first == nullptr) {
            todo.pop_back();
            hashes.push_back(leaf_hash(*f.node));
            continue;
        }
        todo.back().children_pushed = true;
        if (c.second != nullptr) {
            todo.push_back({c.second->get(), is_shared(*c.second), false});
        }
        todo.push_back({c.first->get(), is_shared(*c.first), false});
    }
    return hashes.back();
}

}  // namespace tavrelo
