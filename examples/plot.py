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
from collections.abc import Callable
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt
import numpy as np

import tavrelo
from tavrelo import Expr, evaluate

# The reader and the differentiator, looked up by name: typed here by what they are given and
# return, the same for every checker whichever stub describes them.
if not (hasattr(tavrelo, "parse") and hasattr(tavrelo, "diff")):
    raise SystemExit("plot.py needs tavrelo.parse and tavrelo.diff, which this build lacks")
parse: Callable[[str], Expr] = getattr(tavrelo, "parse")  # noqa: B009
diff: Callable[[Expr, str], Expr] = getattr(tavrelo, "diff")  # noqa: B009

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
    ax.plot(xs, curve(f, xs), label=f"$f(x) = {f.to_string()}$")
    ax.plot(xs, curve(df, xs), label=f"$f'(x) = {df.to_string()}$", linestyle="--")
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
