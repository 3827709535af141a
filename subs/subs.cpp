// One post-order pass over the distinct nodes with explicit stacks, so depth costs heap only.
#include "subs/subs.hpp"

#include <unordered_map>
#include <utility>
#include <vector>

#include "core/children.hpp"
#include "core/node_pool.hpp"

namespace tavrelo {
namespace {

// A node with new children, or the node itself when the children came back unchanged.
template <class Node, auto First, auto Second>
ExprPtr rebuilt(const ExprPtr& node, ExprPtr first, ExprPtr second) {
    const auto& n = as<Node>(*node);
    if (first == n.*First && second == n.*Second) {
        return node;
    }
    return make_node<Node>(std::move(first), std::move(second));
}

template <class Node>
ExprPtr rebuilt(const ExprPtr& node, ExprPtr operand) {
    if (operand == as<Node>(*node).operand) {
        return node;
    }
    return make_node<Node>(std::move(operand));
}

class Walk {
public:
    explicit Walk(const Replacements& replacements) : replacements_(replacements) {}

    ExprPtr run(const ExprPtr& root) {
        todo_.push_back({&root, false});
        while (!todo_.empty()) {
            const Frame frame = todo_.back();
            todo_.pop_back();
            if (frame.children_done) {
                finish(*frame.node);
            } else {
                enter(*frame.node);
            }
        }
        return std::move(done_.back());
    }

private:
    struct Frame {
        const ExprPtr* node;
        bool children_done;
    };

    void enter(const ExprPtr& node) {
        const Children children = children_of(*node);
        if (children.first == nullptr) {
            done_.push_back(leaf(node));
            return;
        }
        // Only a node with several owners can be reached twice; the rest skip the memo.
        if (node.use_count() > 1) {
            if (const auto hit = memo_.find(node.get()); hit != memo_.end()) {
                done_.push_back(hit->second);
                return;
            }
        }
        todo_.push_back({&node, true});
        if (children.second != nullptr) {
            todo_.push_back({children.second, false});
        }
        todo_.push_back({children.first, false});
    }

    ExprPtr leaf(const ExprPtr& node) const {
        if (kind_of(*node) == ExprKind::Var) {
            if (const auto it = replacements_.find(as<Var>(*node).name);
                it != replacements_.end()) {
                return it->second;
            }
        }
        return node;
    }

    void finish(const ExprPtr& node) {
        ExprPtr result = children_of(*node).second != nullptr ? binary(node) : unary(node);
        if (node.use_count() > 1) {
            memo_.emplace(node.get(), result);
        }
        done_.push_back(std::move(result));
    }

    ExprPtr pop() {
        ExprPtr top = std::move(done_.back());
        done_.pop_back();
        return top;
    }

    ExprPtr unary(const ExprPtr& node) {
        ExprPtr a = pop();
        switch (kind_of(*node)) {
        case ExprKind::Neg: return rebuilt<Neg>(node, std::move(a));
        case ExprKind::Sqrt: return rebuilt<Sqrt>(node, std::move(a));
        case ExprKind::Cbrt: return rebuilt<Cbrt>(node, std::move(a));
        case ExprKind::Sin: return rebuilt<Sin>(node, std::move(a));
        case ExprKind::Cos: return rebuilt<Cos>(node, std::move(a));
        case ExprKind::Tan: return rebuilt<Tan>(node, std::move(a));
        default: return rebuilt<Log>(node, std::move(a));
        }
    }

    ExprPtr binary(const ExprPtr& node) {
        ExprPtr b = pop();
        ExprPtr a = pop();
        switch (kind_of(*node)) {
        case ExprKind::Add:
            return rebuilt<Add, &Add::left, &Add::right>(node, std::move(a), std::move(b));
        case ExprKind::Mul:
            return rebuilt<Mul, &Mul::left, &Mul::right>(node, std::move(a), std::move(b));
        case ExprKind::Div:
            return rebuilt<Div, &Div::num, &Div::den>(node, std::move(a), std::move(b));
        default: return rebuilt<Pow, &Pow::base, &Pow::exp>(node, std::move(a), std::move(b));
        }
    }

    const Replacements& replacements_;
    std::vector<Frame> todo_;
    std::vector<ExprPtr> done_;  // results of finished subtrees, the latest on top
    std::unordered_map<const Expr*, ExprPtr> memo_;
};

}  // namespace

ExprPtr subs(const ExprPtr& expr, const Replacements& replacements) {
    if (!expr || replacements.empty()) {
        return expr;
    }
    return Walk(replacements).run(expr);
}

}  // namespace tavrelo
