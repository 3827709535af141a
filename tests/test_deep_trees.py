"""Million-level chains built from Python are rendered and released without crashing.

Each scenario runs in its own interpreter, so a crash fails the test instead of ending the run.
"""

import textwrap

import pytest

N = 10**6

# Each body builds a chain N levels deep, renders it, checks the text cheaply and drops it.
SCENARIOS = {
    "neg": r"""
        e = Var("x")
        for _ in range(N):
            e = Neg(e)
        s = e.to_string()
        assert len(s) == N + 1 and s.startswith("---") and s.endswith("-x"), s[:20]
        del e
    """,
    "add_nested_left": r"""
        e, one = Var("x"), Int(1)
        for _ in range(N):
            e = Add(e, one)
        s = e.to_string()
        assert len(s) == 4 * N + 1 and s.startswith("x + 1 + ") and s.endswith(" + 1"), s[:20]
        del e
    """,
    "add_nested_right": r"""
        e, one = Var("x"), Int(1)
        for _ in range(N):
            e = Add(one, e)
        s = e.to_string()
        assert len(s) == 4 * N + 1 and s.startswith("1 + 1 + ") and s.endswith("1 + x"), s[:20]
        del e
    """,
    "mul_nested_left_digits": r"""
        e, two = Var("x"), Int(2)
        for _ in range(N):
            e = Mul(e, two)
        s = e.to_string()
        assert len(s) == 2 + 8 * (N - 1), len(s)
        assert s.startswith("x2 \\cdot 2 \\cdot ") and s.endswith(" \\cdot 2"), s[:20]
        del e
    """,
    "mul_nested_right_control_words": r"""
        e, pi = Var("x"), Pi()
        for _ in range(N):
            e = Mul(pi, e)
        s = e.to_string()
        assert len(s) == 3 * N + 2 and s.startswith("\\pi\\pi") and s.endswith("\\pi x"), s[-20:]
        del e
    """,
    # Python objects wrap nodes all along the chain while it is released from the top.
    "wrappers_kept_along_the_chain": r"""
        e, kept = Var("x"), []
        for k in range(N):
            e = Sqrt(e) if k % 2 else Sin(e)
            if k % 1000 == 0:
                kept.append(e)
        del e
        sins = len(kept) * 500 - 499
        s = kept[-1].to_string()
        assert len(s) == 1 + 17 * sins + 7 * (sins - 1), len(s)
        assert s.startswith("\\sin\\left(\\sqrt{\\sin") and s.endswith("\\right)}\\right)")
        kept.reverse()
        del kept
    """,
    "left_alive_at_exit": r"""
        global chain
        chain = Var("x")
        for _ in range(N):
            chain = Div(chain, Int(3))
    """,
}

# Each scenario runs in the main thread, then in a thread with a small stack.
PROGRAM = """
N = {n}

def work():
{body}

in_main_and_thread(work)
"""


@pytest.mark.parametrize("scenario", SCENARIOS)
def test_deep_chain(child_python, scenario: str) -> None:
    body = textwrap.indent(textwrap.dedent(SCENARIOS[scenario]), "    ")
    result = child_python(PROGRAM.format(n=N, body=body), timeout=120)
    assert result.returncode == 0, result.stderr[-2000:]
