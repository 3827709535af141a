"""Compact structural text of a tree, in constructor notation: Div(Sqrt(Int(2)),Int(2))."""

from node_classes import BINARY, UNARY
from tavrelo import E, Int, Pi, Rational, Var

__all__ = ["BINARY", "UNARY", "children", "shape"]


def shape(e) -> str:
    kind = type(e)
    if kind is Int:
        return f"Int({e.value()})"
    if kind is Var:
        return f"Var({e.name()})"
    if kind is Rational:
        return f"Rational({e.num()},{e.den()})"
    if kind in (Pi, E):
        return kind.__name__
    if kind in UNARY:
        return f"{kind.__name__}({shape(e.operand())})"
    first, second = BINARY[kind]
    return f"{kind.__name__}({shape(getattr(e, first)())},{shape(getattr(e, second)())})"


def children(e) -> list:
    kind = type(e)
    if kind in UNARY:
        return [e.operand()]
    if kind in BINARY:
        first, second = BINARY[kind]
        return [getattr(e, first)(), getattr(e, second)()]
    return []
