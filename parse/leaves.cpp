#include "leaves.hpp"

#include "core/node_pool.hpp"

namespace tavrelo::reading {

ExprPtr Leaves::var(std::string_view name) {
    if (const auto it = vars_.find(name); it != vars_.end()) {
        return it->second;
    }
    ExprPtr v = make_node<Var>(std::string(name));
    vars_.emplace(std::string(name), v);
    return v;
}

ExprPtr Leaves::integer(int value) {
    if (value < kSmallest || value > kLargest) {
        return make_node<Int>(value);
    }
    ExprPtr& slot = small_[static_cast<std::size_t>(value - kSmallest)];
    if (!slot) {
        slot = make_node<Int>(value);
    }
    return slot;
}

ExprPtr Leaves::pi() {
    if (!pi_) {
        pi_ = make_node<Pi>();
    }
    return pi_;
}

ExprPtr Leaves::e() {
    if (!e_) {
        e_ = make_node<E>();
    }
    return e_;
}

}  // namespace tavrelo::reading
