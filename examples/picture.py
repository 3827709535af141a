"""Render rows of LaTeX formulas as a PNG table with matplotlib's mathtext (no TeX needed)."""

from __future__ import annotations

from collections.abc import Sequence
from pathlib import Path

from matplotlib.backends.backend_agg import FigureCanvasAgg
from matplotlib.figure import Figure
from matplotlib.lines import Line2D
from matplotlib.text import Text

HEADERS = ("input", "simplified", "expanded")
_DPI = 100
_FONT_SIZE = 15
_PAD_X = 18.0  # pixels left and right of each cell's text
_PAD_Y = 12.0  # pixels above and below each row's tallest formula


def _math(latex: str) -> str:
    # Display-style fractions: mathtext's inline \frac is too small to read in a table.
    return "$" + latex.replace(r"\frac{", r"\dfrac{") + "$" if latex else ""


def write_table_png(rows: Sequence[tuple[str, str, str]], path: str | Path) -> Path:
    """Write ``rows`` of (input, simplified, expanded) LaTeX texts as a table of typeset formulas.

    Each text is math-mode LaTeX without dollar signs, as ``to_string`` returns it; fractions are
    set in display style, and an empty text leaves its cell blank. Uses the Agg canvas directly,
    so no GUI backend is touched and the global pyplot state stays as it was. Returns the path
    written.
    """
    out = Path(path)
    fig = Figure(dpi=_DPI)
    FigureCanvasAgg(fig)  # attaches itself to fig: text is measured and saved with Agg

    grid: list[list[Text]] = [
        [fig.text(0, 0, h, fontsize=_FONT_SIZE, fontweight="bold") for h in HEADERS]
    ]
    for row in rows:
        if len(row) != len(HEADERS):
            raise ValueError(f"each row needs {len(HEADERS)} texts, got {len(row)}: {row!r}")
        grid.append(
            [fig.text(0, 0, _math(cell), fontsize=_FONT_SIZE) for cell in row]
        )

    # Measure every cell, then size the figure to fit the columns and rows.
    sizes = [[t.get_window_extent() for t in line] for line in grid]
    col_w = [max(s[c].width for s in sizes) + 2 * _PAD_X for c in range(len(HEADERS))]
    row_h = [max(b.height for b in s) + 2 * _PAD_Y for s in sizes]
    width, height = sum(col_w), sum(row_h)
    fig.set_size_inches(width / _DPI, height / _DPI)

    top = height
    for line, h in zip(grid, row_h):
        left = 0.0
        for text, w in zip(line, col_w):
            text.set_position(((left + _PAD_X) / width, (top - h / 2) / height))
            text.set_verticalalignment("center")
            left += w
        top -= h
        fig.add_artist(Line2D([0, 1], [top / height] * 2, color="0.75", linewidth=1))
    # A heavier rule under the header row, and column separators.
    rule_y = (height - row_h[0]) / height
    fig.add_artist(Line2D([0, 1], [rule_y, rule_y], color="0.2", linewidth=1.5))
    left = 0.0
    for w in col_w[:-1]:
        left += w
        fig.add_artist(Line2D([left / width] * 2, [0, 1], color="0.75", linewidth=1))

    fig.savefig(out, dpi=_DPI, facecolor="white")
    return out
