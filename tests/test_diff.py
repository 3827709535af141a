"""diff: textbook derivatives to the byte, orders, the variable argument and the errors."""

import pytest

from tavrelo import Add, Cbrt, Cos, Div, E, Int, Log, Mul, Neg, Pi, Pow, Rational, Sin, Sqrt
from tavrelo import Tan, Var, diff, simplify

x, a, n = Var("x"), Var("a"), Var("n")
I = Int


def P(base, exp):
    return Pow(base, I(exp) if isinstance(exp, int) else exp)


def S(*terms):
    """A left-nested sum."""
    total = terms[0]
    for t in terms[1:]:
        total = Add(total, t)
    return total


TEXTBOOK = [
    # polynomials
    (P(x, 3), "3x^{2}"),
    (Mul(I(3), P(x, 2)), "6x"),
    (S(Mul(I(3), P(x, 4)), Neg(Mul(I(2), P(x, 2))), Mul(I(5), x), I(-7)), "12x^{3} - 4x + 5"),
    (Mul(Rational(1, 3), P(x, 3)), "x^{2}"),
    (Div(P(x, 3), I(6)), "\\frac{1}{2}x^{2}"),
    (Neg(P(x, 5)), "-5x^{4}"),
    (Mul(Pi(), P(x, 2)), "2\\pi x"),
    (P(x, n), "nx^{n - 1}"),
    # products
    (Mul(x, Sin(x)), "\\sin\\left(x\\right) + x\\cos\\left(x\\right)"),
    (Mul(P(x, 2), Sin(x)), "2x\\sin\\left(x\\right) + x^{2}\\cos\\left(x\\right)"),
    (Mul(x, P(E(), x)), "e^{x} + xe^{x}"),
    (Mul(Sin(x), Cos(x)), "\\cos\\left(x\\right)^{2} - \\sin\\left(x\\right)^{2}"),
    (Mul(P(x, 2), P(x, 3)), "5x^{4}"),
    (Mul(x, Log(x)), "\\ln\\left(x\\right) + 1"),
    (Mul(Sqrt(x), Log(x)), "\\frac{\\ln\\left(x\\right)}{2\\sqrt{x}} + \\frac{1}{\\sqrt{x}}"),
    # quotients: polynomial numerators are collected
    (Div(I(1), x), "-\\frac{1}{x^{2}}"),
    (Div(I(1), S(P(x, 2), I(1))), "-\\frac{2x}{\\left(x^{2} + 1\\right)^{2}}"),
    (Div(x, S(x, I(1))), "\\frac{1}{\\left(x + 1\\right)^{2}}"),
    (Div(S(P(x, 2), I(1)), S(x, I(-1))), "\\frac{x^{2} - 2x - 1}{\\left(x - 1\\right)^{2}}"),
    (Div(S(Mul(I(2), x), I(3)), S(P(x, 2), I(1))),
     "-\\frac{2\\left(x^{2} + 3x - 1\\right)}{\\left(x^{2} + 1\\right)^{2}}"),
    (Div(x, P(S(x, I(1)), 2)), "-\\frac{x - 1}{\\left(x + 1\\right)^{3}}"),
    (Div(Sin(x), x), "\\frac{x\\cos\\left(x\\right) - \\sin\\left(x\\right)}{x^{2}}"),
    (Div(Log(x), P(x, 2)), "\\frac{1 - 2\\ln\\left(x\\right)}{x^{3}}"),
    (Div(P(x, 2), Pi()), "\\frac{2x}{\\pi}"),
    # negative and rational exponents, roots
    (P(x, -2), "-2x^{-3}"),
    (P(x, Rational(3, 2)), "\\frac{3}{2}x^{\\frac{1}{2}}"),
    (P(x, Rational(-1, 2)), "-\\frac{1}{2}x^{-\\frac{3}{2}}"),
    (Sqrt(x), "\\frac{1}{2\\sqrt{x}}"),
    (Sqrt(S(P(x, 2), I(1))), "\\frac{x}{\\sqrt{x^{2} + 1}}"),
    (Cbrt(x), "\\frac{1}{3\\sqrt[3]{x}^{2}}"),
    (Div(I(1), Sqrt(x)), "-\\frac{1}{2x\\sqrt{x}}"),
    # chain rule: the inner derivative first, numbers folded in front
    (P(S(P(x, 2), I(1)), 5), "10x\\left(x^{2} + 1\\right)^{4}"),
    (P(Mul(I(2), x), 3), "24x^{2}"),
    (Sin(Mul(I(2), x)), "2\\cos\\left(2x\\right)"),
    (Sin(P(x, 2)), "2x\\cos\\left(x^{2}\\right)"),
    (Cos(S(P(x, 2), x)), "-\\left(2x + 1\\right)\\sin\\left(x^{2} + x\\right)"),
    (Tan(x), "\\frac{1}{\\cos\\left(x\\right)^{2}}"),
    (Tan(P(x, 2)), "\\frac{2x}{\\cos\\left(x^{2}\\right)^{2}}"),
    (P(Sin(x), 3), "3\\cos\\left(x\\right)\\sin\\left(x\\right)^{2}"),
    # logarithms and exponentials
    (Log(x), "\\frac{1}{x}"),
    (Log(Mul(I(2), x)), "\\frac{1}{x}"),
    (Log(P(x, 2)), "\\frac{2}{x}"),
    (Log(S(P(x, 2), I(1))), "\\frac{2x}{x^{2} + 1}"),
    (P(E(), x), "e^{x}"),
    (P(E(), Neg(x)), "-e^{-x}"),
    (P(E(), P(x, 2)), "2xe^{x^{2}}"),
    (P(I(2), x), "2^{x}\\ln\\left(2\\right)"),
    (P(I(2), Mul(I(3), x)), "3 \\cdot 2^{3x}\\ln\\left(2\\right)"),
    (P(a, x), "a^{x}\\ln\\left(a\\right)"),
    (P(x, x), "x^{x}\\left(\\ln\\left(x\\right) + 1\\right)"),
    # compositions three deep
    (Sin(Cos(Log(x))),
     "-\\frac{\\sin\\left(\\ln\\left(x\\right)\\right)\\cos\\left(\\cos\\left(\\ln\\left(x\\right)"
     "\\right)\\right)}{x}"),
    (P(E(), Sin(P(x, 2))), "2x\\cos\\left(x^{2}\\right)e^{\\sin\\left(x^{2}\\right)}"),
    (Log(Cos(P(x, 2))), "-\\frac{2x\\sin\\left(x^{2}\\right)}{\\cos\\left(x^{2}\\right)}"),
]


@pytest.mark.parametrize(("tree", "expected"), TEXTBOOK, ids=[t.to_string() for t, _ in TEXTBOOK])
def test_textbook_derivative(tree, expected):
    assert diff(tree, x).to_string() == expected


HIGHER = [
    (P(x, 3), 2, "6x"),
    (P(x, 3), 3, "6"),
    (P(x, 3), 4, "0"),
    (Sin(Mul(I(2), x)), 2, "-4\\sin\\left(2x\\right)"),
    (Sin(Mul(I(2), x)), 3, "-8\\cos\\left(2x\\right)"),
    (Log(x), 3, "\\frac{2}{x^{3}}"),
    (Tan(x), 2, "\\frac{2\\sin\\left(x\\right)}{\\cos\\left(x\\right)^{3}}"),
    (S(P(x, 2), I(1)), 0, "x^{2} + 1"),
]


@pytest.mark.parametrize(("tree", "order", "expected"), HIGHER)
def test_higher_orders(tree, order, expected):
    assert diff(tree, "x", order).to_string() == expected
    assert diff(tree, x, n=order).to_string() == expected


@pytest.mark.parametrize("tree", [Int(5), Pi(), Mul(a, Sin(a)), Div(E(), Log(a)), P(a, Var("b"))])
def test_absent_variable_gives_int_zero(tree):
    result = diff(tree, x)
    assert type(result) is Int and result.value() == 0


def test_order_may_be_any_integer_type():
    class Two:
        def __index__(self):
            return 2

    assert diff(P(x, 3), x, Two()).to_string() == "6x"


def test_none_and_order_zero():
    assert diff(None, "x") is None
    tree = Add(Mul(Int(1), x), Int(0))
    assert diff(tree, "x", 0).to_string() == simplify(tree).to_string() == "x"


@pytest.mark.parametrize(
    ("args", "error", "text"),
    [
        (("x", "x"), TypeError, "expr"),
        ((x, 3), TypeError, "var"),
        ((x, Int(1)), TypeError, "var"),
        ((x, "x", 1.0), TypeError, "n"),
        ((x, "x", True), TypeError, "n"),
        ((x, "x", -1), ValueError, "0 以上"),
        ((x, "x", 2**31), ValueError, "大きすぎます"),
        ((None, 3), TypeError, "var"),
    ],
)
def test_bad_arguments(args, error, text):
    with pytest.raises(error, match=text):
        diff(*args)


@pytest.mark.parametrize(
    ("tree", "message"),
    [
        (Mul(x, Div(Int(1), Add(Int(1), Int(-1)))), "ゼロ除算エラー"),
        (Mul(Sqrt(Int(-4)), x), "負の数の平方根はサポートされていません。"),
        (Add(Tan(Div(Pi(), Int(2))), x), "tan(pi/2) は定義されていません"),
        (P(x, -(2**31)), "整数オーバーフローエラー"),  # the exponent g - 1
        (Mul(Int(2**30), P(x, 3)), "整数オーバーフローエラー"),  # the coefficient 3 * 2^30
    ],
)
def test_errors_are_the_simplifiers(tree, message):
    with pytest.raises(ValueError) as caught:
        diff(tree, x)
    assert str(caught.value) == message

