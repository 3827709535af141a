// Immutable expression nodes: the model every other part of the library reads and builds.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tavrelo {

class Expr;
using ExprPtr = std::shared_ptr<Expr>;

// The number each node answers from kind(); the order is part of the public contract.
enum class ExprKind : int {
    Int = 0,
    Var = 1,
    Rational = 2,
    Neg = 3,
    Add = 4,
    Mul = 5,
    Div = 6,
    Pow = 7,
    Sqrt = 8,
    Pi = 9,
    E = 10,
    Cbrt = 11,
    Sin = 12,
    Cos = 13,
    Tan = 14,
    Log = 15,
};

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

// Fields are public and const: nodes never change after construction. Destructors hand their
// children to an iterative release queue so that a million-deep chain frees without recursion.

class Int final : public Expr {
public:
    explicit Int(int value) : value(value) {}
    [[nodiscard]] std::string to_string() const override;
    [[nodiscard]] int kind() const override { return static_cast<int>(ExprKind::Int); }
    [[nodiscard]] int precedence() const override { return 5; }
    [[nodiscard]] bool equals(const ExprPtr& other) const override;
    [[nodiscard]] bool is_number() const override { return true; }

    const int value;
};

class Var final : public Expr {
public:
    explicit Var(std::string name) : name(std::move(name)) {}
    [[nodiscard]] std::string to_string() const override;
    [[nodiscard]] int kind() const override { return static_cast<int>(ExprKind::Var); }
    [[nodiscard]] int precedence() const override { return 5; }
    [[nodiscard]] bool equals(const ExprPtr& other) const override;
    [[nodiscard]] bool is_number() const override { return false; }

    const std::string name;
};

class Rational final : public Expr {
public:
    // Reduces to lowest terms with the sign on the numerator; throws on a zero denominator
    // and when the exact reduced fraction does not fit signed 32 bits.
    Rational(int num, int den);
    [[nodiscard]] std::string to_string() const override;
    [[nodiscard]] int kind() const override { return static_cast<int>(ExprKind::Rational); }
    [[nodiscard]] int precedence() const override { return 5; }
    [[nodiscard]] bool equals(const ExprPtr& other) const override;
    [[nodiscard]] bool is_number() const override { return true; }

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

#define TAVRELO_UNARY_NODE(Name, Prec)                                                             \
    class Name final : public Expr {                                                               \
    public:                                                                                        \
        explicit Name(ExprPtr operand);                                                            \
        ~Name() override;                                                                          \
        [[nodiscard]] std::string to_string() const override;                                      \
        [[nodiscard]] int kind() const override { return static_cast<int>(ExprKind::Name); }       \
        [[nodiscard]] int precedence() const override { return Prec; }                             \
        [[nodiscard]] bool equals(const ExprPtr& other) const override;                            \
        [[nodiscard]] bool is_number() const override { return false; }                            \
                                                                                                   \
        const ExprPtr operand;                                                                     \
    };

#define TAVRELO_BINARY_NODE(Name, First, Second, Prec)                                             \
    class Name final : public Expr {                                                               \
    public:                                                                                        \
        Name(ExprPtr First, ExprPtr Second);                                                       \
        ~Name() override;                                                                          \
        [[nodiscard]] std::string to_string() const override;                                      \
        [[nodiscard]] int kind() const override { return static_cast<int>(ExprKind::Name); }       \
        [[nodiscard]] int precedence() const override { return Prec; }                             \
        [[nodiscard]] bool equals(const ExprPtr& other) const override;                            \
        [[nodiscard]] bool is_number() const override { return false; }                            \
                                                                                                   \
        const ExprPtr First;                                                                       \
        const ExprPtr Second;                                                                      \
    };

#define TAVRELO_CONSTANT_NODE(Name)                                                                \
    class Name final : public Expr {                                                               \
    public:                                                                                        \
        Name() = default;                                                                          \
        [[nodiscard]] std::string to_string() const override;                                      \
        [[nodiscard]] int kind() const override { return static_cast<int>(ExprKind::Name); }       \
        [[nodiscard]] int precedence() const override { return 5; }                                \
        [[nodiscard]] bool equals(const ExprPtr& other) const override;                            \
        [[nodiscard]] bool is_number() const override { return false; }                            \
    };

TAVRELO_UNARY_NODE(Neg, 2)
TAVRELO_BINARY_NODE(Add, left, right, 1)
TAVRELO_BINARY_NODE(Mul, left, right, 3)
TAVRELO_BINARY_NODE(Div, num, den, 3)
TAVRELO_BINARY_NODE(Pow, base, exp, 4)
TAVRELO_UNARY_NODE(Sqrt, 5)
TAVRELO_CONSTANT_NODE(Pi)
TAVRELO_CONSTANT_NODE(E)
TAVRELO_UNARY_NODE(Cbrt, 5)
TAVRELO_UNARY_NODE(Sin, 5)
TAVRELO_UNARY_NODE(Cos, 5)
TAVRELO_UNARY_NODE(Tan, 5)
TAVRELO_UNARY_NODE(Log, 5)

#undef TAVRELO_UNARY_NODE
#undef TAVRELO_BINARY_NODE
#undef TAVRELO_CONSTANT_NODE

// Structural equality of two trees, without recursion; identical nodes answer at once.
[[nodiscard]] bool structurally_equal(const Expr& a, const Expr& b);

// LaTeX text of a tree, without recursion (see latex.cpp).
[[nodiscard]] std::string render_latex(const Expr& root);

}  // namespace tavrelo
