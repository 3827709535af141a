// The child handles of a node, in their positional order, for walks that treat every class alike.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <stdexcept>
#include <utility>

#include "expr.hpp"

namespace tavrelo {

// Unary nodes fill `first` only; leaves and constants have no children.
struct Children {
    const ExprPtr* first = nullptr;
    const ExprPtr* second = nullptr;
};

// `kind` is the kind of `e`, for callers that have read it already.
[[nodiscard]] inline Children children_of(const Expr& e, ExprKind kind) {
    switch (kind) {
        // Formatting would glue the include to the macro above it.
        // clang-format off
#define TAVRELO_UNARY(Name, Number, Prec, Operand)                                                 \
    case ExprKind::Name: return {&as<Name>(e).Operand};
#define TAVRELO_BINARY(Name, Number, Prec, First, Second)                                          \
    case ExprKind::Name: return {&as<Name>(e).First, &as<Name>(e).Second};
#include "kinds.def"
        // clang-format on
    default: return {};
    }
}

[[nodiscard]] inline Children children_of(const Expr& e) { return children_of(e, kind_of(e)); }

// A node of a kind with children, made from them in positional order on the general heap, as
// Python makes nodes (`second` is unused by unary kinds). For builders that treat every kind alike.
[[nodiscard]] inline ExprPtr make_with_children(ExprKind kind, ExprPtr first, ExprPtr second = {}) {
    switch (kind) {
        // clang-format off
#define TAVRELO_UNARY(Name, Number, Prec, Operand)                                                 \
    case ExprKind::Name: return std::make_shared<Name>(std::move(first));
#define TAVRELO_BINARY(Name, Number, Prec, First, Second)                                          \
    case ExprKind::Name: return std::make_shared<Name>(std::move(first), std::move(second));
#include "kinds.def"
        // clang-format on
    default: throw std::invalid_argument("make_with_children: a kind without children");
    }
}

// The kinds of one shape, in kind order.
template <KindShape Shape>
inline constexpr auto kinds_shaped = [] {
    constexpr auto count = [] {
        std::size_t n = 0;
        for (const KindInfo& k : kind_table) {
            n += k.shape == Shape ? 1 : 0;
        }
        return n;
    }();
    std::array<ExprKind, count> out{};
    std::size_t i = 0;
    for (const KindInfo& k : kind_table) {
        if (k.shape == Shape) {
            out[i++] = k.kind;
        }
    }
    return out;
}();

}  // namespace tavrelo
