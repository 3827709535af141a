"""Tavrelo: expression trees for high-school calculus, printed as LaTeX, simplified and expanded."""

from ._tavrelo_core import (
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
    expand,
    simplify,
)
from ._tavrelo_tools import ParseError, parse, parse_latex
from ._tavrelo_tools import dumps, loads, same, structural_hash
from . import _pickling  # noqa: F401  (registers the node classes with copyreg)
from .sympy_bridge import from_sympy, to_sympy

__all__ = [
    "Expr",
    "Int",
    "Var",
    "Rational",
    "Neg",
    "Add",
    "Mul",
    "Div",
    "Pow",
    "Sqrt",
    "Pi",
    "E",
    "Cbrt",
    "Sin",
    "Cos",
    "Tan",
    "Log",
    "simplify",
    "expand",
    "to_sympy",
    "from_sympy",
    "same",
    "structural_hash",
    "dumps",
    "loads",
    "parse",
    "parse_latex",
    "ParseError",
]
