"""diff on chains a million levels deep, in the main thread and in a threading.Thread, and on a
DAG whose tree would not fit in memory. Each case runs in its own interpreter, so a crash or a
hang fails one test instead of the run."""

import pytest

# Each body builds `tree` and defines `check(result)`; results are inspected iteratively.
CASES = {
    # cos(x) cos(sin x) ... : a left-nested product with one cosine per level
    "sin_chain": """
        tree = x
        for _ in range(N):
            tree = Sin(tree)
        def check(r):
            for _ in range(N - 1):
                assert type(r) is Mul and type(r.right()) is Cos
                r = r.left()
            assert r.to_string() == "\\\\cos\\\\left(x\\\\right)"
    """,
    # x^(N+1) written as a product: the product rule once per level, a sum as deep as the input
    "product_chain": """
        tree = x
        for _ in range(N):
            tree = Mul(tree, x)
        def check(r):
            depth = 0
            while type(r) is Add:
                depth += 1
                r = r.left().left()  # d_(k+1) = d_k x + f_k, down to 2x^2 + xx
            assert depth == N - 1 and r.to_string() == "2"  # the coefficient of 2x^2
    """,
    "neg_chain": """
        tree = x
        for _ in range(N + 1):
            tree = Neg(tree)
        def check(r):
            assert type(r) is Int and r.value() == -1
    """,
}


@pytest.mark.parametrize("case", CASES)
def test_million_deep_chain(child_python, case):
    body = "\n".join(line[8:] for line in CASES[case].strip("\n").splitlines())
    done = child_python(
        f"""
N = 1_000_000
x = Var("x")
{body}
def work():
    check(diff(tree, x))
in_main_and_thread(work, 0)  # 0: the default stack size of a new thread
print("ok")
""",
        timeout=600,
    )
    assert done.returncode == 0, done.stderr[-2000:]
    assert done.stdout.strip() == "ok"


def test_shared_dag_is_differentiated_once_per_node(child_python):
    done = child_python(
        """
x = Var("x")
e = x
for _ in range(60):
    e = Mul(e, Add(e, Int(1)))  # 2^60 leaves as a tree
d = diff(e, x)
seen, stack, keep = set(), [d], []
while stack:
    node = stack.pop()
    if id(node) in seen:
        continue
    seen.add(id(node))
    keep.append(node)
    for name in ("left", "right", "num", "den", "base", "exp", "operand"):
        if hasattr(node, name):
            stack.append(getattr(node, name)())
assert len(seen) < 2000, len(seen)
try:
    d.to_string()
except MemoryError:
    print("ok")
""",
        timeout=120,
    )
    assert done.returncode == 0, done.stderr[-2000:]
    assert done.stdout.strip() == "ok"


def test_ctrl_c_stops_a_high_order(child_python):
    # 2^31 - 1 derivatives of sin(x) would take hours; the check between orders ends it.
    done = child_python(
        """
import os, signal
signal.signal(signal.SIGINT, signal.default_int_handler)  # a background shell ignores it
x = Var("x")
threading.Timer(0.5, lambda: os.kill(os.getpid(), signal.SIGINT)).start()
try:
    diff(Sin(x), x, 2**31 - 1)
except KeyboardInterrupt:
    print("ok")
""",
        timeout=60,
    )
    assert done.returncode == 0, done.stderr[-2000:]
    assert done.stdout.strip() == "ok"
