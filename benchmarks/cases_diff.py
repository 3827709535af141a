"""Derivatives D1-D4: tavrelo.diff against symengine.diff and sympy.diff on the same trees.

Every system builds the same input (untimed) and the timed part is one derivative. Results are
checked against each other by their value at one point, evaluated outside the timing; the
random trees of D4 reach values no double holds at any useful point, so there the property
tests against SymPy (tests/test_diff_properties.py) stand in for the check.

D1 differentiates the 4,845 monomials of B3's result, (x+y+z+w+1)^16 expanded, each with
coefficient 1: with B3's own coefficients the derivative has 2,690,688,000 z^3 y^3 x^3 w^3, which
leaves Tavrelo's 32-bit integers (diff raises its overflow error there, as every function does).

SymPy's diff grows faster than linearly on deep and on random trees (measured: the chain 0.8 s
at 50 levels, 5 s at 100, 30 s at 200; a random tree 4 s at 5,000 nodes, 68 s at 20,000), so the
full-size D2 and D4 would keep it busy for over half an hour: it runs their smaller rows.
"""

from __future__ import annotations

import cmath
import functools
import itertools
import operator
import sys
from collections.abc import Callable

import trees
from cases import Case, Prepared, Target
from systems import SYMENGINE, SYMPY, TAVRELO, count_terms, load

SYSTEMS = (TAVRELO, SYMENGINE, SYMPY)
TARGETS = (
    Target(SYMENGINE, 1.0, "faster than symengine.diff"),
    Target(SYMPY, 100.0, "100x faster than sympy.diff"),
)


def make_cases(quick: bool) -> list[Case]:
    degree = 6 if quick else 16
    depth, small_depth = (100, 30) if quick else (1000, 100)
    factors = 20 if quick else 100
    nodes, small_nodes = (5_000, 1_000) if quick else (100_000, 5_000)
    monomials = _monomials(degree)
    both = (TAVRELO, SYMENGINE)
    return [
        _case("D1 polynomial", f"d/dx of B3's {len(monomials):,} monomials",
              lambda s: _polynomial(s, monomials), "x", terms=True),
        _case("D2 chain", f"d/dx of sin(cos(sin(...x))), {depth} deep",
              lambda s: _chain(s, depth), "x", systems=both),
        _case("D2 chain, small", f"d/dx of sin(cos(sin(...x))), {small_depth} deep",
              lambda s: _chain(s, small_depth), "x"),
        _case("D3 product", f"d/dx of (x+1)(x+2)...(x+{factors}), unexpanded",
              lambda s: _product(s, factors), "x"),
        _case("D4 random", f"d/dx0 of a random {nodes:,}-node tree",
              lambda s: trees.build_program(s, _program(nodes)), "x0", systems=both,
              size=f"{nodes:,} nodes", at_point=False),
        _case("D4 random, small", f"d/dx0 of a random {small_nodes:,}-node tree",
              lambda s: trees.build_program(s, _program(small_nodes)), "x0",
              size=f"{small_nodes:,} nodes", at_point=False),
    ]


def _case(case_id: str, title: str, build: Callable[[str], object], var: str, *,
          systems: tuple[str, ...] = SYSTEMS, terms: bool = False, size: str = "",
          at_point: bool = True) -> Case:
    def prepare(system: str) -> Prepared:
        tree = build(system)
        run = _differentiator(system, tree, var)
        return Prepared(
            lambda reps: _last(reps, run),
            terms_of_result=(lambda r: count_terms(system, r)) if terms else None,
            value_of_result=(lambda r: _value(system, r)) if at_point else None,
        )

    targets = tuple(t for t in TARGETS if t.peer in systems)
    return Case(case_id, "D", title, size, systems, prepare=prepare, targets=targets)


def _differentiator(system: str, tree: object, var: str) -> Callable[[], object]:
    if system == TAVRELO:
        tv = load(TAVRELO)
        assert tv is not None
        return lambda: tv.diff(tree, var)
    mod = load(system)
    assert mod is not None
    symbol = mod.Symbol(var)
    if system == SYMENGINE:
        return lambda: mod.diff(tree, symbol)
    from sympy.core.cache import clear_cache

    def fresh() -> object:
        clear_cache()  # SymPy memoises; without this a repeat is a lookup
        return mod.diff(tree, symbol)

    sys.setrecursionlimit(max(sys.getrecursionlimit(), 100_000))  # its diff recurses per level
    return fresh


# --- the inputs ---------------------------------------------------------------------------------


def _monomials(degree: int) -> list[tuple[int, ...]]:
    """Exponents of z, y, x, w in (x+y+z+w+1)^degree, in a fixed order."""
    return [e for e in itertools.product(range(degree + 1), repeat=4) if sum(e) <= degree]


def _polynomial(system: str, monomials: list[tuple[int, ...]]) -> object:
    if system == TAVRELO:
        tv = load(TAVRELO)
        assert tv is not None
        names = [tv.Var(v) for v in "zyxw"]

        def term(e: tuple[int, ...]) -> object:
            factors = [v if k == 1 else tv.Pow(v, tv.Int(k)) for v, k in zip(names, e) if k]
            return functools.reduce(tv.Mul, factors) if factors else tv.Int(1)

        return functools.reduce(tv.Add, map(term, monomials))
    mod = load(system)
    assert mod is not None
    symbols = [mod.Symbol(v) for v in "zyxw"]
    return mod.Add(*(
        functools.reduce(operator.mul, (s**k for s, k in zip(symbols, e)), mod.Integer(1))
        for e in monomials
    ))


def _chain(system: str, depth: int) -> object:
    mod = load(system)
    assert mod is not None
    if system == TAVRELO:
        tree, sin, cos = mod.Var("x"), mod.Sin, mod.Cos
    else:
        tree, sin, cos = mod.Symbol("x"), mod.sin, mod.cos
    for level in range(depth):
        tree = sin(tree) if level % 2 == 0 else cos(tree)
    return tree


def _product(system: str, factors: int) -> object:
    mod = load(system)
    assert mod is not None
    if system == TAVRELO:
        x = mod.Var("x")
        return functools.reduce(mod.Mul, (mod.Add(x, mod.Int(k)) for k in range(1, factors + 1)))
    x = mod.Symbol("x")
    return functools.reduce(operator.mul, (x + k for k in range(1, factors + 1)))


@functools.cache
def _program(nodes: int) -> list[tuple[str, int]]:
    return trees.random_program(nodes)


# --- the value of a result at one point ---------------------------------------------------------


def _point(name: str) -> float:
    """Every variable's value: x0..x99 spread over (0.3, 1.3), the letters of D1-D3 below 1."""
    if name.startswith("x") and name[1:].isdigit():
        return 0.3 + int(name[1:]) / 100
    return {"x": 0.7, "y": 0.4, "z": 0.3, "w": 0.6}[name]


def _value(system: str, result: object) -> complex:
    if system == TAVRELO:
        return _tavrelo_value(result)
    mod = load(system)
    assert mod is not None
    point = {s: _point(str(s)) for s in result.free_symbols}  # type: ignore[attr-defined]
    if system == SYMENGINE:
        return complex(result.subs(point).n())  # type: ignore[attr-defined]
    return complex(result.evalf(subs=point))  # type: ignore[attr-defined]


def _tavrelo_value(root: object) -> complex:
    """Evaluates a Tavrelo tree at the point, each shared node once, without recursion."""
    tv = load(TAVRELO)
    assert tv is not None
    unary: dict[type, Callable[[complex], complex]] = {
        tv.Neg: operator.neg, tv.Sqrt: cmath.sqrt, tv.Sin: cmath.sin, tv.Cos: cmath.cos,
        tv.Tan: cmath.tan, tv.Log: cmath.log,
        tv.Cbrt: lambda v: complex(abs(v) ** (1 / 3) * (1 if v.real >= 0 else -1)),
    }
    binary: dict[type, tuple[str, str, Callable[[complex, complex], complex]]] = {
        tv.Add: ("left", "right", operator.add), tv.Mul: ("left", "right", operator.mul),
        tv.Div: ("num", "den", operator.truediv), tv.Pow: ("base", "exp", operator.pow),
    }
    values: dict[int, complex] = {}
    keep: list[object] = []  # keeps wrappers alive so that their ids stay unique
    stack: list[tuple[object, bool]] = [(root, False)]
    while stack:
        node, ready = stack.pop()
        if id(node) in values:
            continue
        kind = type(node)
        if kind in unary:
            child = node.operand()  # type: ignore[attr-defined]
            if ready:
                values[id(node)] = unary[kind](values[id(child)])
            else:
                stack += [(node, True), (child, False)]
                keep.append(child)
            continue
        if kind in binary:
            first, second, op = binary[kind]
            a, b = getattr(node, first)(), getattr(node, second)()
            if ready:
                values[id(node)] = op(values[id(a)], values[id(b)])
            else:
                stack += [(node, True), (b, False), (a, False)]
                keep += [a, b]
            continue
        values[id(node)] = _leaf_value(tv, node)
    return values[id(root)]


def _leaf_value(tv: object, node: object) -> complex:
    if isinstance(node, tv.Int):  # type: ignore[attr-defined]
        return complex(node.value())  # type: ignore[attr-defined]
    if isinstance(node, tv.Rational):  # type: ignore[attr-defined]
        return complex(node.num() / node.den())  # type: ignore[attr-defined]
    if isinstance(node, tv.Var):  # type: ignore[attr-defined]
        return complex(_point(node.name()))  # type: ignore[attr-defined]
    return complex(cmath.pi if isinstance(node, tv.Pi) else cmath.e)  # type: ignore[attr-defined]


def _last(reps: int, once: Callable[[], object]) -> object:
    result = None
    for _ in range(reps):
        result = once()
    return result
