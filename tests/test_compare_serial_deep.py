"""same, structural_hash, dumps/loads, pickle and deepcopy on million-deep trees and on DAGs with
2^60 paths, in the main thread and in a thread with a small stack (in a child interpreter)."""

from collections.abc import Callable
from typing import Any


def test_deep_trees_and_dags(child_python: Callable[..., Any]) -> None:
    result = child_python("""
        import copy, pickle

        one = Int(1)

        def chain(leaf):
            e = Var(leaf)
            for i in range(10**6):
                e = Neg(e) if i % 3 == 0 else Add(e, one)
            return e

        def dag(leaf):
            e = Var(leaf)
            for _ in range(60):
                e = Add(e, e)
            return e

        a, c = chain("x"), chain("y")  # c differs at the very bottom only
        b = loads(dumps(a))  # separately built, without another million Python calls
        p, q, r = dag("x"), dag("x"), dag("y")

        def work():
            assert same(a, b) and not same(a, c)
            assert structural_hash(a) == structural_hash(b) != structural_hash(c)
            assert same(p, q) and not same(p, r) and same(p, p)
            assert structural_hash(p) == structural_hash(q) != structural_hash(r)
            for tree in (a, p):
                assert same(loads(dumps(tree)), tree)
                assert same(pickle.loads(pickle.dumps(tree)), tree)
                assert same(copy.deepcopy(tree), tree)
            assert len(dumps(p)) < 300

        in_main_and_thread(work, 256)
        print("ok")
    """)
    assert result.returncode == 0, result.stderr[-3000:]
    assert result.stdout == "ok\n"
