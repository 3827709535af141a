"""Trees shown as typeset formulas in Jupyter and as their LaTeX text in a terminal IPython.

``%load_ext tavrelo`` registers two display formatters for every node class: ``text/latex``
(the text between ``$`` signs, which Jupyter typesets) and ``text/plain`` (the LaTeX text itself,
which a terminal shows). The node classes themselves are not changed, and ``%unload_ext tavrelo``
puts back whatever was registered before. IPython is not imported here: the extension only uses
the shell it is given (``pip install tavrelo[notebook]`` brings IPython and the Jupyter kernel).
"""

from __future__ import annotations

from typing import Any

from ._tavrelo_core import Expr

__all__ = ["load_ipython_extension", "unload_ipython_extension"]

# Longer formulas are left to text/plain: a browser would spend minutes typesetting them.
LATEX_LIMIT = 20_000

_PLAIN = "text/plain"
_LATEX = "text/latex"

# The formatters this extension replaced, per shell, to be put back on unload.
_replaced: dict[int, dict[str, Any]] = {}


def _latex(expr: Expr) -> str | None:
    text = expr.to_string()
    return f"${text}$" if len(text) <= LATEX_LIMIT else None


def _plain(expr: Expr, printer: Any, cycle: bool) -> None:
    printer.text(expr.to_string())


def load_ipython_extension(ipython: Any) -> None:
    """Called by ``%load_ext tavrelo``: registers the formatters on the shell."""
    if id(ipython) in _replaced:
        return
    formatters = ipython.display_formatter.formatters
    _replaced[id(ipython)] = {
        _LATEX: formatters[_LATEX].for_type(Expr, _latex),
        _PLAIN: formatters[_PLAIN].for_type(Expr, _plain),
    }


def unload_ipython_extension(ipython: Any) -> None:
    """Called by ``%unload_ext tavrelo``: puts back the formatters that were there before."""
    replaced = _replaced.pop(id(ipython), None)
    if replaced is None:
        return
    formatters = ipython.display_formatter.formatters
    for mime, previous in replaced.items():
        formatters[mime].pop(Expr, None)
        if previous is not None:
            formatters[mime].for_type(Expr, previous)
