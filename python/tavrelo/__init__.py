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
from . import _tavrelo_tools  # noqa: F401  (the functions beyond the core; filled in below)
from ._tavrelo_tools import diff
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
    "diff",
    "to_sympy",
    "from_sympy",
]
