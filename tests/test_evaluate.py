"""evaluate and compile: values in double precision at points and over NumPy arrays."""

import math
import random

import numpy as np
import pytest
from hypothesis import HealthCheck, assume, given, settings
from hypothesis import strategies as st
from test_properties import build, trees

from tavrelo import (
    Add,
    Cbrt,
    Cos,
    Div,
    E,
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
    compile,
    evaluate,
    subs,
)

x, y = Var("x"), Var("y")
HALF_PI = Div(Pi(), Int(2))

# (tree, x, the value) at one point
VALUES = [
    (Add(Rational(1, 3), Int(-2147483648)), 0, 1 / 3 - 2147483648),
    (Mul(Pi(), E()), 0, math.pi * math.e),
    (Cbrt(x), -27.0, -3.0),  # the real cube root
    (Log(Pow(E(), x)), 2.5, 2.5),  # e^x is exp(x), ln the natural log
    (Pow(x, Int(-3)), 2.0, 0.125),
    (Pow(x, Int(0)), 0.0, 1.0),
    (Pow(x, Rational(1, 2)), 6.25, 2.5),
    (Pow(Int(-8), Int(3)), 0, -512.0),
    (Pow(x, x), 2.0, 4.0),
    (Div(Sin(x), Cos(x)), 0.5, math.sin(0.5) / math.cos(0.5)),
    (Tan(x), 1.5707963267948, math.tan(1.5707963267948)),  # near a pole is not at it
    (Neg(Sqrt(Mul(x, x))), -3.0, -3.0),
    (Sin(x), float("nan"), float("nan")),  # a NaN given is no domain error
]

# (tree, x, the message at one point); arrays give NaN there
UNDEFINED = [
    (Sqrt(Add(x, Int(-2))), 1.0, r"負の数の平方根はサポートされていません。 \(\\sqrt\{x - 2\}\)"),
    (Log(x), 0.0, "0 以下の数の対数は定義されていません"),
    (Log(x), -1.0, "0 以下の数の対数は定義されていません"),
    (Div(Int(1), Add(x, Int(-1))), 1.0, "ゼロ除算エラー"),
    (Pow(x, Int(-2)), 0.0, "ゼロ除算エラー"),
    (Pow(x, Rational(-1, 2)), 0.0, "ゼロ除算エラー"),
    (Pow(x, Rational(1, 3)), -8.0, "負の数の非整数乗は定義されていません"),
    (Tan(x), math.pi / 2, r"tan\(pi/2\) は定義されていません"),
    (Tan(Mul(Int(3), HALF_PI)), 0, "tan"),  # constant parts too
    (Tan(Add(x, HALF_PI)), 0.0, "tan"),
    (Add(Pow(Sqrt(Int(-1)), Int(0)), x), 1.0, "平方根"),  # an undefined part stays undefined
]


@pytest.mark.parametrize(("tree", "at", "value"), VALUES)
def test_values(tree, at, value):
    got = evaluate(tree, {"x": at})
    assert type(got) is float
    assert got == pytest.approx(value, rel=1e-14, nan_ok=True)
    array = evaluate(tree, {"x": np.full(3, at)})
    assert array.dtype == np.float64 and array.shape == (3,)
    np.testing.assert_array_equal(array, got)


@pytest.mark.parametrize(("tree", "at", "message"), UNDEFINED)
def test_outside_the_domain(tree, at, message):
    with pytest.raises(ValueError, match=message):
        evaluate(tree, {"x": at})
    values = evaluate(tree, {"x": np.array([at, 3.0])})
    assert math.isnan(values[0])


@settings(max_examples=200, deadline=None, derandomize=True, database=None,
          suppress_health_check=[HealthCheck.too_slow, HealthCheck.filter_too_much])
@given(trees, st.randoms(use_true_random=False))
def test_arrays_agree_with_points_and_subs(desc, rng: random.Random):
    """Whatever the compiler folds, shares or reorders, the array runner, the point runner and
    evaluation after substitution give the same doubles, and NaN exactly where a point raises."""
    try:
        tree = build(desc)
    except ValueError:
        assume(False)
    n = 300  # more than one block of the array runner
    xs = np.array([rng.choice([0.0, 1.0, -1.0, math.pi / 2]) if rng.random() < 0.2
                   else rng.uniform(-3, 3) for _ in range(n)])
    ys = rng.uniform(-3, 3)
    grid = evaluate(tree, {"x": xs, "y": ys, "z": xs[::-1]})
    shifted = subs(tree, {"x": Neg(Var("t"))})
    for i in range(0, n, 7):
        point = {"x": float(xs[i]), "y": ys, "z": float(xs[n - 1 - i])}
        try:
            value = evaluate(tree, point)
        except ValueError:
            assert math.isnan(grid[i])
            continue
        assert value == grid[i] or (math.isnan(value) and math.isnan(grid[i]))
        again = evaluate(shifted, {"t": -point["x"], "y": ys, "z": point["z"]})
        assert again == value or (math.isnan(value) and math.isnan(again))


def test_broadcasting_and_layouts():
    f = Add(Mul(Int(10), x), y)
    rows = np.arange(3.0)[:, None]
    cols = np.arange(4, dtype=np.int32)  # any real dtype is read as float64
    grid = evaluate(f, {"x": rows, "y": cols})
    np.testing.assert_array_equal(grid, 10 * rows + cols)
    big = np.arange(600.0).reshape(20, 30)
    for view in (big.T, big[::-1, ::3], big[:, :1], np.asfortranarray(big)):
        np.testing.assert_array_equal(evaluate(f, {"x": view, "y": 0.5}), 10 * view + 0.5)
    assert evaluate(f, {"x": np.array(2.0), "y": 1}).shape == ()
    assert evaluate(f, {"x": np.zeros((0, 3)), "y": [1.0, 2.0, 3.0]}).shape == (0, 3)
    # Every value given takes part in the shape, used by the tree or not.
    np.testing.assert_array_equal(evaluate(Int(2), {"x": np.zeros(4)}), np.full(4, 2.0))
    with pytest.raises(ValueError, match=r"変数 x の形 \(3,\) と変数 y の形 \(4,\)"):
        evaluate(f, {"x": np.zeros(3), "y": np.zeros(4)})


@pytest.mark.parametrize(
    ("values", "error", "text"),
    [
        ({"x": 1.0}, ValueError, "変数 y の値が与えられていません"),
        ({"x": 1.0, "y": "2"}, TypeError, "変数 y の値は実数か"),
        ({"x": 1.0, "y": 1j}, TypeError, "complex"),
        ({"x": True, "y": 1.0}, TypeError, "bool"),
        ({"x": 1.0, "y": np.array([1j])}, TypeError, "変数 y の値を実数の配列にできません"),
        ({"x": 1.0, "y": 10**400}, ValueError, "変数 y の値を double にできません"),
        ({"x": 1.0, y: 2.0, "y": 3.0}, ValueError, "変数 y が二度指定されています"),
        ({"x": 1.0, Add(x, y): 2.0}, TypeError, "Add が渡されました"),
    ],
)
def test_bad_values(values, error, text):
    with pytest.raises(error, match=text):
        evaluate(Add(x, y), values)


def test_compile():
    f = compile(Add(Sin(x), Mul(Int(2), y)), ["x", y])
    assert f.variables == ("x", "y")
    assert f.expr.to_string() == r"\sin\left(x\right) + 2y"
    assert f(0, 1.5) == 3.0 and f(y=1.5, x=0) == 3.0
    np.testing.assert_array_equal(f(np.zeros(2), y=np.array([1.0, 2.0])), [2.0, 4.0])
    for call, text in [
        (lambda: f(1.0), "変数 y の値が与えられていません"),
        (lambda: f(1.0, 2.0, 3.0), "値が多すぎます"),
        (lambda: f(1.0, x=2.0), "変数 x に値が二度与えられました"),
        (lambda: f(1.0, w=2.0), "変数 w はこの式の変数一覧にありません"),
    ]:
        with pytest.raises(TypeError, match=text):
            call()
    with pytest.raises(ValueError, match="変数 y の値が与えられていません"):
        compile(Add(x, y), ["x"])
    with pytest.raises(TypeError, match="名前の並び"):
        compile(x, "x")


def test_scalars_without_numpy(child_python):
    result = child_python(
        """
        import sys
        sys.modules["numpy"] = None  # as if it were not installed
        import tavrelo
        assert evaluate(Add(Var("x"), Int(1)), {"x": 2}) == 3.0
        try:
            evaluate(Var("x"), {"x": [1.0, 2.0]})
        except ImportError as error:
            assert "tavrelo[numpy]" in str(error)
        else:
            raise AssertionError("no ImportError")
        """
    )
    assert result.returncode == 0, result.stderr[-2000:]
    imports = child_python("import sys; evaluate(Var('x'), {'x': 1}); assert 'numpy' not in sys.modules")
    assert imports.returncode == 0, imports.stderr[-2000:]


def test_deep_and_shared_trees(child_python):
    result = child_python(
        """
        import numpy as np
        chain = Var("x")
        for _ in range(10**6):
            chain = Neg(Sin(chain))
        dag = Var("x")
        for _ in range(60):
            dag = Add(dag, dag)
        def work():
            assert evaluate(chain, {"x": 0.0}) == 0.0
            assert evaluate(chain, {"x": np.zeros(3)}).tolist() == [0.0] * 3
            assert evaluate(dag, {"x": 1}) == 2.0**60
        in_main_and_thread(work)
        """
    )
    assert result.returncode == 0, result.stderr[-2000:]
