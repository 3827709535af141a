"""Tree workloads: building big trees from Python (B8) and rendering them as LaTeX (B9)."""

from __future__ import annotations

import random
from collections.abc import Callable
from typing import Any

from systems import PLAIN, SLOTS, SYMENGINE, SYMPY, TAVRELO, load

# --- B8: the floor any binding is measured against -----------------------------------------------


class SlotInt:
    __slots__ = ("value",)

    def __init__(self, value: int) -> None:
        self.value = value


class SlotAdd:
    __slots__ = ("left", "right")

    def __init__(self, left: object, right: object) -> None:
        self.left = left
        self.right = right


def constructors(system: str) -> tuple[Callable[[int], Any], Callable[[Any, Any], Any]]:
    if system == SLOTS:
        return SlotInt, SlotAdd
    tv = load(system)
    assert tv is not None and system in (TAVRELO, PLAIN)
    return tv.Int, tv.Add


def build_balanced(system: str, nodes: int) -> object:
    """A balanced sum of ceil(nodes/2) integers: 2*leaves-1 nodes, built level by level."""
    make_int, make_add = constructors(system)
    level = [make_int(i & 1023) for i in range((nodes + 1) // 2)]
    while len(level) > 1:
        paired = [make_add(level[i], level[i + 1]) for i in range(0, len(level) - 1, 2)]
        if len(level) % 2:
            paired.append(level[-1])
        level = paired
    return level[0]


def build_chain(system: str, nodes: int) -> object:
    """A left-deep chain ((0 + 1) + 2) + ... of the same size."""
    make_int, make_add = constructors(system)
    expr = make_int(0)
    for i in range(1, (nodes + 1) // 2):
        expr = make_add(expr, make_int(i & 1023))
    return expr


# --- B9: a random tree, the same in every system --------------------------------------------------

# No negation and no logarithm: a sum that cancels to 0, or ln(1), would make a peer's canonical
# form divide by zero and refuse the tree; without them no subtree can be zero.
_BINARY = ("add", "add", "mul", "mul", "div")
_UNARY = ("pow", "sin", "cos", "sqrt")


def random_program(nodes: int, seed: int = 5) -> list[tuple[str, int]]:
    """A random tree of `nodes` nodes as a postfix program of (operation, argument) pairs.

    Splits are uniform, so the depth stays logarithmic-ish (rendering in the peers recurses).
    A power counts two nodes: the power and its integer exponent.
    """
    rng = random.Random(seed)
    program: list[tuple[str, int]] = []
    tasks: list[tuple[str, int]] = [("gen", nodes)]
    while tasks:
        what, n = tasks.pop()
        if what == "emit":
            program.append(_decode(n))
            continue
        if n == 1:
            if rng.random() < 0.7:
                program.append(("var", rng.randrange(100)))
            else:
                program.append(("int", rng.randrange(1, 10)))
            continue
        if n >= 3 and rng.random() < 0.7:
            op = rng.choice(_BINARY)
            left = rng.randrange(1, n - 1)
            tasks.append(("emit", _encode(op, 0)))
            tasks.append(("gen", n - 1 - left))
            tasks.append(("gen", left))
            continue
        op = rng.choice(_UNARY if n >= 3 else _UNARY[1:])
        if op == "pow":
            tasks.append(("emit", _encode(op, rng.randrange(2, 5))))
            tasks.append(("gen", n - 2))
        else:
            tasks.append(("emit", _encode(op, 0)))
            tasks.append(("gen", n - 1))
    return program


_OPS = _BINARY + _UNARY


def _encode(op: str, arg: int) -> int:
    return _OPS.index(op) * 16 + arg


def _decode(code: int) -> tuple[str, int]:
    return _OPS[code // 16], code % 16


def build_program(system: str, program: list[tuple[str, int]]) -> object:
    """Replays a postfix program with the system's constructors."""
    ops = _tavrelo_ops() if system == TAVRELO else _symbolic_ops(system)
    stack: list[object] = []
    for op, arg in program:
        if op in ("var", "int", "pow"):
            if op == "pow":
                stack.append(ops[op](stack.pop(), arg))
            else:
                stack.append(ops[op](arg))
        elif op in _BINARY:
            right = stack.pop()
            stack.append(ops[op](stack.pop(), right))
        else:
            stack.append(ops[op](stack.pop()))
    assert len(stack) == 1
    return stack[0]


def _tavrelo_ops() -> dict[str, Callable[..., object]]:
    tv = load(TAVRELO)
    assert tv is not None
    names = [tv.Var(f"x{k}") for k in range(100)]
    return {
        "var": lambda k: names[k],
        "int": tv.Int,
        "add": tv.Add,
        "mul": tv.Mul,
        "div": tv.Div,
        "pow": lambda b, k: tv.Pow(b, tv.Int(k)),
        "sin": tv.Sin,
        "cos": tv.Cos,
        "sqrt": tv.Sqrt,
    }


def _symbolic_ops(system: str) -> dict[str, Callable[..., object]]:
    mod = load(system)
    assert mod is not None and system in (SYMENGINE, SYMPY)
    names = [mod.Symbol(f"x{k}") for k in range(100)]
    return {
        "var": lambda k: names[k],
        "int": mod.Integer,
        "add": lambda a, b: a + b,
        "mul": lambda a, b: a * b,
        "div": lambda a, b: a / b,
        "pow": lambda b, k: b**k,
        "sin": mod.sin,
        "cos": mod.cos,
        "sqrt": mod.sqrt,
    }


def latex_of(system: str) -> Callable[[object], str]:
    if system == TAVRELO:
        return lambda e: e.to_string()  # type: ignore[attr-defined]
    mod = load(system)
    assert mod is not None and system in (SYMENGINE, SYMPY)
    return mod.latex
