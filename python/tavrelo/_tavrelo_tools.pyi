"""Tavrelo: 構造比較・直列化・微分・構文解析・代入・数値評価"""

import abc
import collections.abc
import typing
from collections.abc import Iterable, Mapping

import numpy as np
import numpy.typing as npt

from ._tavrelo_core import Expr, Var, _pybind11_type

def same(a: Expr, b: Expr) -> bool:
    """二つの木が構造として同じか（同じクラス・値・名前が同じ位置にある）を返す"""

def structural_hash(expr: Expr) -> int:
    """木の構造から決まる 64 ビットのハッシュ値を返す（same な木では等しく、プロセスや機械によらない）"""

def dumps(expr: Expr) -> bytes:
    """木をバイト列に直列化する（共有された部分木は一度だけ書かれる）"""

def loads(data: collections.abc.Buffer) -> Expr:
    """dumps が書いたバイト列から木を復元する（不正なデータは ValueError）"""

class ParseError(ValueError):
    """構文エラー: 読めない数式。position は誤りの位置（str の添字）。"""

    position: int

def parse(text: str, *, split_letters: bool = False) -> Expr:
    """数式（電卓・Python の書き方）を読んで木にする。split_letters=True なら xy を x·y と読む。誤りは ParseError。"""

def parse_latex(text: str, *, split_letters: bool = False) -> Expr:
    """LaTeX の数式を読んで木にする。to_string の出力はそのまま読み戻せる。split_letters=True なら xy を x·y と読む。誤りは ParseError。"""

# The n-th derivative with respect to `var` (a Var or its name), simplified and in textbook
# form; n = 0 gives simplify(expr). None passes through unchanged.
@typing.overload
def diff(expr: Expr, var: Var | str, n: typing.SupportsIndex = 1) -> Expr:
    """数式を変数で n 回微分し、簡略化した結果を返す"""

@typing.overload
def diff(expr: None, var: Var | str, n: typing.SupportsIndex = 1) -> None:
    """数式を変数で n 回微分し、簡略化した結果を返す"""

# Mappings keyed by names, by Var nodes, or by both (Mapping is invariant in its key type).
_T = typing.TypeVar("_T")
_ByVariable: typing.TypeAlias = Mapping[str, _T] | Mapping[Var, _T] | Mapping[str | Var, _T]
_Array: typing.TypeAlias = npt.NDArray[np.float64]

@typing.overload
def subs(expr: Expr, mapping: _ByVariable[Expr | int]) -> Expr:
    """変数を式 (または整数) に置き換えた式を返す"""

@typing.overload
def subs(expr: None, mapping: _ByVariable[Expr | int]) -> None:
    """変数を式 (または整数) に置き換えた式を返す"""

@typing.overload
def evaluate(expr: Expr, values: _ByVariable[float]) -> float:
    """変数に数または NumPy 配列を代入した値を倍精度で返す"""

@typing.overload
def evaluate(expr: Expr, values: _ByVariable[npt.NDArray[typing.Any]]) -> _Array:
    """変数に数または NumPy 配列を代入した値を倍精度で返す"""

@typing.overload
def evaluate(expr: Expr, values: _ByVariable[npt.ArrayLike]) -> float | _Array:
    """変数に数または NumPy 配列を代入した値を倍精度で返す"""

class Compiled(metaclass=_pybind11_type):
    """compile が返す、変数の値から式の値を求める関数"""

    # Made by compile() only: calling the class raises TypeError, so type checkers refuse it too.
    @abc.abstractmethod
    def __init__(self, *args: typing.Any, **kwargs: typing.Any) -> None: ...

    @typing.overload
    def __call__(self, *args: float, **kwargs: float) -> float:
        """変数の値 (数または NumPy 配列) から式の値を返す"""

    @typing.overload
    def __call__(
        self, *args: npt.NDArray[typing.Any], **kwargs: npt.NDArray[typing.Any]
    ) -> _Array:
        """変数の値 (数または NumPy 配列) から式の値を返す"""

    @typing.overload
    def __call__(self, *args: npt.ArrayLike, **kwargs: npt.ArrayLike) -> float | _Array:
        """変数の値 (数または NumPy 配列) から式の値を返す"""

    @property
    def variables(self) -> tuple[str, ...]:
        """変数名の並び"""

    @property
    def expr(self) -> Expr:
        """元の式"""

def compile(expr: Expr, variables: Iterable[str | Var]) -> Compiled:
    """式を、変数の値から値を求める関数にする"""
