// Reductions of the reading machine, and the LaTeX reader's choice of trees that print back as
// they were written.
#include "builder.hpp"

#include <limits>
#include <numeric>
#include <string>
#include <utility>

#include "core/latex_rules.hpp"
#include "core/node_pool.hpp"
#include "parse.hpp"

namespace tavrelo::reading {
namespace {

constexpr std::uint64_t kMinMagnitude = std::uint64_t{1} << 31;  // |INT_MIN|
constexpr std::uint64_t kMaxInt = std::numeric_limits<int>::max();

int strength(OpKind k) {
    switch (k) {
    case OpKind::Frame: return 0;
    case OpKind::Add:
    case OpKind::Sub: return 10;
    case OpKind::NegTerm: return 20;
    case OpKind::Function: return 25;
    case OpKind::Mul:
    case OpKind::Implicit:
    case OpKind::Div: return 30;
    case OpKind::Tight: return 35;
    case OpKind::NegFactor: return 40;
    case OpKind::Pow: return 50;
    }
    return 0;
}

bool is_int(const Expr& e, int v) { return kind_of(e) == ExprKind::Int && as<Int>(e).value == v; }

// Whether `e` binds looser than `p`: the printer parenthesises it where `p` is the least.
bool looser(const Expr& e, Precedence p) { return e.precedence() < static_cast<int>(p); }

// Whether a product prints its factors side by side (not a unit factor, not two numbers).
bool side_by_side(const Expr& l, const Expr& r) {
    return !(is_int(l, -1) || is_int(l, 1) || is_int(r, 1)) && !(l.is_number() && r.is_number());
}

// Whether the printer puts parentheses around `c` where it sits.
bool printer_wraps(const Expr& c, bool lead_minus, Role role, const Expr* left) {
    switch (role) {
    case Role::Plain:
    case Role::Free: return false;
    case Role::NegOperand: return looser(c, Precedence::Negation);
    case Role::LeftFactor: return looser(c, Precedence::Product);
    case Role::RightFactor:
        // A right factor whose text begins with a minus sign is set apart as well.
        return looser(c, Precedence::Product) ||
               (lead_minus && left != nullptr && side_by_side(*left, c));
    case Role::PowBase: return latex::wrapped_as_power_base(c);
    }
    return false;
}

// Whether the text of the product l·r begins with a minus sign.
bool product_leads_with_minus(const Expr& l, bool l_lead, const Expr& r, bool r_lead) {
    if (is_int(l, -1)) {
        return true;
    }
    if (is_int(l, 1)) {
        return !looser(r, Precedence::Product) && r_lead;
    }
    return !looser(l, Precedence::Product) && l_lead;
}

std::string decimal_text(std::uint64_t num, std::uint64_t den, bool negative) {
    std::string s = negative ? "-" : "";
    s += std::to_string(num);
    if (den != 1) {
        s += '/';
        s += std::to_string(den);
    }
    return s;
}

}  // namespace

Builder::Builder(std::string_view text, bool latex) : text_(text), latex_(latex) {}

void Builder::fail(std::size_t pos, std::string_view reason) const {
    throw ParseError(text_, pos, reason);
}

void Builder::overflow(std::size_t pos, std::string_view number) const {
    throw ParseError(text_, pos, std::string(number) + " は 32 ビット整数に収まりません", true);
}

Value Builder::node_value(ExprPtr node, std::size_t pos, bool lead_minus) const {
    Value v;
    v.node = std::move(node);
    v.pos = pos;
    v.lead_minus = lead_minus;
    return v;
}

void Builder::push_node(ExprPtr node, std::size_t pos, bool lead_minus) {
    values_.push_back(node_value(std::move(node), pos, lead_minus));
}

void Builder::push_number(const Token& t) {
    Value v;
    v.num = t.num;
    v.den = t.den;
    v.pos = t.begin;
    v.lit = t.decimal ? Lit::Decimal : Lit::Int;
    values_.push_back(v);
}

Value Builder::pop() {
    Value v = std::move(values_.back());
    values_.pop_back();
    return v;
}

int Builder::fit(std::uint64_t magnitude, bool negative, std::size_t pos) const {
    if (magnitude > (negative ? kMinMagnitude : kMaxInt)) {
        overflow(pos, decimal_text(magnitude, 1, negative));
    }
    return negative ? static_cast<int>(-static_cast<std::int64_t>(magnitude))
                    : static_cast<int>(magnitude);
}

ExprPtr Builder::integer(std::uint64_t magnitude, bool negative, std::size_t pos) {
    return leaves_.integer(fit(magnitude, negative, pos));
}

ExprPtr Builder::materialize(Value& v, Ctx ctx) {
    switch (v.lit) {
    case Lit::None: return std::move(v.node);
    case Lit::Int: return integer(v.num, v.neg, v.pos);
    case Lit::Decimal:
        if (v.den == 1) {
            return integer(v.num, v.neg, v.pos);
        }
        if (v.num > (v.neg ? kMinMagnitude : kMaxInt) || v.den > kMaxInt) {
            overflow(v.pos, decimal_text(v.num, v.den, v.neg));
        }
        return make_node<Rational>(fit(v.num, v.neg, v.pos), static_cast<int>(v.den));
    case Lit::Fraction: {
        const bool lowest = v.den >= 2 && v.den <= kMaxInt && std::gcd(v.num, v.den) == 1 &&
                            v.num <= (v.neg ? kMinMagnitude : kMaxInt);
        if ((ctx == Ctx::Number && lowest) || (v.neg && v.num == kMinMagnitude && v.den != 0)) {
            // An exact fraction: what prints beside another number, or what alone can carry
            // the magnitude of the most negative integer.
            return make_node<Rational>(fit(v.num, v.neg, v.pos), fit(v.den, false, v.den_pos));
        }
        ExprPtr d = make_node<Div>(integer(v.num, false, v.pos), integer(v.den, false, v.den_pos));
        return v.neg ? make_node<Neg>(std::move(d)) : d;
    }
    }
    return std::move(v.node);
}

// The group's content written with a Neg instead of a minus folded into its number.
ExprPtr Builder::unfolded(const Value& v) {
    Value positive = v;
    positive.neg = false;
    positive.paren = false;
    return make_node<Neg>(materialize(positive, Ctx::Plain));
}

Placed Builder::place(Value& v, Role role, const Expr* left) {
    if (!v.paren) {
        ExprPtr n = materialize(v, role == Role::PowBase ? Ctx::Number : Ctx::Plain);
        const bool lead = v.is_literal() ? (v.neg && v.num != 0) : v.lead_minus;
        return {std::move(n), lead};
    }
    ExprPtr c = std::move(v.node);
    bool lead = v.lead_minus;
    const bool factor = role == Role::LeftFactor || role == Role::RightFactor;
    if (role == Role::Plain ||
        (printer_wraps(*c, lead, role, left) && !(factor && v.neg && v.num < kMinMagnitude))) {
        return {std::move(c), lead};
    }
    if (v.lit != Lit::None && v.neg && v.num < kMinMagnitude) {
        // As a factor, (-3) is written with a Neg: that is parenthesised wherever it stands.
        c = unfolded(v);
        lead = true;
        if (printer_wraps(*c, lead, role, left)) {
            return {std::move(c), lead};
        }
    }
    if (latex_ && role == Role::RightFactor && v.lit != Lit::None && v.neg &&
        v.num == kMinMagnitude) {
        // -2147483648 has no Neg form; 1·(-2147483648) prints the same number and, being a
        // product, is parenthesised beside a number: 2\left(-2147483648\right).
        ExprPtr unit = make_node<Mul>(leaves_.integer(1), c);
        if (printer_wraps(*unit, true, role, left)) {
            return {std::move(unit), true};
        }
    }
    // The printer writes the parentheses of a unit factor: 1·(x + 1) prints as (x + 1).
    if (role == Role::PowBase || looser(*c, Precedence::Product)) {
        return {make_node<Mul>(leaves_.integer(1), std::move(c)), false};
    }
    return {std::move(c), lead};  // no tree prints these parentheses here
}

void Builder::prefix(OpKind kind, std::size_t pos, Function f, bool flag) {
    ops_.push_back(Op{kind, 0, f, flag, pos, values_.size(), 0});
    if (kind == OpKind::Function) {
        ++bare_;
    }
}

void Builder::binary(OpKind kind, std::size_t pos) {
    if (kind == OpKind::Pow) {
        while (!ops_.empty() && strength(ops_.back().kind) > strength(OpKind::Pow)) {
            reduce_one();
        }
    } else {
        reduce_until(strength(kind));
    }
    ops_.push_back(Op{kind, 0, Function::Sin, false, pos, values_.size(), 0});
}

void Builder::reduce_until(int s) {
    while (!ops_.empty() && ops_.back().kind != OpKind::Frame && strength(ops_.back().kind) >= s) {
        reduce_one();
    }
}

void Builder::open(unsigned char frame, std::size_t pos, Function f, bool flag) {
    ops_.push_back(Op{OpKind::Frame, frame, f, flag, pos, values_.size(), bare_});
    bare_ = 0;
}

Builder::Closed Builder::close() {
    reduce_until(1);
    Closed c{ops_.back(), pop()};
    ops_.pop_back();
    bare_ = c.frame.saved_bare;
    return c;
}

// The minus sign before -2147483648·x belongs to the number: its magnitude alone does not fit.
void Builder::absorb_minus_into_left(Value& left) {
    if (!left.is_literal() || left.neg || left.num != kMinMagnitude || ops_.empty()) {
        return;
    }
    const Op& op = ops_.back();
    if ((op.kind == OpKind::NegTerm || op.kind == OpKind::NegFactor) &&
        op.values == values_.size()) {
        left.neg = true;
        left.pos = op.pos;
        ops_.pop_back();
    }
}

void Builder::reduce_one() {
    const Op op = ops_.back();
    ops_.pop_back();
    switch (op.kind) {
    case OpKind::Frame: return;
    case OpKind::NegTerm:
    case OpKind::NegFactor: values_.push_back(neg(pop(), op.pos)); return;
    case OpKind::Function: {
        --bare_;
        Value arg = pop();
        std::optional<Value> pw;
        if (op.flag) {
            pw = pop();
        }
        values_.push_back(apply(op.function, std::move(arg), std::move(pw), op.pos));
        return;
    }
    default: break;
    }
    Value r = pop();
    Value l = pop();
    switch (op.kind) {
    case OpKind::Add: values_.push_back(add(std::move(l), std::move(r), op.pos)); return;
    case OpKind::Sub: values_.push_back(sub(std::move(l), std::move(r), op.pos)); return;
    case OpKind::Tight:
        if (!(l.is_literal() && r.is_literal())) {
            // Not two numbers after all: an ordinary product, nested to the left.
            values_.push_back(std::move(l));
            reduce_until(strength(OpKind::Function));
            l = pop();
            values_.push_back(mul(std::move(l), std::move(r), OpKind::Mul, op.pos));
            return;
        }
        [[fallthrough]];
    case OpKind::Mul:
    case OpKind::Implicit:
        values_.push_back(mul(std::move(l), std::move(r), op.kind, op.pos));
        return;
    case OpKind::Div: {
        absorb_minus_into_left(l);
        Placed a = place(l, Role::Plain);
        Placed b = place(r, Role::Plain);
        values_.push_back(node_value(make_node<Div>(std::move(a.node), std::move(b.node)), l.pos));
        return;
    }
    case OpKind::Pow: {
        Placed a = place(l, Role::Plain);
        Placed b = place(r, Role::Plain);
        values_.push_back(
            node_value(make_node<Pow>(std::move(a.node), std::move(b.node)), l.pos, a.lead_minus));
        return;
    }
    default: return;
    }
}

Value Builder::neg(Value v, std::size_t pos) {
    if (v.is_literal() && !v.neg && v.num != 0) {
        v.neg = true;
        v.pos = pos;
        return v;
    }
    Placed p = place(v, Role::NegOperand);
    return node_value(make_node<Neg>(std::move(p.node)), pos, true);
}

Value Builder::add(Value l, Value r, std::size_t /*pos*/) {
    Placed a = place(l, Role::Free);
    ExprPtr b;
    if (latex_ && r.is_literal() && r.neg && r.num != 0) {
        // `x + -3`: a negative number on the right of a sum prints as `x - 3`; -1·3 prints as
        // written. The most negative integer keeps its sign: -2147483648·1.
        Value positive = r;
        positive.neg = false;
        const bool fits = r.num <= kMaxInt && (r.lit != Lit::Fraction || r.den <= kMaxInt);
        b = fits ? make_node<Mul>(leaves_.integer(-1), materialize(positive, Ctx::Plain))
                 : make_node<Mul>(materialize(r, Ctx::Plain), leaves_.integer(1));
    } else if (latex_ && !r.paren && r.node && kind_of(*r.node) == ExprKind::Neg) {
        // `x + -y`: a Neg on the right of a sum prints as `x - y`; -1·y prints as written, and
        // so does each Neg below it (--y is -1·(-1·y)).
        std::vector<const Expr*> chain;
        const Expr* e = r.node.get();
        while (kind_of(*e) == ExprKind::Neg) {
            chain.push_back(e);
            e = as<Neg>(*e).operand.get();
        }
        b = as<Neg>(*chain.back()).operand;
        for (std::size_t i = chain.size(); i-- > 0;) {
            b = make_node<Mul>(leaves_.integer(-1), std::move(b));
        }
    } else {
        b = place(r, Role::Free).node;
    }
    return node_value(make_node<Add>(std::move(a.node), std::move(b)), l.pos, a.lead_minus);
}

Value Builder::sub(Value l, Value r, std::size_t /*pos*/) {
    Placed a = place(l, Role::Free);
    ExprPtr b;
    if (r.is_literal() && !r.neg && r.num == kMinMagnitude) {
        // `x - 2147483648`: the magnitude fits only as a negative number, x + (-2147483648).
        r.neg = true;
        b = materialize(r, Ctx::Plain);
    } else {
        b = make_node<Neg>(place(r, Role::NegOperand).node);
    }
    return node_value(make_node<Add>(std::move(a.node), std::move(b)), l.pos, a.lead_minus);
}

Value Builder::mul(Value l, Value r, OpKind kind, std::size_t /*pos*/) {
    absorb_minus_into_left(l);
    const bool numbers = kind != OpKind::Implicit && l.is_literal() && r.is_literal();
    // Two numbers joined by a written product: exact fractions print so.
    Placed a = numbers ? Placed{materialize(l, Ctx::Number), l.neg && l.num != 0}
                       : place(l, Role::LeftFactor);
    if (latex_ && !numbers && l.is_literal() && l.lit == Lit::Fraction && l.neg &&
        l.num == kMinMagnitude) {
        // -2147483648/3 has no Neg form; written beside a number it stands for
        // 1·(-2147483648/3), a product, which prints side by side as the text has it.
        a.node = make_node<Mul>(leaves_.integer(1), std::move(a.node));
    }
    // A factor 1 (or a left factor -1) written as an integer would not print; 1/1 does. The
    // left factor is settled before the right one is placed beside it.
    if (latex_) {
        keep_unit_visible(l, a, true);
    }
    Placed b = numbers ? Placed{materialize(r, Ctx::Number), r.neg && r.num != 0}
                       : place(r, Role::RightFactor, a.node.get());
    if (latex_) {
        keep_unit_visible(r, b, false);
    }
    const bool lead = product_leads_with_minus(*a.node, a.lead_minus, *b.node, b.lead_minus);
    return node_value(make_node<Mul>(std::move(a.node), std::move(b.node)), l.pos, lead);
}

void Builder::keep_unit_visible(const Value& v, Placed& p, bool left) {
    if (v.is_literal() && kind_of(*p.node) == ExprKind::Int &&
        (is_int(*p.node, 1) || (left && is_int(*p.node, -1)))) {
        p.node = make_node<Rational>(as<Int>(*p.node).value, 1);
    }
}

Value Builder::group(Value content, std::size_t pos) {
    Placed p = place(content, Role::Free);
    Value g = node_value(std::move(p.node), pos, p.lead_minus);
    g.paren = true;
    if (content.is_literal()) {
        g.lit = content.lit;
        g.num = content.num;
        g.den = content.den;
        g.neg = content.neg;
        g.den_pos = content.den_pos;
    }
    return g;
}

Value Builder::fraction(Value num, Value den, std::size_t pos) {
    if (num.is_literal() && den.is_literal() && num.lit == Lit::Int && den.lit == Lit::Int &&
        !num.neg && !den.neg) {
        Value f;
        f.lit = Lit::Fraction;
        f.num = num.num;
        f.den = den.num;
        f.pos = num.pos;
        f.den_pos = den.pos;
        return f;
    }
    Placed a = place(num, Role::Free);
    Placed b = place(den, Role::Free);
    return node_value(make_node<Div>(std::move(a.node), std::move(b.node)), pos);
}

Value Builder::power(Value base, Value exp) {
    Placed b = place(base, Role::PowBase);
    Placed e = place(exp, Role::Free);
    const bool lead = b.lead_minus && !latex::wrapped_as_power_base(*b.node);
    Value v = node_value(make_node<Pow>(std::move(b.node), std::move(e.node)), base.pos, lead);
    v.superscript = true;
    return v;
}

Value Builder::apply(Function f, Value arg, std::optional<Value> pw, std::size_t pos) {
    ExprPtr a = place(arg, Role::Free).node;
    ExprPtr n;
    switch (f) {
    case Function::Sin: n = make_node<Sin>(std::move(a)); break;
    case Function::Cos: n = make_node<Cos>(std::move(a)); break;
    case Function::Tan: n = make_node<Tan>(std::move(a)); break;
    case Function::Log: n = make_node<Log>(std::move(a)); break;
    case Function::Exp: n = make_node<Pow>(leaves_.e(), std::move(a)); break;
    case Function::Sqrt: n = make_node<Sqrt>(std::move(a)); break;
    case Function::Cbrt: n = make_node<Cbrt>(std::move(a)); break;
    }
    Value v = node_value(std::move(n), pos);
    if (pw) {
        v = node_value(make_node<Pow>(std::move(v.node), place(*pw, Role::Free).node), pos);
        v.superscript = true;
    }
    return v;
}

Value Builder::root(std::optional<Value> index, Value arg, std::size_t pos) {
    if (!index) {
        return apply(Function::Sqrt, std::move(arg), std::nullopt, pos);
    }
    if (index->is_literal() && index->lit == Lit::Int && !index->neg) {
        if (index->num == 2) {
            return apply(Function::Sqrt, std::move(arg), std::nullopt, pos);
        }
        if (index->num == 3) {
            return apply(Function::Cbrt, std::move(arg), std::nullopt, pos);
        }
        if (index->num != 0) {
            ExprPtr e = make_node<Rational>(1, fit(index->num, false, index->pos));
            return node_value(make_node<Pow>(place(arg, Role::PowBase).node, std::move(e)), pos);
        }
    }
    ExprPtr e = make_node<Div>(leaves_.integer(1), place(*index, Role::Free).node);
    return node_value(make_node<Pow>(place(arg, Role::PowBase).node, std::move(e)), pos);
}

}  // namespace tavrelo::reading
