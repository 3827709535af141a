"""simplify: the rule lists, the handles it returns, its errors and exact 32-bit folding."""

import pytest
from simplify_shapes import shape

import tavrelo
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
    simplify,
)

x = Var("x")
MIN = -(2**31)
MAX = 2**31 - 1

ZERO_DIVISION = "ゼロ除算エラー"
NEGATIVE_ROOT = "負の数の平方根はサポートされていません。"
TAN_POLE = "tan(pi/2) は定義されていません"
OVERFLOW = "整数オーバーフローエラー"


def quarter_pi(n):
    return Div(Pi(), Int(n))


RESULTS = [
    # sums, products, quotients, powers, negation
    (Add(Int(2), Int(3)), "Int(5)"),
    (Add(x, x), "Mul(Int(2),Var(x))"),
    (Add(Rational(1, 2), Rational(1, 3)), "Add(Rational(1,2),Rational(1,3))"),
    (Add(x, Neg(x)), "Add(Var(x),Neg(Var(x)))"),
    (Add(Int(3), Int(0)), "Int(3)"),
    (Add(Sin(x), Sin(x)), "Mul(Int(2),Sin(Var(x)))"),
    (Mul(x, Int(0)), "Int(0)"),
    (Mul(Int(0), Div(x, Int(2))), "Int(0)"),
    (Mul(Int(3), Int(4)), "Int(12)"),
    (Mul(Int(2), Rational(1, 2)), "Mul(Int(2),Rational(1,2))"),
    (Mul(x, x), "Mul(Var(x),Var(x))"),
    (Div(Int(6), Int(3)), "Int(2)"),
    (Div(Int(6), Int(4)), "Rational(3,2)"),
    (Div(Int(3), Int(-6)), "Rational(-1,2)"),
    (Div(Int(-7), Int(7)), "Int(-1)"),
    (Div(x, x), "Int(1)"),
    (Div(x, Int(1)), "Div(Var(x),Int(1))"),
    (Div(Int(0), x), "Int(0)"),
    (Div(Int(1), Sqrt(Int(2))), "Div(Sqrt(Int(2)),Int(2))"),
    (Div(Int(6), Sqrt(Int(3))), "Div(Mul(Int(6),Sqrt(Int(3))),Int(3))"),
    (Div(x, Sqrt(Int(8))), "Div(Var(x),Mul(Int(2),Sqrt(Int(2))))"),
    (Div(Sqrt(Int(2)), Sqrt(Int(2))), "Int(1)"),
    (Div(x, Sqrt(x)), "Div(Var(x),Sqrt(Var(x)))"),
    (Pow(x, Int(0)), "Int(1)"),
    (Pow(Int(0), Int(0)), "Int(1)"),
    (Pow(Int(2), Int(10)), "Int(1024)"),
    (Pow(Int(2), Int(-3)), "Rational(1,8)"),
    (Pow(Int(-2), Int(-3)), "Rational(-1,8)"),
    (Pow(Int(-1), Int(-3)), "Rational(-1,1)"),
    (Pow(Int(0), Int(-1)), "Int(0)"),
    (Pow(x, Add(Int(1), Int(1))), "Pow(Var(x),Int(2))"),
    (Pow(Rational(1, 2), Int(2)), "Pow(Rational(1,2),Int(2))"),
    (Neg(Int(5)), "Int(-5)"),
    (Neg(Rational(3, 4)), "Rational(-3,4)"),
    (Neg(Neg(Int(5))), "Int(5)"),
    (Neg(Neg(Neg(x))), "Neg(Var(x))"),
    (Neg(Add(x, Int(0))), "Neg(Var(x))"),
    # square and cube roots
    (Sqrt(Int(0)), "Int(0)"),
    (Sqrt(Int(1)), "Int(1)"),
    (Sqrt(Int(16)), "Int(4)"),
    (Sqrt(Int(12)), "Mul(Int(2),Sqrt(Int(3)))"),
    (Sqrt(Int(72)), "Mul(Int(6),Sqrt(Int(2)))"),
    (Sqrt(Int(7)), "Sqrt(Int(7))"),
    (Sqrt(Int(MAX)), f"Sqrt(Int({MAX}))"),
    (Sqrt(Int(2147395600)), "Int(46340)"),
    (Sqrt(Rational(1, 4)), "Sqrt(Rational(1,4))"),
    (Sqrt(Pow(x, Int(2))), "Sqrt(Pow(Var(x),Int(2)))"),
    (Cbrt(Int(-27)), "Int(-3)"),
    (Cbrt(Int(1000)), "Int(10)"),
    (Cbrt(Int(16)), "Cbrt(Int(16))"),
    (Cbrt(Int(-1)), "Int(-1)"),
    (Cbrt(Int(MIN)), f"Cbrt(Int({MIN}))"),
    (Cbrt(Int(2146689000)), "Int(1290)"),
    (Cbrt(Pow(x, Int(6))), "Cbrt(Pow(Var(x),Int(6)))"),
    (Cbrt(Pow(x, Add(Int(1), Int(2)))), "Var(x)"),
    # trigonometric special values
    (Sin(Int(0)), "Int(0)"),
    (Cos(Int(0)), "Int(1)"),
    (Tan(Int(0)), "Int(0)"),
    (Sin(Pi()), "Int(0)"),
    (Cos(Pi()), "Int(-1)"),
    (Tan(Pi()), "Int(0)"),
    (Sin(quarter_pi(1)), "Int(0)"),
    (Cos(quarter_pi(1)), "Int(-1)"),
    (Tan(quarter_pi(1)), "Int(0)"),
    (Sin(Div(Pi(), Add(Int(1), Int(1)))), "Int(1)"),
    (Cos(quarter_pi(2)), "Int(0)"),
    (Sin(quarter_pi(4)), "Div(Sqrt(Int(2)),Int(2))"),
    (Cos(quarter_pi(4)), "Div(Sqrt(Int(2)),Int(2))"),
    (Tan(quarter_pi(4)), "Int(1)"),
    (Sin(quarter_pi(6)), "Sin(Div(Pi,Int(6)))"),
    (Tan(quarter_pi(-2)), "Tan(Div(Pi,Int(-2)))"),
    (Cos(Neg(Pi())), "Cos(Neg(Pi))"),
    (Sin(Div(Mul(Int(3), Pi()), Int(4))), "Sin(Div(Mul(Int(3),Pi),Int(4)))"),
    (Sin(Mul(Int(2), Pi())), "Sin(Mul(Int(2),Pi))"),
    (Sin(E()), "Sin(E)"),
    # logarithms
    (Log(Int(1)), "Int(0)"),
    (Log(E()), "Int(1)"),
    (Log(Pow(E(), Int(1))), "Int(1)"),
    (Log(Int(0)), "Log(Int(0))"),
    (Log(Int(-3)), "Log(Int(-3))"),
    (Log(Pow(Int(2), x)), "Log(Pow(Int(2),Var(x)))"),
    (Log(Pow(E(), Add(x, Int(0)))), "Var(x)"),
]


@pytest.mark.parametrize(("expr", "want"), RESULTS, ids=[shape(e) for e, _ in RESULTS])
def test_results(expr, want):
    before = shape(expr)
    assert shape(simplify(expr)) == want
    assert shape(expr) == before


def grandchild_operand(e):
    return e.operand().operand()


# (input, handle that must come back): rules that return a child, and the leaves themselves.
y = Var("y")
zero = Int(0)
seven = Int(7)
half = Rational(4, 2)
pi = Pi()
IDENTITY = [
    (Add(Int(0), x), x),
    (Add(x, Int(0)), x),
    (Mul(Int(1), x), x),
    (Mul(x, Int(1)), x),
    (Neg(Neg(x)), x),
    (Pow(x, Int(1)), x),
    (Pow(zero, y), zero),
    (Pow(zero, Int(-1)), zero),
    (Cbrt(Pow(x, Int(3))), x),
    (Log(Pow(E(), y)), y),
    (x, x),
    (pi, pi),
    (half, half),
    (seven, seven),
]


@pytest.mark.parametrize(("expr", "handle"), IDENTITY, ids=[shape(e) for e, _ in IDENTITY])
def test_returns_the_given_handle(expr, handle):
    assert simplify(expr) is handle


def test_non_leaf_results_are_new_nodes_over_shared_leaves():
    for expr in (Add(x, y), Sqrt(seven), Sin(x), Pow(x, y), Div(x, y), Neg(x)):
        result = simplify(expr)
        assert result is not expr
        assert shape(result) == shape(expr)
    assert simplify(Sqrt(seven)).operand() is seven
    assert simplify(Add(x, x)).right() is x
    assert simplify(Add(x, y)).left() is x


def test_result_types_are_the_most_derived_classes():
    for expr, cls in [
        (Sqrt(Int(12)), Mul),
        (Div(Int(6), Int(4)), Rational),
        (Sin(quarter_pi(4)), Div),
        (Add(x, y), Add),
        (Log(x), Log),
        (Neg(Int(1)), Int),
    ]:
        result = simplify(expr)
        assert type(result) is cls
        assert isinstance(result, Expr)


def test_none_gives_none():
    assert simplify(None) is None


def test_binding_metadata():
    assert tavrelo.simplify.__doc__.strip().endswith("数式を簡略化する")
    assert simplify(expr=Add(Int(1), Int(1))).value() == 2


# The first error of a children-first, left-to-right walk is the one raised.
ERRORS = [
    (Div(x, Add(Int(1), Int(-1))), ZERO_DIVISION),
    (Div(Int(0), Int(0)), ZERO_DIVISION),
    (Sqrt(Int(-4)), NEGATIVE_ROOT),
    (Sqrt(Neg(Int(4))), NEGATIVE_ROOT),
    (Sqrt(Int(MIN)), NEGATIVE_ROOT),
    (Tan(quarter_pi(2)), TAN_POLE),
    (Tan(Div(Pi(), Add(Int(1), Int(1)))), TAN_POLE),
    (Div(Sqrt(Int(-1)), Int(0)), NEGATIVE_ROOT),
    (Add(Div(x, Int(0)), Sqrt(Int(-1))), ZERO_DIVISION),
    (Add(Tan(quarter_pi(2)), Div(x, Int(0))), TAN_POLE),
    (Pow(Add(Int(MAX), Int(1)), Div(x, Int(0))), OVERFLOW),
    (Mul(Sqrt(Div(Int(-4), Int(1))), Tan(quarter_pi(2))), NEGATIVE_ROOT),
    (Sin(Div(Sqrt(Int(-2)), Int(0))), NEGATIVE_ROOT),
    (Neg(Div(Tan(quarter_pi(2)), Int(0))), TAN_POLE),
]


@pytest.mark.parametrize(("expr", "message"), ERRORS, ids=[shape(e) for e, _ in ERRORS])
def test_errors_in_walk_order(expr, message):
    with pytest.raises(ValueError) as caught:
        simplify(expr)
    assert str(caught.value) == message


# Folding is exact where the result fits signed 32 bits and an error where it does not.
OVERFLOW_TABLE = [
    (Add(Int(MAX), Int(1)), None),
    (Add(Int(MIN), Int(-1)), None),
    (Add(Int(MIN), Int(MAX)), "Int(-1)"),
    (Add(Int(MAX - 1), Int(1)), f"Int({MAX})"),
    (Mul(Int(65536), Int(32768)), None),
    (Mul(Int(-65536), Int(32768)), f"Int({MIN})"),
    (Mul(Int(MIN), Int(-1)), None),
    (Neg(Int(MIN)), None),
    (Neg(Int(MAX)), f"Int({-MAX})"),
    (Neg(Rational(MIN, 3)), None),
    (Neg(Rational(MAX, 2)), f"Rational({-MAX},2)"),
    (Neg(Rational(MIN, 2)), "Rational(1073741824,1)"),
    (Div(Int(MIN), Int(-1)), None),
    (Div(Int(MIN), Int(1)), f"Int({MIN})"),
    (Div(Int(MIN), Int(2)), "Int(-1073741824)"),
    (Div(Int(MIN), Int(-3)), None),
    (Div(Int(1), Int(MIN)), None),
    (Div(Int(2), Int(MIN)), "Rational(-1,1073741824)"),
    (Div(Int(MIN), Int(MIN)), "Int(1)"),
    (Pow(Int(2), Int(31)), None),
    (Pow(Int(-2), Int(31)), f"Int({MIN})"),
    (Pow(Int(46340), Int(2)), "Int(2147395600)"),
    (Pow(Int(46341), Int(2)), None),
    (Pow(Int(3), Int(MAX)), None),
    (Pow(Int(-1), Int(MAX)), "Int(-1)"),
    (Pow(Int(-1), Int(MIN)), "Rational(1,1)"),
    (Pow(Int(-1), Int(-MAX)), "Rational(-1,1)"),
    (Pow(Int(2), Int(-30)), "Rational(1,1073741824)"),
    (Pow(Int(2), Int(-31)), None),
    (Pow(Int(-2), Int(-31)), None),
    (Pow(Int(2), Int(-32)), None),
    (Pow(Int(2), Int(MIN)), None),
    (Pow(Int(MIN), Int(-1)), None),
    (Pow(Int(MAX), Int(-1)), f"Rational(1,{MAX})"),
    (Pow(Int(1), Int(MIN)), "Int(1)"),
    (Pow(Int(0), Int(MIN)), "Int(0)"),
]


@pytest.mark.parametrize(("expr", "want"), OVERFLOW_TABLE, ids=[shape(e) for e, _ in OVERFLOW_TABLE])
def test_overflow(expr, want):
    if want is None:
        with pytest.raises(ValueError, match=f"^{OVERFLOW}$"):
            simplify(expr)
    else:
        assert shape(simplify(expr)) == want


def test_shared_subtrees_simplify_once():
    e = x
    for _ in range(60):
        e = Add(e, e)
    result = simplify(e)
    for _ in range(60):
        assert type(result) is Mul and result.left().value() == 2
        result = result.right()
    assert result is x

    shared = Sin(x)
    product = simplify(Mul(shared, shared))
    assert product.left() is product.right()
