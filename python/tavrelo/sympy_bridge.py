"""Conversions between Tavrelo trees and SymPy expressions.

SymPy is an optional dependency (``pip install tavrelo[sympy]``); it is imported only when one of
these functions is called, so ``import tavrelo`` works without it.

``to_sympy`` keeps the tree's shape by building SymPy objects with ``evaluate=False``: the binary
sums and products stay binary and in their order, ``sin(pi)`` stays ``sin(pi)``, ``x + 0`` keeps
its zero. Call ``.doit()`` on the result, or pass ``evaluate=True``, for SymPy's usual canonical
form. ``from_sympy`` reads SymPy's n-ary sums and products as left-nested binary nodes.

Both directions walk the tree with an explicit stack, so very deep trees convert without hitting
Python's recursion limit.
"""

from __future__ import annotations

from collections.abc import Callable, Sequence
from typing import TYPE_CHECKING, Any

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

if TYPE_CHECKING:
    import sympy

__all__ = ["to_sympy", "from_sympy"]

_INT_MIN = -(2**31)
_INT_MAX = 2**31 - 1

# One step of a conversion: the children to convert first, and how to combine their results.
_Step = tuple[Sequence[Any], Callable[[list[Any]], Any]]


def _import_sympy() -> Any:
    try:
        import sympy
    except ImportError as err:  # pragma: no cover - depends on the environment
        raise ImportError(
            "the SymPy bridge needs SymPy: install it with 'pip install tavrelo[sympy]'"
        ) from err
    return sympy


def _walk(root: Any, plan: Callable[[Any], _Step]) -> Any:
    """Post-order conversion with an explicit stack: ``plan(node)`` names the node's children and
    the function that builds the node's result from the children's results."""
    results: list[Any] = []
    pending: list[tuple[Any, Callable[[list[Any]], Any] | None, int]] = [(root, None, 0)]
    while pending:
        node, build, count = pending.pop()
        if build is not None:
            args = results[len(results) - count :]
            del results[len(results) - count :]
            results.append(build(args))
            continue
        children, build = plan(node)
        pending.append((node, build, len(children)))
        pending.extend((child, None, 0) for child in reversed(children))
    return results[0]


def to_sympy(expr: Expr, *, evaluate: bool = False) -> sympy.Expr:
    """Convert a Tavrelo tree into a SymPy expression.

    With ``evaluate=False`` (the default) the SymPy expression has the tree's shape, so that
    ``from_sympy(to_sympy(e))`` rebuilds ``e``. ``Div(a, b)`` becomes ``a * b**-1``, ``Neg(a)``
    becomes ``-1 * a``, ``Sqrt(a)`` is ``sqrt(a)``, ``Cbrt(a)`` is ``root(a, 3)`` (SymPy's principal
    cube root, which is the real cube root for a non-negative argument), ``Log`` is the natural
    ``log`` and ``Pow(E(), a)`` is ``exp(a)``.

    Raises TypeError when ``expr`` is not a Tavrelo node.
    """
    sp = _import_sympy()
    if not isinstance(expr, Expr):
        raise TypeError(f"to_sympy expects a Tavrelo node, not {type(expr).__name__}")
    ev = evaluate

    def plan(node: Expr) -> _Step:
        if isinstance(node, Int):
            value = sp.Integer(node.value())
            return (), lambda _: value
        if isinstance(node, Var):
            symbol = sp.Symbol(node.name())
            return (), lambda _: symbol
        if isinstance(node, Rational):
            fraction = sp.Rational(node.num(), node.den())
            return (), lambda _: fraction
        if isinstance(node, Pi):
            return (), lambda _: sp.pi
        if isinstance(node, E):
            return (), lambda _: sp.E
        if isinstance(node, Neg):
            return (node.operand(),), lambda a: sp.Mul(sp.S.NegativeOne, a[0], evaluate=ev)
        if isinstance(node, Add):
            return (node.left(), node.right()), lambda a: sp.Add(a[0], a[1], evaluate=ev)
        if isinstance(node, Mul):
            return (node.left(), node.right()), lambda a: sp.Mul(a[0], a[1], evaluate=ev)
        if isinstance(node, Div):
            return (node.num(), node.den()), lambda a: sp.Mul(
                a[0], sp.Pow(a[1], sp.S.NegativeOne, evaluate=ev), evaluate=ev
            )
        if isinstance(node, Pow):
            return (node.base(), node.exp()), lambda a: sp.Pow(a[0], a[1], evaluate=ev)
        if isinstance(node, Sqrt):
            return (node.operand(),), lambda a: sp.Pow(a[0], sp.S.Half, evaluate=ev)
        if isinstance(node, Cbrt):
            return (node.operand(),), lambda a: sp.Pow(a[0], sp.Rational(1, 3), evaluate=ev)
        for cls, func in ((Sin, sp.sin), (Cos, sp.cos), (Tan, sp.tan), (Log, sp.log)):
            if isinstance(node, cls):
                return (node.operand(),), lambda a, f=func: f(a[0], evaluate=ev)
        raise TypeError(f"to_sympy cannot convert a {type(node).__name__} node")

    result: sympy.Expr = _walk(expr, plan)
    return result


def from_sympy(obj: object) -> Expr:
    """Convert a SymPy expression into a Tavrelo tree.

    Sums and products become left-nested binary ``Add`` and ``Mul`` nodes in the order of SymPy's
    ``args``. A product led by the factor -1 becomes ``Neg``; another negative integer coefficient
    stays a negative ``Int``, so ``x - 2*y`` becomes ``Add(x, Mul(Int(-2), y))``. A product of two
    factors ``a * b**-1`` is ``Div(a, b)``; in other products the factors with a negative integer
    exponent form the denominator of a ``Div`` (``x/y**2`` is ``Div(x, Pow(y, Int(2)))``, and
    ``x/(2*y)``, whose factors are 1/2, x and 1/y, is ``Div(Mul(Rational(1, 2), x), y)``). A lone
    ``x**-1`` stays ``Pow(x, Int(-1))``. Integers become ``Int`` and fractions ``Rational``;
    ``sqrt``, ``root(.., 3)``, ``exp``, ``log``, ``sin``, ``cos``, ``tan``, ``pi`` and ``E`` map to
    their nodes, and a plain Python ``int`` is accepted as an integer.

    Raises ValueError naming the part that has no Tavrelo node (floats, ``I``, infinities,
    ``Abs``, undefined functions, ...) or an integer outside the signed 32-bit range.
    """
    sp = _import_sympy()
    if isinstance(obj, int) and not isinstance(obj, bool):
        obj = sp.Integer(obj)
    if not isinstance(obj, sp.Basic):
        raise ValueError(
            f"from_sympy cannot convert a {type(obj).__name__} ({obj!r}): "
            "expected a SymPy expression"
        )

    def checked(value: int, what: Any) -> int:
        if not _INT_MIN <= value <= _INT_MAX:
            raise ValueError(
                f"from_sympy cannot convert {what}: {value} does not fit a signed 32-bit integer"
            )
        return value

    def leaf(node: Expr) -> _Step:
        return (), lambda _: node

    def left_nested(cls: type[Add] | type[Mul], items: list[Expr]) -> Expr:
        first = items[0]
        if cls is Mul and len(items) > 1 and isinstance(first, Int) and first.value() == -1:
            return Neg(left_nested(Mul, items[1:]))  # -1 leading a product is a negation
        result = items[0]
        for item in items[1:]:
            result = cls(result, item)
        return result

    def reciprocal(f: Any) -> bool:
        return isinstance(f, sp.Pow) and bool(f.exp.is_Integer) and bool(f.exp < 0)

    def product(factors: Sequence[Any]) -> _Step:
        """A product of SymPy factors: reciprocal powers form the denominator."""
        top: list[Any] = []
        bottom: list[Any] = []
        for f in factors:
            if reciprocal(f):
                bottom.append(f.base if f.exp == -1 else sp.Pow(f.base, -f.exp, evaluate=False))
            else:
                top.append(f)
        if not bottom:
            return top, lambda a: left_nested(Mul, a)
        n = len(top)

        def build(a: list[Expr]) -> Expr:
            num = left_nested(Mul, a[:n]) if n else Int(1)
            return Div(num, left_nested(Mul, a[n:]))

        return top + bottom, build

    unary: tuple[tuple[Any, type[Sin] | type[Cos] | type[Tan] | type[Log]], ...] = (
        (sp.sin, Sin),
        (sp.cos, Cos),
        (sp.tan, Tan),
        (sp.log, Log),
    )

    def plan(node: Any) -> _Step:
        if isinstance(node, sp.Integer):
            return leaf(Int(checked(int(node), node)))
        if isinstance(node, sp.Rational):
            return leaf(Rational(checked(int(node.p), node), checked(int(node.q), node)))
        if isinstance(node, sp.Symbol):
            return leaf(Var(node.name))
        if node is sp.pi:
            return leaf(Pi())
        if node is sp.E:
            return leaf(E())
        if isinstance(node, sp.Add):
            return node.args, lambda a: left_nested(Add, a)
        if isinstance(node, sp.Mul):
            args = node.args
            # a * b**-1 is the quotient a/b whatever a is: that is the form to_sympy gives Div.
            if len(args) == 2 and isinstance(args[1], sp.Pow) and args[1].exp == -1:
                return (args[0], args[1].base), lambda a: Div(a[0], a[1])
            if args[0] == sp.S.NegativeOne:
                children, build = product(args[1:])
                return children, lambda a: Neg(build(a))
            return product(args)
        if isinstance(node, sp.Pow):
            if node.exp == sp.S.Half:
                return (node.base,), lambda a: Sqrt(a[0])
            if node.exp == sp.Rational(1, 3):
                return (node.base,), lambda a: Cbrt(a[0])
            return node.args, lambda a: Pow(a[0], a[1])
        if isinstance(node, sp.exp):
            return node.args, lambda a: Pow(E(), a[0])
        for func, cls in unary:
            if isinstance(node, func) and len(node.args) == 1:
                return node.args, lambda a, c=cls: c(a[0])
        if isinstance(node, sp.Float):
            what = f"the floating-point number {node} (only exact numbers convert)"
        else:
            what = f"{node} (SymPy {type(node).__name__})"
        raise ValueError(f"from_sympy cannot convert {what}: Tavrelo has no node for it")

    result: Expr = _walk(obj, plan)
    return result
