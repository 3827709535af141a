"""Tavrelo: 構造比較・直列化・微分・構文解析・代入・数値評価"""

from ._tavrelo_core import Expr

class ParseError(ValueError):
    """A text that does not read as an expression. The message starts with "構文エラー" (or
    "整数オーバーフローエラー" for an integer outside signed 32 bits) and shows the text with a
    caret under the place."""

    position: int
    """Where the error is: an index into the text (characters, as str indexes)."""

def parse(text: str, *, split_letters: bool = False) -> Expr:
    """Reads typed math (calculator and Python syntax, SymPy's str()) as a tree of the shape the
    text has. With split_letters, `xy` is x times y instead of one name."""

def parse_latex(text: str, *, split_letters: bool = False) -> Expr:
    """Reads LaTeX: everything to_string writes (it prints back to the same text) and the LaTeX
    people type. With split_letters, `xy` is x times y instead of one name."""
