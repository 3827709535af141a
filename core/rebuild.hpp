// Bottom-up rebuilding of a tree with an explicit stack on the heap: depth costs memory, not
// native stack, so the walk is safe at any depth in a thread of any stack size.
#pragma once

#include <unordered_map>
#include <utility>
#include <vector>

#include "children.hpp"
#include "expr.hpp"

namespace tavrelo {

// Replaces every node that has children by combine(kind, first, second), given the replacements
// of its children in positional order as rvalues (`second` is empty for unary kinds); combine
// returns a node. Leaves and constants stay as they are. Children come first, left before right, so
// the first error of a left-to-right walk is the one that propagates, and nothing is kept when one
// does.
//
// A node reached through several handles (a DAG) is rebuilt once per call: the memo holds the
// replacement of every such node, keyed by identity. A node with a single owner is reached once
// anyway, so tree-shaped input never touches the memo.
template <class Combine>
[[nodiscard]] ExprPtr rebuild_bottom_up(const ExprPtr& root, Combine&& combine) {
    // A node whose children are being rebuilt.
    struct Frame {
        const Expr* node;
        const ExprPtr* second;  // the child still to take up, or null
        ExprKind kind;
        bool binary;
        bool shared;  // its replacement goes into the memo
    };
    std::vector<Frame> frames;
    std::vector<ExprPtr> firsts;  // first replacements of the binary frames past their first child
    std::unordered_map<const Expr*, ExprPtr> memo;
    frames.reserve(32);
    firsts.reserve(32);
    ExprPtr carry;  // the replacement just made, for the frame on top
    const ExprPtr* next = &root;
    for (;;) {
        // Down the left spine from `next`, to a leaf or a node already rebuilt.
        for (;;) {
            const Expr& e = **next;
            const ExprKind kind = kind_of(e);
            if (arity_of(kind) == 0) {
                carry = *next;
                break;
            }
            // The root is taken up once whatever its owners.
            const bool shared = next != &root && next->use_count() != 1;
            if (shared) {
                if (const auto hit = memo.find(&e); hit != memo.end()) {
                    carry = hit->second;
                    break;
                }
            }
            const Children children = children_of(e, kind);
            frames.push_back(Frame{&e, children.second, kind, children.second != nullptr, shared});
            next = children.first;
        }
        // Up, closing every frame whose children are all rebuilt.
        for (;;) {
            if (frames.empty()) {
                return carry;
            }
            Frame& top = frames.back();
            if (top.second != nullptr) {
                firsts.push_back(std::move(carry));
                next = top.second;
                top.second = nullptr;
                break;
            }
            ExprPtr result = top.binary
                                 ? combine(top.kind, std::move(firsts.back()), std::move(carry))
                                 : combine(top.kind, std::move(carry), ExprPtr());
            if (top.binary) {
                firsts.pop_back();
            }
            if (top.shared) {
                memo.emplace(top.node, result);
            }
            frames.pop_back();
            carry = std::move(result);
        }
    }
}

}  // namespace tavrelo
