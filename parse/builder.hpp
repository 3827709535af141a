// The machine both readers drive: a stack of values and a stack of pending operators and open
// groups, reduced by binding strength. Nothing recurses on the nesting of the text, so depth
// costs heap only.
//
// In LaTeX the tree is also chosen so that it prints back as the text it was read from
// (`place`): parentheses the printer would not write are kept as a factor 1, `x + -y` becomes
// x + (-1)·y, and a fraction of two integers is an exact fraction where only that prints so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "core/expr.hpp"
#include "leaves.hpp"
#include "token.hpp"

namespace tavrelo::reading {

enum class Lit : unsigned char { None, Int, Decimal, Fraction };

// An operand: a node, or a number not made into a node yet (its sign and its kind of node
// depend on what it ends up next to).
struct Value {
    ExprPtr node;
    std::uint64_t num = 0;  // literal: magnitude num/den
    std::uint64_t den = 1;
    std::size_t pos = 0;       // where it begins in the text
    std::size_t den_pos = 0;   // Fraction: where its denominator begins
    Lit lit = Lit::None;       // for a `paren` value: the literal the group holds, if any
    bool neg = false;          // literal: a minus sign folded into it
    bool paren = false;        // LaTeX \left( \right) group whose parentheses are still to place
    bool superscript = false;  // LaTeX: carries a superscript of its own
    bool lead_minus = false;   // node: its LaTeX text begins with "-"
    bool name_token = false;   // a name just as its token spelled it

    [[nodiscard]] bool is_literal() const { return lit != Lit::None && !paren; }
};

enum class OpKind : unsigned char {
    Frame,  // an open group; `frame` says which (the reader's numbering)
    Add,
    Sub,
    Mul,        // written: * \cdot \times
    Implicit,   // side by side
    Tight,      // LaTeX \cdot between two numbers, one of them a fraction
    Div,        // /
    Pow,        // typed ^ and **
    NegTerm,    // minus at the start of a term: takes the whole product
    NegFactor,  // minus after * / ^: takes one factor
    Function,   // LaTeX function without parentheses: \sin 2x
};

struct Op {
    OpKind kind;
    unsigned char frame = 0;
    Function function = Function::Sin;
    bool flag = false;  // Function: has a power; frames: the reader's use
    std::size_t pos = 0;
    std::size_t values = 0;      // size of the value stack when pushed
    std::size_t saved_bare = 0;  // Frame: bare functions open in the enclosing group
};

// Where a LaTeX operand sits, as far as the printer's parentheses are concerned.
enum class Role : unsigned char { Plain, Free, NegOperand, LeftFactor, RightFactor, PowBase };

struct Placed {
    ExprPtr node;
    bool lead_minus = false;
};

class Builder {
public:
    Builder(std::string_view text, bool latex);

    [[noreturn]] void fail(std::size_t pos, std::string_view reason) const;
    [[noreturn]] void overflow(std::size_t pos, std::string_view number) const;

    void push(Value v) { values_.push_back(std::move(v)); }
    void push_node(ExprPtr node, std::size_t pos, bool lead_minus = false);
    void push_number(const Token& t);
    [[nodiscard]] Value pop();
    [[nodiscard]] Value& top() { return values_.back(); }
    [[nodiscard]] std::size_t value_count() const { return values_.size(); }
    [[nodiscard]] Leaves& leaves() { return leaves_; }

    void prefix(OpKind kind, std::size_t pos, Function f = Function::Sin, bool flag = false);
    // Reduces what binds at least as tightly, then pushes the operator.
    void binary(OpKind kind, std::size_t pos);
    // Reduces pending operators of at least this binding strength (frames stop it).
    void reduce_until(int strength);
    [[nodiscard]] const Op& top_op() const { return ops_.back(); }
    [[nodiscard]] std::size_t bare_functions() const { return bare_; }

    void open(unsigned char frame, std::size_t pos, Function f = Function::Sin, bool flag = false);
    struct Closed {
        Op frame;
        Value content;
    };
    // Reduces to the innermost group and removes it. The caller has checked that the group
    // holds an operand.
    Closed close();

    // Building blocks. `place` moves the node out of the value.
    [[nodiscard]] Placed place(Value& v, Role role, const Expr* left = nullptr);
    [[nodiscard]] Value group(Value content, std::size_t pos);  // \left( content \right)
    [[nodiscard]] Value fraction(Value num, Value den, std::size_t pos);
    [[nodiscard]] Value power(Value base, Value exp);  // LaTeX ^
    [[nodiscard]] Value apply(Function f, Value arg, std::optional<Value> power, std::size_t pos);
    [[nodiscard]] Value root(std::optional<Value> index, Value arg, std::size_t pos);

private:
    enum class Ctx : unsigned char { Plain, Number };
    [[nodiscard]] ExprPtr materialize(Value& v, Ctx ctx);
    [[nodiscard]] int fit(std::uint64_t magnitude, bool negative, std::size_t pos) const;
    [[nodiscard]] ExprPtr integer(std::uint64_t magnitude, bool negative, std::size_t pos);
    [[nodiscard]] ExprPtr unfolded(const Value& v);
    void absorb_minus_into_left(Value& left);
    void reduce_one();
    [[nodiscard]] Value add(Value l, Value r, std::size_t pos);
    [[nodiscard]] Value sub(Value l, Value r, std::size_t pos);
    [[nodiscard]] Value mul(Value l, Value r, OpKind kind, std::size_t pos);
    [[nodiscard]] Value neg(Value v, std::size_t pos);
    void keep_unit_visible(const Value& v, Placed& p, bool left);
    [[nodiscard]] Value node_value(ExprPtr node, std::size_t pos, bool lead_minus = false) const;

    std::string_view text_;
    bool latex_;
    Leaves leaves_;
    std::vector<Value> values_;
    std::vector<Op> ops_;
    std::size_t bare_ = 0;  // Function operators open in the current group
};

}  // namespace tavrelo::reading
