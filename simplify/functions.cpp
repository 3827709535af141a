// Rule lists of square and cube roots, the trigonometric functions and the natural logarithm.
#include <memory>
#include <stdexcept>
#include <utility>

#include "core/node_pool.hpp"
#include "simplify/integers.hpp"
#include "simplify/rules.hpp"
#include "simplify/simplify.hpp"

namespace tavrelo::detail {
namespace {

ExprPtr new_int(int v) { return make_node<Int>(v); }

bool is_kind(const ExprPtr& e, ExprKind kind) { return kind_of(*e) == kind; }

// Values of sin, cos and tan at one special argument, as new nodes.
struct TrigValues {
    int sin;
    int cos;
    int tan;
};

ExprPtr pick(ExprKind kind, TrigValues v) {
    switch (kind) {
    case ExprKind::Sin: return new_int(v.sin);
    case ExprKind::Cos: return new_int(v.cos);
    default: return new_int(v.tan);
    }
}

ExprPtr rebuild_trig(ExprKind kind, ExprPtr s) {
    switch (kind) {
    case ExprKind::Sin: return make_node<Sin>(std::move(s));
    case ExprKind::Cos: return make_node<Cos>(std::move(s));
    default: return make_node<Tan>(std::move(s));
    }
}

// sqrt(2) / 2, all nodes new.
ExprPtr half_root_two() { return make_node<Div>(make_node<Sqrt>(new_int(2)), new_int(2)); }

}  // namespace

ExprPtr sqrt_rules(ExprPtr s) {
    if (!is_kind(s, ExprKind::Int)) {
        return make_node<Sqrt>(std::move(s));
    }
    const int v = as<Int>(*s).value;
    if (v == 0 || v == 1) {
        return new_int(v);
    }
    if (v < 0) {
        throw std::invalid_argument("負の数の平方根はサポートされていません。");
    }
    const SquareSplit split = split_square_factor(v);
    if (split.inside == 1) {
        return new_int(split.outside);
    }
    if (split.outside > 1) {
        return make_node<Mul>(new_int(split.outside), make_node<Sqrt>(new_int(split.inside)));
    }
    return make_node<Sqrt>(std::move(s));
}

ExprPtr cbrt_rules(ExprPtr s) {
    if (is_int_value(s, 0) || is_int_value(s, 1)) {
        return new_int(as<Int>(*s).value);
    }
    if (is_kind(s, ExprKind::Pow) && is_int_value(as<Pow>(*s).exp, 3)) {
        return as<Pow>(*s).base;  // the cube root of a cube
    }
    if (is_kind(s, ExprKind::Int)) {
        if (const auto root = exact_cube_root(as<Int>(*s).value)) {
            return new_int(*root);
        }
    }
    return make_node<Cbrt>(std::move(s));
}

ExprPtr trig_rules(ExprKind kind, ExprPtr s) {
    constexpr TrigValues kAtZero{0, 1, 0};
    constexpr TrigValues kAtPi{0, -1, 0};
    if (is_int_value(s, 0)) {
        return pick(kind, kAtZero);
    }
    if (is_kind(s, ExprKind::Pi)) {
        return pick(kind, kAtPi);
    }
    if (is_kind(s, ExprKind::Div)) {
        const auto& q = as<Div>(*s);
        if (is_kind(q.num, ExprKind::Pi) && is_kind(q.den, ExprKind::Int)) {
            switch (as<Int>(*q.den).value) {
            case 4:
                if (kind == ExprKind::Tan) {
                    return new_int(1);
                }
                return half_root_two();
            case 1: return pick(kind, kAtPi);
            case 2:
                if (kind == ExprKind::Tan) {
                    throw std::invalid_argument("tan(pi/2) は定義されていません");
                }
                return pick(kind, TrigValues{1, 0, 0});
            default: break;
            }
        }
    }
    return rebuild_trig(kind, std::move(s));
}

ExprPtr log_rules(ExprPtr s) {
    if (is_int_value(s, 1)) {
        return new_int(0);
    }
    if (is_kind(s, ExprKind::E)) {
        return new_int(1);
    }
    if (is_kind(s, ExprKind::Pow) && is_kind(as<Pow>(*s).base, ExprKind::E)) {
        return as<Pow>(*s).exp;  // log(e^x) = x
    }
    return make_node<Log>(std::move(s));
}

}  // namespace tavrelo::detail
