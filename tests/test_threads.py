"""Several threads share trees and run simplify and expand on them at once; every result equals
the single-threaded one, in text and in structure.

The threads run in a child interpreter, so that a crash fails the test instead of the run.
"""

import subprocess
import sys
import threading

from tavrelo import (
    Add,
    Cbrt,
    Cos,
    Div,
    E,
    Int,
    Log,
    Mul,
    Neg,
    Pi,
    Pow,
    Rational,
    Sin,
    Sqrt,
    Tan,
    Var,
    expand,
    simplify,
)

THREADS = 6
ROUNDS = 6

# Class name and scalar fields of a node; children are listed by `children`.
SCALARS = {"Int": ("value",), "Var": ("name",), "Rational": ("num", "den")}
CHILDREN = {
    "Add": ("left", "right"),
    "Mul": ("left", "right"),
    "Div": ("num", "den"),
    "Pow": ("base", "exp"),
}


def structure(node):
    """The whole tree in pre-order as a tuple, without recursion."""
    out, stack = [], [node]
    while stack:
        e = stack.pop()
        name = type(e).__name__
        out.append((name, *(getattr(e, f)() for f in SCALARS.get(name, ()))))
        if name in CHILDREN:
            first, second = CHILDREN[name]
            stack += [getattr(e, second)(), getattr(e, first)()]
        elif hasattr(e, "operand"):
            stack.append(e.operand())
    return tuple(out)


def shared_trees():
    x, y = Var("x"), Var("y")
    s = Add(x, Int(1))  # shared by most trees below
    deep = x  # deep, but its expansion stays small at every level
    for k in range(20_000):
        deep = (Add(deep, x), Add(deep, Int(1)), Mul(Int(-1), deep))[k % 3]
    doubled = Add(s, y)
    for _ in range(12):
        doubled = Add(doubled, doubled)
    return [
        Pow(s, Int(8)),
        Mul(Add(s, y), Add(Neg(s), Mul(Int(3), y))),
        Div(Mul(s, Sqrt(Int(72))), Sqrt(Int(3))),
        Add(Sin(Div(Pi(), Int(4))), Cos(Pi())),
        Log(Pow(E(), Mul(s, s))),
        Cbrt(Pow(Add(s, y), Int(3))),
        Mul(Rational(3, 4), Pow(s, Int(-2))),
        Tan(Div(Pi(), Int(2))),  # an error
        Add(s, Div(y, Add(Int(1), Int(-1)))),  # an error
        Pow(s, Int(40)),  # an overflow
        deep,
        doubled,
    ]


def outcome(function, tree):
    try:
        result = function(tree)
    except ValueError as error:
        return ("error", str(error))
    return ("ok", result.to_string(), structure(result))


def run_threads():
    trees = shared_trees()
    texts_before = [t.to_string() for t in trees]
    work = [(f, t) for t in trees for f in (simplify, expand)]
    expected = [outcome(f, t) for f, t in work]
    barrier = threading.Barrier(THREADS)
    mismatches = []

    def worker(index):
        barrier.wait()
        for r in range(ROUNDS):
            # Each thread walks the work in its own order, so different calls overlap.
            order = range(len(work))
            order = order[::-1] if (index + r) % 2 else order
            for k in order:
                if outcome(*work[k]) != expected[k]:
                    mismatches.append((index, k))

    sys.setswitchinterval(1e-5)
    threads = [threading.Thread(target=worker, args=(i,)) for i in range(THREADS)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not mismatches, mismatches
    assert [t.to_string() for t in trees] == texts_before
    # Two domain errors, from both functions, and one overflow of expand.
    assert sum(1 for o in expected if o[0] == "error") == 5


def test_threads_agree_with_a_single_thread():
    child = subprocess.run(
        [sys.executable, __file__], capture_output=True, text=True, timeout=600, check=False
    )
    assert child.returncode == 0, child.stderr[-4000:]
    assert child.stdout.strip() == "threads agree"


if __name__ == "__main__":
    run_threads()
    print("threads agree")
