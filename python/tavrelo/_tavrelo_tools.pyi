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
