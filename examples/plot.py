"""Draws a function and its derivative: the text is read with parse, differentiated with diff,
evaluated on a grid with evaluate and drawn with matplotlib, the legend typeset from to_string.

    python examples/plot.py                      # tan(x) + ln(x) into examples/plot.png
    python examples/plot.py "x^3 - 3x" out.png   # any function of x, any path

Where the function is undefined (ln of x <= 0, tan at its poles) the curve has a gap: evaluate
gives NaN there, and values beyond the frame are dropped too, so that no line joins the two
sides of a pole.
"""

from __future__ import annotations

import sys
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt
import numpy as np

from tavrelo import Expr, diff, evaluate, parse

DEFAULT = "tan(x) + ln(x)"
FRAME = 8.0  # the y range drawn is [-FRAME, FRAME]


def curve(expr: Expr, xs: np.ndarray) -> np.ndarray:
    ys = np.asarray(evaluate(expr, {"x": xs}), dtype=np.float64)
    return np.where(np.abs(ys) > 2 * FRAME, np.nan, ys)


def plot(text: str, path: Path) -> Path:
    f = parse(text)
    df = diff(f, "x")
    xs = np.linspace(-2 * np.pi, 2 * np.pi, 4001)
    fig, ax = plt.subplots(figsize=(8, 5))
    ys = curve(f, xs)
    # f' exists only where f does (the formula of d/dx ln(x) reads fine for x < 0).
    dys = np.where(np.isnan(np.asarray(evaluate(f, {"x": xs}), dtype=np.float64)), np.nan,
                   curve(df, xs))
    ax.plot(xs, ys, label=f"$f(x) = {f.to_string()}$")
    ax.plot(xs, dys, label=f"$f'(x) = {df.to_string()}$", linestyle="--")
    ax.set_xlim(xs[0], xs[-1])
    ax.set_ylim(-FRAME, FRAME)
    ax.axhline(0, color="grey", linewidth=0.6)
    ax.axvline(0, color="grey", linewidth=0.6)
    ax.set_xlabel("$x$")
    ax.legend(loc="upper left", fontsize="small")
    ax.grid(alpha=0.3)
    fig.tight_layout()
    fig.savefig(path, dpi=100)
    plt.close(fig)
    return path


def main() -> None:
    text = sys.argv[1] if len(sys.argv) > 1 else DEFAULT
    path = Path(sys.argv[2]) if len(sys.argv) > 2 else Path(__file__).with_name("plot.png")
    print(f"plot of {text} and its derivative written to {plot(text, path)}")


if __name__ == "__main__":
    main()
