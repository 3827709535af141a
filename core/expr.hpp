// Immutable expression nodes: the model every other part of the library reads and builds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string>
#include <utility>

namespace tavrelo {

class Expr;
using ExprPtr = std::shared_ptr<Expr>;

// Binding strength, used for parenthesising: a child binding less tightly than its context is
// wrapped. The numbers are what precedence() answers.
enum class Precedence : int { Sum = 1, Negation = 2, Product = 3, Power = 4, Atom = 5 };

// The number each node answers from kind(); the numbers are part of the public contract.
enum class ExprKind : int {
#define TAVRELO_KIND(Name, Number, Shape, Precedence, IsNumber) Name = Number,
#include "kinds.def"
};

// How a kind holds its fields: leaves hold values, unary and binary nodes child handles.
enum class KindShape { Leaf, Unary, Binary, Constant };

// Number of child handles of a shape.
[[nodiscard]] constexpr int arity_of(KindShape shape) {
    return shape == KindShape::Binary ? 2 : shape == KindShape::Unary ? 1 : 0;
}

struct KindInfo {
    ExprKind kind;
    const char* name;
    KindShape shape;
    int arity;
    Precedence precedence;
    bool is_number;
};

inline constexpr KindInfo kind_table[] = {
#define TAVRELO_KIND(Name, Number, Shape, Prec, IsNumber)                                          \
    {ExprKind::Name,   #Name,   KindShape::Shape, arity_of(KindShape::Shape),                      \
     Precedence::Prec, IsNumber},
#include "kinds.def"
};
inline constexpr int kind_count = static_cast<int>(std::size(kind_table));

// The table is indexed by kind number, so the list must be in number order.
static_assert([] {
    for (int i = 0; i < kind_count; ++i) {
        if (static_cast<int>(kind_table[i].kind) != i) {
            return false;
        }
    }
    return true;
}());

[[nodiscard]] constexpr const KindInfo& kind_info(ExprKind k) {
    return kind_table[static_cast<std::size_t>(k)];
}

// Number of child handles: 0 for leaves and constants.
[[nodiscard]] constexpr int arity_of(ExprKind k) { return kind_info(k).arity; }

// Leaves and constants: kinds without children.
[[nodiscard]] constexpr bool is_leaf(ExprKind k) { return arity_of(k) == 0; }

class Expr {
public:
    virtual ~Expr();
    [[nodiscard]] virtual std::string to_string() const = 0;
    [[nodiscard]] virtual int kind() const = 0;
    [[nodiscard]] virtual int precedence() const = 0;
    [[nodiscard]] virtual bool equals(const ExprPtr& other) const = 0;
    [[nodiscard]] virtual bool is_number() const = 0;

    Expr(const Expr&) = delete;
    Expr& operator=(const Expr&) = delete;

protected:
    Expr() = default;
};

[[nodiscard]] inline ExprKind kind_of(const Expr& e) { return static_cast<ExprKind>(e.kind()); }

// Static downcast after a kind() test; the core never asks for run-time type information.
template <class Node>
[[nodiscard]] const Node& as(const Expr& e) {
    return static_cast<const Node&>(e);
}

// The operations every class declares, in the slot order of Expr; the constants come from the
// kind table.
#define TAVRELO_NODE_OPERATIONS(Name)                                                              \
    [[nodiscard]] std::string to_string() const override;                                          \
    [[nodiscard]] int kind() const override { return static_cast<int>(ExprKind::Name); }           \
    [[nodiscard]] int precedence() const override {                                                \
        return static_cast<int>(kind_info(ExprKind::Name).precedence);                             \
    }                                                                                              \
    [[nodiscard]] bool equals(const ExprPtr& other) const override;                                \
    [[nodiscard]] bool is_number() const override { return kind_info(ExprKind::Name).is_number; }

// Fields are public and const: nodes never change after construction. Destructors hand their
// children to an iterative release queue so that a million-deep chain frees without recursion.
// Leaves are written out; the classes with child handles and the constants follow from kinds.def.

class Int final : public Expr {
public:
    explicit Int(int value) : value(value) {}
    TAVRELO_NODE_OPERATIONS(Int)

    const int value;
};

class Var final : public Expr {
public:
    explicit Var(std::string name) : name(std::move(name)) {}
    TAVRELO_NODE_OPERATIONS(Var)

    const std::string name;
};

class Rational final : public Expr {
public:
    // Reduces to lowest terms with the sign on the numerator; throws on a zero denominator
    // and when the exact reduced fraction does not fit signed 32 bits.
    Rational(int num, int den);
    TAVRELO_NODE_OPERATIONS(Rational)

    const int num;
    const int den;

private:
    struct Reduced {
        int num;
        int den;
    };
    Rational(Reduced r) : num(r.num), den(r.den) {}
    static Reduced reduce(int num, int den);
};

#define TAVRELO_UNARY(Name, Number, Prec, Operand)                                                 \
    class Name final : public Expr {                                                               \
    public:                                                                                        \
        explicit Name(ExprPtr Operand);                                                            \
        ~Name() override;                                                                          \
        TAVRELO_NODE_OPERATIONS(Name)                                                              \
                                                                                                   \
        const ExprPtr Operand;                                                                     \
    };
#define TAVRELO_BINARY(Name, Number, Prec, First, Second)                                          \
    class Name final : public Expr {                                                               \
    public:                                                                                        \
        Name(ExprPtr First, ExprPtr Second);                                                       \
        ~Name() override;                                                                          \
        TAVRELO_NODE_OPERATIONS(Name)                                                              \
                                                                                                   \
        const ExprPtr First;                                                                       \
        const ExprPtr Second;                                                                      \
    };
#define TAVRELO_CONSTANT(Name, Number, Prec)                                                       \
    class Name final : public Expr {                                                               \
    public:                                                                                        \
        Name() = default;                                                                          \
        TAVRELO_NODE_OPERATIONS(Name)                                                              \
    };
#include "kinds.def"

#undef TAVRELO_NODE_OPERATIONS

// Structural equality of two trees, without recursion; identical nodes answer at once.
[[nodiscard]] bool structurally_equal(const Expr& a, const Expr& b);

// LaTeX text of a tree, without recursion (see latex.cpp).
[[nodiscard]] std::string render_latex(const Expr& root);

}  // namespace tavrelo
