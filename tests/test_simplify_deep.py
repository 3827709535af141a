"""simplify on trees a million levels deep, in the main thread and in a thread with a small stack.
Each case runs in its own interpreter so that a crash fails the test instead of ending the run."""

import textwrap

import pytest

DEPTH = 1_000_000

# Each body builds `tree` and sets `check` to a function of the result (or of the ValueError
# raised) that returns True when it is right; million-deep results are inspected iteratively.
CASES = {
    "neg_chain_cancels": """
        x = Var("x")
        tree = x
        for _ in range(N):
            tree = Neg(tree)
        check = lambda r: r is x
    """,
    "neg_chain_odd": """
        x = Var("x")
        tree = x
        for _ in range(N + 1):
            tree = Neg(tree)
        check = lambda r: type(r) is Neg and r.operand() is x
    """,
    "add_left_folds": """
        tree = Int(1)
        for _ in range(N):
            tree = Add(tree, Int(1))
        check = lambda r: type(r) is Int and r.value() == N + 1
    """,
    "add_right_folds": """
        tree = Int(-1)
        for _ in range(N):
            tree = Add(Int(2), tree)
        check = lambda r: type(r) is Int and r.value() == 2 * N - 1
    """,
    "add_left_kept": """
        tree = Var("x")
        for _ in range(N):
            tree = Add(Mul(tree, Int(1)), Int(1))
        check = lambda r: r.to_string() == "x" + " + 1" * N
    """,
    "function_chain_kept": """
        tree = Var("x")
        for _ in range(N):
            tree = Sin(Add(tree, Int(0)))
        def check(r):
            for _ in range(N):
                if type(r) is not Sin:
                    return False
                r = r.operand()
            return type(r) is Var
    """,
    # The error is raised a million levels down and must still arrive.
    "error_at_the_bottom": """
        tree = Div(Var("x"), Add(Int(1), Int(-1)))
        for _ in range(N):
            tree = Cos(Mul(Int(2), tree))
        check = lambda r: isinstance(r, ValueError) and str(r) == "ゼロ除算エラー"
    """,
}

# The tree is built once and simplified in the main thread, then in a thread with a small stack.
RUNNER = """
N = {depth}
{body}
def work():
    try:
        result = simplify(tree)
    except ValueError as error:
        result = error
    assert check(result), "wrong result"
in_main_and_thread(work)
"""


@pytest.mark.parametrize("case", sorted(CASES))
def test_million_deep(child_python, case):
    done = child_python(RUNNER.format(depth=DEPTH, body=textwrap.dedent(CASES[case])))
    assert done.returncode == 0, done.stderr[-2000:]
