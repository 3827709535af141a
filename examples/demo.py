"""A short tour of Tavrelo: expression trees printed as LaTeX, simplified and expanded."""

import sys
from collections.abc import Callable, Sequence
from pathlib import Path

from picture import write_table_png

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
    expand,
    parse,
    parse_latex,
    simplify,
)

Operation = Callable[[Expr], Expr | None]

x = Var("x")
y = Var("y")


def heading(title: str) -> None:
    print(f"\n== {title} ==")


def apply(operation: Operation, tree: Expr) -> str:
    """The LaTeX of the result, or the error message the operation raised."""
    try:
        result = operation(tree)
    except ValueError as error:
        return f"ValueError: {error}"
    return "None" if result is None else result.to_string()


def show_latex(trees: Sequence[Expr]) -> None:
    for tree in trees:
        print(f"  {tree.to_string()}")


def show_rows(operation: Operation, trees: Sequence[Expr]) -> None:
    inputs = [tree.to_string() for tree in trees]
    width = max(len(text) for text in inputs)
    for text, tree in zip(inputs, trees):
        print(f"  {text.ljust(width)}  ->  {apply(operation, tree)}")


def picture_rows(trees: Sequence[Expr]) -> list[tuple[str, str, str]]:
    return [(tree.to_string(), apply(simplify, tree), apply(expand, tree)) for tree in trees]


def show_picture(path: Path) -> None:
    """Each tree, its simplified and its expanded form, as text and as a typeset table."""
    rows = picture_rows(
        [
            Pow(Add(x, Int(1)), Int(2)),
            Mul(Add(x, Div(Int(1), Sqrt(Int(2)))), Add(x, Int(-1))),
            Pow(Add(Add(x, y), Mul(Int(0), Sin(x))), Int(3)),
            Mul(Add(Pow(x, Int(2)), x), Cos(Div(Pi(), Int(4)))),
            Add(Mul(Int(2), Log(Pow(E(), x))), Neg(Mul(x, Int(2)))),
        ]
    )
    for row in rows:
        print("  " + "  |  ".join(row))
    written = write_table_png(rows, path)
    print(f"\n  picture written to {written}")


def main() -> None:
    heading("LaTeX")
    show_latex(
        [
            Pow(Add(x, Int(1)), Int(2)),
            Div(Add(x, Int(1)), Mul(Int(2), y)),
            Add(x, Neg(Mul(Int(2), y))),
            Mul(Pi(), Pow(x, Int(2))),
            Sqrt(Add(Pow(x, Int(2)), Rational(-1, 4))),
            Mul(Rational(3, 2), Sin(Mul(Int(2), x))),
            Log(Pow(E(), Cbrt(x))),
        ]
    )

    heading("simplify")
    show_rows(
        simplify,
        [
            Div(Int(1), Sqrt(Int(2))),
            Sqrt(Int(72)),
            Sin(Div(Pi(), Int(4))),
            Add(x, x),
            Log(Pow(E(), x)),
            Div(Int(6), Int(4)),
            Pow(Int(2), Int(-3)),
            Cbrt(Int(-27)),
        ],
    )

    heading("expand")
    show_rows(
        expand,
        [
            Pow(Add(x, Int(1)), Int(2)),
            Pow(Add(x, y), Int(2)),
            Pow(Add(x, Int(1)), Int(3)),
            Mul(Add(x, Int(1)), Add(x, Int(-1))),
        ],
    )

    heading("reading")
    for text in ["(x+1)^2 - 3x/2", "x**2*y + 3*sqrt(x)/2 - exp(-x)"]:
        print(f"  parse({text!r})  ->  {expand(parse(text)).to_string()}")
    latex = r"\sin^2 x + \frac{1}{2}"
    print(f"  parse_latex({latex!r})  ->  {parse_latex(latex).to_string()}")
    try:
        parse("2(x + 1")
    except ValueError as error:
        print("  " + str(error).replace("\n", "\n  "))

    heading("errors")
    show_rows(simplify, [Div(x, Int(0)), Sqrt(Int(-4)), Tan(Div(Pi(), Int(2)))])
    try:
        Rational(1, 0)
    except ValueError as error:
        print(f"  Rational(1, 0)  ->  ValueError: {error}")

    heading("input  |  simplified  |  expanded")
    show_picture(Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).with_name("demo.png"))


if __name__ == "__main__":
    main()
