"""Tavrelo: 構造比較・直列化・微分・構文解析・代入・数値評価"""

import typing

from ._tavrelo_core import Expr, Var

# The n-th derivative with respect to `var` (a Var or its name), simplified and in textbook
# form; n = 0 gives simplify(expr). None passes through unchanged.
@typing.overload
def diff(expr: Expr, var: Var | str, n: typing.SupportsIndex = 1) -> Expr:
    """数式を変数で n 回微分し、簡略化した結果を返す"""

@typing.overload
def diff(expr: None, var: Var | str, n: typing.SupportsIndex = 1) -> None:
    """数式を変数で n 回微分し、簡略化した結果を返す"""
