"""same and structural_hash: what counts as the same tree, and hashes that never change."""

from collections.abc import Callable
from typing import Any

import pytest

from tavrelo import (
    Add,
    Cos,
    Div,
    E,
    Expr,
    Int,
    Mul,
    Neg,
    Pi,
    Pow,
    Rational,
    Sin,
    Sqrt,
    Var,
    same,
    structural_hash,
)


class NamedVar(Var):
    pass


def x() -> Expr:
    return Var("x")


# Pairs built separately: (a, b, same?)
PAIRS: list[tuple[str, Callable[[], Expr], Callable[[], Expr], bool]] = [
    ("ints", lambda: Int(1), lambda: Int(1), True),
    ("int values", lambda: Int(1), lambda: Int(2), False),
    ("str and bytes name", lambda: Var("θ"), lambda: Var("θ".encode()), True),
    ("names", lambda: Var("x"), lambda: Var("y"), False),
    ("name prefix", lambda: Var("x"), lambda: Var("x\x00"), False),
    ("reduced fractions", lambda: Rational(2, -4), lambda: Rational(-1, 2), True),
    ("int and fraction", lambda: Int(0), lambda: Rational(0, 1), False),
    ("negated literal", lambda: Int(-1), lambda: Neg(Int(1)), False),
    ("order of children", lambda: Add(x(), Int(1)), lambda: Add(Int(1), x()), False),
    ("classes of equal shape", lambda: Add(x(), x()), lambda: Mul(x(), x()), False),
    ("div and pow", lambda: Div(x(), Int(2)), lambda: Pow(x(), Int(2)), False),
    ("unary classes", lambda: Sin(x()), lambda: Cos(x()), False),
    ("constants", lambda: Pi(), lambda: E(), False),
    ("python subclass", lambda: NamedVar("x"), lambda: Var("x"), True),
    (
        "deeper difference",
        lambda: Add(Mul(Sqrt(Pi()), x()), Pow(E(), Rational(1, 3))),
        lambda: Add(Mul(Sqrt(Pi()), x()), Pow(E(), Rational(1, 4))),
        False,
    ),
    ("shared and unshared", lambda: (lambda s: Add(s, s))(Sin(x())), lambda: Add(Sin(x()), Sin(x())), True),
]


@pytest.mark.parametrize(("make_a", "make_b", "want"), [p[1:] for p in PAIRS], ids=[p[0] for p in PAIRS])
def test_same_and_hash(make_a: Callable[[], Expr], make_b: Callable[[], Expr], want: bool) -> None:
    a, b = make_a(), make_b()
    assert same(a, b) is want and same(b, a) is want and same(a, a)
    assert (structural_hash(a) == structural_hash(b)) is want


# --- the documented hash, written independently of the library ----------------------------------

M64 = 2**64 - 1
KINDS = [Int, Var, Rational, Neg, Add, Mul, Div, Pow, Sqrt, Pi, E]  # ExprKind order, as far as used


def mix64(v: int) -> int:
    v ^= v >> 30
    v = (v * 0xBF58476D1CE4E5B9) & M64
    v ^= v >> 27
    v = (v * 0x94D049BB133111EB) & M64
    return v ^ (v >> 31)


def absorb(h: int, *words: int) -> int:
    for w in words:
        h = mix64(h ^ (w & M64))
    return h


def reference_hash(e: Any) -> int:
    kind = next(k for k, cls in enumerate(KINDS) if type(e) is cls)
    seed = (kind + 1) * 0x9E3779B97F4A7C15 & M64
    if isinstance(e, Int):
        return absorb(seed, e.value())
    if isinstance(e, Var):
        name = e.name().encode()
        padded = name + bytes(-len(name) % 8)
        return absorb(seed, len(name), *(int.from_bytes(padded[i : i + 8], "little") for i in range(0, len(padded), 8)))
    if isinstance(e, Rational):
        return absorb(seed, e.num(), e.den())
    if isinstance(e, (Pi, E)):
        return mix64(seed)
    children = [e.operand()] if isinstance(e, (Neg, Sqrt)) else [getattr(e, n)() for n in CHILDREN[type(e)]]
    return absorb(seed, *map(reference_hash, children))


CHILDREN = {Add: ("left", "right"), Mul: ("left", "right"), Div: ("num", "den"), Pow: ("base", "exp")}

TREES: list[tuple[Callable[[], Expr], int | None]] = [
    (lambda: Int(0), 0xE220A8397B1DCDAF),
    (lambda: Int(-(2**31)), None),
    (lambda: Var("x"), 0x03026DD1A3F8C527),
    (lambda: Var(""), None),
    (lambda: Var("a_long_variable_name"), None),
    (lambda: Var("θ"), None),
    (lambda: Rational(-3, 4), None),
    (lambda: Pi(), None),
    (lambda: E(), None),
    (lambda: Add(Var("x"), Int(1)), 0xEE6E7AC529D13329),
    (lambda: Pow(Neg(Var("x")), Int(2)), None),
    (lambda: Div(Mul(Pi(), E()), Sqrt(Int(2))), None),
]


@pytest.mark.parametrize(("make", "value"), TREES)
def test_hash_is_the_documented_function(make: Callable[[], Expr], value: int | None) -> None:
    # Fixed for good: caches and partitions keyed by it outlive processes and releases.
    tree = make()
    assert structural_hash(tree) == reference_hash(tree)
    if value is not None:
        assert structural_hash(tree) == value


@pytest.mark.parametrize("fn", [lambda: same(None, Int(1)), lambda: same(Int(1), 1), lambda: structural_hash(None)])
def test_non_nodes_are_refused(fn: Callable[[], Any]) -> None:
    with pytest.raises(TypeError):
        fn()
