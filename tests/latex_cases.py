"""Trees and the exact LaTeX text each must render to, shared by the rendering tests."""

from hypothesis import strategies as st

from tavrelo import (
    Add,
    Cbrt,
    Cos,
    Div,
    E,
    Expr,
    Int,
    Log,
    Mul,
    Neg,
    Pi,
    Pow,
    Rational,
    Sin,
    Sqrt,
    Tan,
    Var,
)

x = Var("x")
y = Var("y")
empty = Var("")
INT_MIN = -2147483648

Case = tuple[Expr, str]

# The reference rows: every class, every parenthesising and sign rule.
REFERENCE: list[Case] = [
    (Int(-7), r"-7"),
    (Rational(6, -4), r"-\frac{3}{2}"),
    (Rational(0, 5), r"0"),
    (Rational(4, 2), r"2"),
    (Rational(3, 4), r"\frac{3}{4}"),
    (Add(x, Int(1)), r"x + 1"),
    (Add(x, Int(-1)), r"x - 1"),
    (Add(x, Int(0)), r"x + 0"),
    (Add(x, Neg(y)), r"x - y"),
    (Add(x, Neg(Add(y, Int(1)))), r"x - \left(y + 1\right)"),
    (Add(x, Neg(Mul(Int(2), y))), r"x - 2y"),
    (Add(x, Rational(-1, 2)), r"x - \frac{1}{2}"),
    (Add(x, Rational(-6, 3)), r"x - 2"),
    (Add(x, Rational(1, 2)), r"x + \frac{1}{2}"),
    (Add(x, Mul(Int(-2), y)), r"x + -2y"),
    (Add(Neg(x), y), r"-x + y"),
    (Add(x, Add(y, Int(1))), r"x + y + 1"),
    (Add(Int(-1), x), r"-1 + x"),
    (Neg(x), r"-x"),
    (Neg(Add(x, Int(1))), r"-\left(x + 1\right)"),
    (Neg(Neg(x)), r"--x"),
    (Neg(Int(-3)), r"--3"),
    (Neg(Mul(Int(2), x)), r"-2x"),
    (Mul(Int(2), x), r"2x"),
    (Mul(x, Int(2)), r"x2"),
    (Mul(Int(2), Int(3)), r"2 \cdot 3"),
    (Mul(Int(2), Int(-3)), r"2 \cdot -3"),
    (Mul(Int(2), Rational(1, 3)), r"2 \cdot \frac{1}{3}"),
    (Mul(Int(2), Mul(Int(3), x)), r"2 \cdot 3x"),
    (Mul(Int(-1), x), r"-x"),
    (Mul(Int(-1), Add(x, Int(1))), r"-\left(x + 1\right)"),
    (Mul(Int(1), Add(x, Int(1))), r"\left(x + 1\right)"),
    (Mul(x, Int(1)), r"x"),
    (Mul(Int(-2), x), r"-2x"),
    (Mul(Int(2), Neg(x)), r"2\left(-x\right)"),
    (Mul(Int(2), Add(x, Int(1))), r"2\left(x + 1\right)"),
    (Mul(Add(x, Int(1)), Add(x, Int(2))), r"\left(x + 1\right)\left(x + 2\right)"),
    (Mul(Rational(1, 2), x), r"\frac{1}{2}x"),
    (Mul(Rational(1, 2), Int(3)), r"\frac{1}{2} \cdot 3"),
    (Mul(Int(-1), Int(5)), r"-5"),
    (Mul(Int(2), Int(1)), r"2"),
    (Mul(Neg(x), y), r"\left(-x\right)y"),
    (Mul(Int(3), Pi()), r"3\pi"),
    (Mul(Int(2), Div(x, Int(3))), r"2\frac{x}{3}"),
    (Mul(Sqrt(Int(2)), Int(3)), r"\sqrt{2}3"),
    (Mul(Int(2), Pow(x, Int(2))), r"2x^{2}"),
    (Mul(Pow(x, Int(2)), Int(3)), r"x^{2}3"),
    (Div(Add(x, Int(1)), Mul(Int(2), y)), r"\frac{x + 1}{2y}"),
    (Div(Int(1), Int(-2)), r"\frac{1}{-2}"),
    (Pow(x, Int(2)), r"x^{2}"),
    (Pow(Add(x, Int(1)), Int(2)), r"\left(x + 1\right)^{2}"),
    (Pow(Pow(x, Int(2)), Int(3)), r"\left(x^{2}\right)^{3}"),
    (Pow(Int(-2), Int(2)), r"\left(-2\right)^{2}"),
    (Pow(Rational(-1, 2), Int(2)), r"\left(-\frac{1}{2}\right)^{2}"),
    (Pow(Rational(1, 2), Int(2)), r"\frac{1}{2}^{2}"),
    (Pow(Neg(x), Int(2)), r"\left(-x\right)^{2}"),
    (Pow(Mul(Int(2), x), Int(2)), r"\left(2x\right)^{2}"),
    (Pow(Div(Int(1), x), Int(2)), r"\left(\frac{1}{x}\right)^{2}"),
    (Pow(Sin(x), Int(2)), r"\sin\left(x\right)^{2}"),
    (Pow(x, Add(y, Int(1))), r"x^{y + 1}"),
    (Pow(E(), x), r"e^{x}"),
    (Pow(x, Rational(1, 2)), r"x^{\frac{1}{2}}"),
    (Sqrt(Add(x, Int(1))), r"\sqrt{x + 1}"),
    (Cbrt(x), r"\sqrt[3]{x}"),
    (Sin(x), r"\sin\left(x\right)"),
    (Cos(Mul(Int(2), x)), r"\cos\left(2x\right)"),
    (Tan(Pi()), r"\tan\left(\pi\right)"),
    (Log(E()), r"\ln\left(e\right)"),
    (Pi(), r"\pi"),
    (E(), r"e"),
]

# A control word written next to a letter gets one space, or it would swallow the letter.
CONTROL_WORD_JOINS: list[Case] = [
    (Mul(Pi(), x), r"\pi x"),
    (Mul(Pi(), E()), r"\pi e"),
    (Mul(Pi(), Pow(x, Int(2))), r"\pi x^{2}"),
    (Mul(Pi(), Var("θ")), r"\pi θ"),
    (Mul(Var(r"a\alpha"), x), r"a\alpha x"),
    (Mul(Mul(Pi(), Pi()), x), r"\pi\pi x"),
    (Mul(Mul(x, Pi()), y), r"x\pi y"),
    (Mul(Pi(), Mul(Int(1), x)), r"\pi x"),
    (Mul(Pi(), Mul(empty, x)), r"\pi x"),
    (Mul(Mul(Pi(), empty), x), r"\pi x"),
    (Mul(Var(r"\pi"), Var("r")), r"\pi r"),
    # unchanged: no letter follows, or no control word precedes
    (Mul(Pi(), Int(2)), r"\pi2"),
    (Mul(Pi(), Pi()), r"\pi\pi"),
    (Mul(x, Pi()), r"x\pi"),
    (Mul(Int(3), Pi()), r"3\pi"),
    (Mul(Pi(), Rational(1, 2)), r"\pi\frac{1}{2}"),
    (Mul(Pi(), Neg(x)), r"\pi\left(-x\right)"),
    (Mul(Sin(x), y), r"\sin\left(x\right)y"),
    (Mul(Pow(x, Pi()), y), r"x^{\pi}y"),
    (Mul(Var("a b"), x), r"a bx"),
    (Mul(Var(r"\alpha"), Var(r"\beta")), r"\alpha\beta"),
    (Add(Pi(), x), r"\pi + x"),
]

# The magnitude of the most negative 32-bit value does not fit 32 bits; it is written exactly.
EXTREME_INTEGERS: list[Case] = [
    (Int(INT_MIN), r"-2147483648"),
    (Int(2147483647), r"2147483647"),
    (Add(x, Int(INT_MIN)), r"x - 2147483648"),
    (Rational(INT_MIN, 1), r"-2147483648"),
    (Rational(INT_MIN, 3), r"-\frac{2147483648}{3}"),
    (Add(x, Rational(INT_MIN, 1)), r"x - 2147483648"),
    (Add(x, Rational(INT_MIN, 3)), r"x - \frac{2147483648}{3}"),
    (Neg(Int(INT_MIN)), r"--2147483648"),
    (Mul(Int(INT_MIN), x), r"-2147483648x"),
    (Pow(Int(INT_MIN), Int(2)), r"\left(-2147483648\right)^{2}"),
]

# An empty name writes nothing; the separators are decided on the texts that remain.
EMPTY_NAMES: list[Case] = [
    (empty, r""),
    (Mul(empty, Int(2)), r"2"),
    (Mul(Int(2), empty), r"2"),
    (Mul(empty, empty), r""),
    (Mul(Int(2), Mul(empty, empty)), r"2"),
    (Mul(Int(2), Mul(empty, Int(3))), r"2 \cdot 3"),
    (Mul(Mul(Int(2), empty), Int(3)), r"2 \cdot 3"),
    (Mul(Int(2), Mul(Int(1), Mul(empty, Int(3)))), r"2 \cdot 3"),
    (Mul(Mul(Int(2), Mul(empty, empty)), Int(3)), r"2 \cdot 3"),
    (Mul(Mul(empty, Int(2)), Mul(empty, Int(3))), r"2 \cdot 3"),
    (Mul(x, Mul(empty, Int(3))), r"x3"),
    (Add(empty, Int(1)), r" + 1"),
    (Neg(empty), r"-"),
    (Pow(empty, Int(2)), r"^{2}"),
]

# A right factor written side by side that begins with a minus sign goes in parentheses, or the
# product would read as a subtraction; between two numbers the " \cdot " keeps it apart.
NEGATIVE_RIGHT_FACTORS: list[Case] = [
    (Mul(x, Int(-3)), r"x\left(-3\right)"),
    (Mul(Pi(), Int(-3)), r"\pi\left(-3\right)"),
    (Mul(x, Mul(Int(-2), y)), r"x\left(-2y\right)"),
    (Mul(x, Mul(Int(-1), y)), r"x\left(-y\right)"),
    (Mul(x, Rational(-1, 2)), r"x\left(-\frac{1}{2}\right)"),
    (Mul(Int(2), Mul(Int(-1), x)), r"2\left(-x\right)"),
    (Mul(Int(2), Mul(Int(1), Int(-3))), r"2\left(-3\right)"),
    (Mul(Mul(Int(2), x), Int(-3)), r"2x\left(-3\right)"),
    (Mul(x, Var("-y")), r"x\left(-y\right)"),
    (Mul(x, Mul(Mul(Int(-2), y), Int(-3))), r"x\left(-2y\left(-3\right)\right)"),
    (Mul(x, Mul(empty, Int(-3))), r"x\left(-3\right)"),
    (Mul(empty, Int(-3)), r"\left(-3\right)"),
    (Mul(Int(2), Mul(empty, Int(-3))), r"2\left(-3\right)"),
    (Mul(Mul(x, Int(-3)), y), r"x\left(-3\right)y"),
    # unchanged
    (Mul(Int(2), Int(-3)), r"2 \cdot -3"),
    (Mul(Rational(1, 2), Int(-3)), r"\frac{1}{2} \cdot -3"),
    (Mul(Int(-3), x), r"-3x"),
    (Mul(x, Neg(Int(3))), r"x\left(-3\right)"),
    (Mul(x, Pow(Int(-3), Int(2))), r"x\left(-3\right)^{2}"),
    (Add(x, Mul(Int(-2), y)), r"x + -2y"),
]

NON_ASCII_NAMES: list[Case] = [
    (Var("θ"), r"θ"),
    (Mul(Int(2), Var("θ")), r"2θ"),
    (Mul(Var("θ"), Int(2)), r"θ2"),
    (Pow(Var("α"), Int(2)), r"α^{2}"),
    (Add(Var("é"), Neg(Var("ü"))), r"é - ü"),
    (Sin(Mul(Var("ω"), Var("t"))), r"\sin\left(ωt\right)"),
]

ALL_TABLES: dict[str, list[Case]] = {
    "reference": REFERENCE,
    "control_word_joins": CONTROL_WORD_JOINS,
    "extreme_integers": EXTREME_INTEGERS,
    "empty_names": EMPTY_NAMES,
    "negative_right_factors": NEGATIVE_RIGHT_FACTORS,
    "non_ascii_names": NON_ASCII_NAMES,
}


# Random trees over leaves chosen to meet every separator rule: digits, control words,
# empty and non-ASCII names, extreme integers.
NAMES = ["x", "y", "", "θ", r"\alpha", "a1", "2", r"b\pi", "-z"]


def leaves(names: list[str]) -> st.SearchStrategy[Expr]:
    ints = st.sampled_from([-2147483648, 2147483647, -3, -1, 0, 1, 2, 10]) | st.integers(-20, 20)
    return st.one_of(
        st.builds(Int, ints),
        st.builds(Var, st.sampled_from(names)),
        st.builds(Rational, st.integers(-6, 6), st.sampled_from([1, 2, 3, -1, -4])),
        st.builds(Pi),
        st.builds(E),
    )


def trees(names: list[str] = NAMES) -> st.SearchStrategy[Expr]:
    def extend(children: st.SearchStrategy[Expr]) -> st.SearchStrategy[Expr]:
        unary = st.sampled_from([Neg, Sqrt, Cbrt, Sin, Cos, Tan, Log])
        binary = st.sampled_from([Add, Mul, Mul, Mul, Div, Pow])
        return st.one_of(
            st.builds(lambda k, c: k(c), unary, children),
            st.builds(lambda k, a, b: k(a, b), binary, children, children),
        )

    return st.recursive(leaves(names), extend, max_leaves=12)
