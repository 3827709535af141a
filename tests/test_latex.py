"""LaTeX text of trees: exact to the byte."""

import re

import pytest
from hypothesis import given, settings

from latex_cases import ALL_TABLES, trees
from tavrelo import (
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


def table_params() -> list[object]:
    return [
        pytest.param(tree, text, id=f"{name}-{i}")
        for name, rows in ALL_TABLES.items()
        for i, (tree, text) in enumerate(rows)
    ]


@pytest.mark.parametrize(("tree", "text"), table_params())
def test_rendered_text(tree: Expr, text: str) -> None:
    assert tree.to_string() == text


def test_rendering_a_shared_subtree_twice() -> None:
    x = Var("x")
    s = Add(x, Int(1))
    assert Mul(s, s).to_string() == r"\left(x + 1\right)\left(x + 1\right)"


# An independent, plainly recursive statement of the rendering rules, to compare with the
# library on random trees: the hand-written tables cannot cover every nesting of separators.

CONTROL_WORD_END = re.compile(r"\\[A-Za-z]+\Z")
DIGITS = "0123456789"
FUNCTIONS = {Sin: "sin", Cos: "cos", Tan: "tan", Log: "ln"}


def reference(e: Expr) -> str:
    match e:
        case Int():
            return str(e.value())
        case Var():
            return e.name()
        case Rational():
            if e.den() == 1:
                return str(e.num())
            sign = "-" if e.num() < 0 else ""
            return sign + rf"\frac{{{abs(e.num())}}}{{{e.den()}}}"
        case Neg():
            return "-" + paren(e.operand(), 2)
        case Add():
            return reference(e.left()) + add_right(e.right())
        case Mul():
            return product(e.left(), e.right())
        case Div():
            return rf"\frac{{{reference(e.num())}}}{{{reference(e.den())}}}"
        case Pow():
            b = e.base()
            text = reference(b)
            if (
                precedence(b) < 4
                or isinstance(b, Pow)
                or (isinstance(b, Int) and b.value() < 0)
                or (isinstance(b, Rational) and b.num() < 0)
            ):
                text = rf"\left({text}\right)"
            return text + "^{" + reference(e.exp()) + "}"
        case Sqrt():
            return r"\sqrt{" + reference(e.operand()) + "}"
        case Cbrt():
            return r"\sqrt[3]{" + reference(e.operand()) + "}"
        case Sin() | Cos() | Tan() | Log():
            return "\\" + FUNCTIONS[type(e)] + rf"\left({reference(e.operand())}\right)"
        case Pi():
            return r"\pi"
        case E():
            return "e"
    raise AssertionError(type(e))


def precedence(e: Expr) -> int:
    return {Add: 1, Neg: 2, Mul: 3, Div: 3, Pow: 4}.get(type(e), 5)


def paren(e: Expr, minimum: int) -> str:
    text = reference(e)
    return rf"\left({text}\right)" if precedence(e) < minimum else text


def add_right(r: Expr) -> str:
    if isinstance(r, Neg):
        return " - " + paren(r.operand(), 2)
    if isinstance(r, Int) and r.value() < 0:
        return f" - {-r.value()}"
    if isinstance(r, Rational) and r.num() < 0:
        if r.den() == 1:
            return f" - {-r.num()}"
        return rf" - \frac{{{-r.num()}}}{{{r.den()}}}"
    return " + " + reference(r)


def is_int(e: Expr, v: int) -> bool:
    return isinstance(e, Int) and e.value() == v


def product(left: Expr, right: Expr) -> str:
    if is_int(left, -1):
        return "-" + paren(right, 3)
    if is_int(left, 1):
        return paren(right, 3)
    if is_int(right, 1):
        return paren(left, 3)
    a, b = paren(left, 3), paren(right, 3)
    if isinstance(left, (Int, Rational)) and isinstance(right, (Int, Rational)):
        return a + r" \cdot " + b
    if a and b and a[-1] in DIGITS and b[0] in DIGITS:
        return a + r" \cdot " + b
    if b.startswith("-"):
        b = rf"\left({b}\right)"
    if CONTROL_WORD_END.search(a) and b and (b[0].isascii() and b[0].isalpha() or ord(b[0]) > 127):
        return a + " " + b
    return a + b


@settings(max_examples=400, deadline=None)
@given(trees())
def test_rendering_agrees_with_the_rules_on_random_trees(tree: Expr) -> None:
    assert tree.to_string() == reference(tree)


def test_reference_agrees_with_the_tables() -> None:
    for rows in ALL_TABLES.values():
        for tree, text in rows:
            assert reference(tree) == text

