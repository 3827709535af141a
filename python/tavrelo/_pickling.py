"""Pickling, copying and sending trees to other processes.

The node classes keep the exact surface of the core module (no `__reduce__` of their own), so
each is registered with `copyreg` here: a node reduces to the bytes of `dumps`, which `loads`
reads back. One call handles the whole tree without recursion, at any depth, and shared subtrees
are written once and come back shared. `pickle`, `copy.deepcopy`, `multiprocessing` and
`concurrent.futures` all read the registry that `copyreg` keeps.
"""

import copyreg
from collections.abc import Callable

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
)
from ._tavrelo_tools import dumps, loads

NODE_CLASSES: tuple[type[Expr], ...] = (
    Int, Var, Rational, Neg, Add, Mul, Div, Pow, Sqrt, Pi, E, Cbrt, Sin, Cos, Tan, Log,
)  # fmt: skip


def rebuild(data: bytes) -> Expr:
    """The tree of a pickle. Pickles name this function as `tavrelo._pickling.rebuild`, so it
    keeps that name: a pybind11 function would be named through `builtins.eval`, which
    restricted unpicklers refuse."""
    return loads(data)


def _reduce(expr: Expr) -> tuple[Callable[[bytes], Expr], tuple[bytes]]:
    return rebuild, (dumps(expr),)


for _cls in NODE_CLASSES:
    copyreg.pickle(_cls, _reduce)
