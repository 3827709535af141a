"""expand on chains a million long, in the main thread and in a thread with a small stack.
Each case runs in its own interpreter so that a crash fails the test instead of ending the run."""

import textwrap

import pytest

DEPTH = 1_000_000

# Each body builds `tree` and sets `check` to a function of the result that returns True when it
# is right; only iterative walks are used to inspect deep results.
CASES = {
    "sum_left": """
        names = [Var(f"x{k}") for k in range(1000)]
        tree = names[0]
        for i in range(1, N):
            tree = Add(tree, names[i % 1000])
        check = lambda r: [t[:5] for t in r.to_string().split(" + ")] == ["1000x"] * 1000
    """,
    "sum_right_fresh_leaves": """
        tree = Var("x0")
        for i in range(1, N):
            tree = Add(Var(f"x{i % 1000}"), tree)
        check = lambda r: [t[:5] for t in r.to_string().split(" + ")] == ["1000x"] * 1000
    """,
    "sum_cancelling": """
        x = Var("x")
        tree = x
        for i in range(N):
            tree = Add(tree, Neg(x) if i % 2 == 0 else x)
        check = lambda r: r is x
    """,
    "neg_chain_over_sum": """
        x, y = Var("x"), Var("y")
        tree = Add(x, y)
        for _ in range(N):
            tree = Neg(tree)
        check = lambda r: r.to_string() == "y + x"
    """,
    "neg_chain_over_product": """
        x, y = Var("x"), Var("y")
        tree = Mul(x, y)
        for _ in range(N + 1):
            tree = Neg(tree)
        check = lambda r: r.to_string() == "-yx" and r.operand().right() is x
    """,
    "product_left": """
        names = [Var(f"v{k}") for k in range(1000)]
        tree = names[0]
        for i in range(1, N):
            tree = Mul(tree, names[i % 1000])
        check = lambda r: r.to_string().count("^{1000}") == 1000
    """,
    "product_cancelling": """
        x, y = Var("x"), Var("y")
        tree = x
        for i in range(N):
            tree = Mul(tree, Pow(x, Int(-1)) if i % 2 == 0 else Mul(x, y))
        check = lambda r: r.to_string() == "y^{%d}x" % (N // 2)
    """,
    # Every level of these two has a key holding the text of all levels below it, so they are
    # quadratic by nature and run shallower.
    "negated_sums_nested": """
        N = SHALLOW
        y = Var("y")
        tree = Var("x")
        for _ in range(N):
            tree = Neg(Add(tree, y))
        def check(r):
            negations, pending = 0, [r]
            while pending:
                node = pending.pop()
                if type(node) is Neg:
                    negations += 1
                    pending.append(node.operand())
                elif type(node) in (Add, Mul):
                    pending += [node.left(), node.right()]
            return negations == N
    """,
    "function_chain": """
        N = SHALLOW
        x = Var("x")
        tree = x
        for _ in range(N):
            tree = Sin(Add(tree, x))
        def check(r):
            for _ in range(N - 1):
                if type(r) is not Sin or r.operand().left() is not x:
                    return False
                r = r.operand().right()
            return type(r) is Sin and r.operand().to_string() == "2x"
    """,
}

# The tree is built once and expanded in the main thread, then in a thread with a small stack.
RUNNER = """
N = {depth}
SHALLOW = 4_000
{body}
def work():
    assert check(expand(tree)), "wrong result"
in_main_and_thread(work)
"""


@pytest.mark.parametrize("case", sorted(CASES))
def test_million_long(child_python, case):
    done = child_python(RUNNER.format(depth=DEPTH, body=textwrap.dedent(CASES[case])))
    assert done.returncode == 0, done.stderr[-2000:]
