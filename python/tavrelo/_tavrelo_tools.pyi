"""Tavrelo: 構造比較・直列化・微分・構文解析・代入・数値評価"""

import collections.abc

from ._tavrelo_core import Expr

def same(a: Expr, b: Expr) -> bool:
    """二つの木が構造として同じか（同じクラス・値・名前が同じ位置にある）を返す"""

def structural_hash(expr: Expr) -> int:
    """木の構造から決まる 64 ビットのハッシュ値を返す（same な木では等しく、プロセスや機械によらない）"""

def dumps(expr: Expr) -> bytes:
    """木をバイト列に直列化する（共有された部分木は一度だけ書かれる）"""

def loads(data: collections.abc.Buffer) -> Expr:
    """dumps が書いたバイト列から木を復元する（不正なデータは ValueError）"""

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
