"""subs: one pass, simultaneous, sharing what it does not change, refusing bad mappings."""

import pytest

from tavrelo import Add, Cos, Div, Int, Mul, Neg, Pow, Sin, Var, evaluate, subs

x, y, z = Var("x"), Var("y"), Var("z")

# (tree, mapping, LaTeX of the result)
CASES = [
    (Add(Pow(x, Int(2)), y), {"x": Add(y, Int(1))}, r"\left(y + 1\right)^{2} + y"),
    (Add(x, y), {"x": y, "y": x}, "y + x"),  # simultaneous: a swap
    (Mul(x, Sin(x)), {x: Int(0)}, r"0\sin\left(0\right)"),  # Var keys; nothing simplified
    (Div(x, y), {"y": 3, "x": -2147483648}, r"\frac{-2147483648}{3}"),  # ints become Int
    (Neg(Cos(z)), {"x": Int(1)}, r"-\cos\left(z\right)"),
]


@pytest.mark.parametrize(("tree", "mapping", "latex"), CASES)
def test_subs(tree, mapping, latex):
    assert subs(tree, mapping).to_string() == latex


def test_unchanged_parts_are_the_inputs_own_nodes():
    kept = Sin(Mul(y, z))
    tree = Add(kept, x)
    assert subs(tree, {"w": Int(1)}) is tree
    assert subs(tree, {}) is tree
    assert subs(tree, {"x": Int(1)}).left() is kept
    assert subs(None, {"x": Int(1)}) is None


def test_a_shared_node_is_rebuilt_once():
    e = x
    for _ in range(60):  # 2^60 leaves in 61 nodes
        e = Add(e, e)
    r = subs(e, {"x": Int(3)})
    for _ in range(60):
        assert r.left() is r.right()
        r = r.left()
    assert r.to_string() == "3"
    assert evaluate(subs(e, {"x": y}), {"y": 1.0}) == 2.0**60


@pytest.mark.parametrize(
    ("mapping", "error", "text"),
    [
        ({"x": 2**31}, ValueError, "整数オーバーフローエラー"),
        ({"x": 1.5}, TypeError, "変数 x の値は Expr か int"),
        ({"x": True}, TypeError, "bool"),
        ({1: Int(1)}, TypeError, "変数名 \\(str\\) か Var"),
        ({Int(1): Int(1)}, TypeError, "Int が渡されました"),
        ({"x": Int(1), x: Int(2)}, ValueError, "変数 x が二度指定されています"),
        ([("x", Int(1))], TypeError, "dict などの対応表"),
    ],
)
def test_bad_mappings(mapping, error, text):
    with pytest.raises(error, match=text):
        subs(Add(x, y), mapping)


def test_deep_chain_in_main_and_thread(child_python):
    result = child_python(
        """
        e = Var("x")
        for _ in range(10**6):
            e = Sin(Add(e, Var("y")))
        def work():
            r = subs(e, {"y": Int(2)})
            assert r.operand().right().to_string() == "2"
            assert subs(e, {"z": Int(2)}) is e
        in_main_and_thread(work)
        """
    )
    assert result.returncode == 0, result.stderr[-2000:]
