"""Deep chains in threads with small stacks and in a main thread under a small stack limit: every
walk (rendering, simplify, expand, release) keeps its depth on the heap, so no stack is too small.
Python itself runs in threads down to 32 KiB; 64 KiB is the smallest size promised."""

import pytest

# Deep enough that a walk recursing on depth would overflow each of these stacks many times over.
DEPTH = 100_000

CHAINS = """
N = {depth}
x = Var("x")
GROW = {{"Neg": Neg, "Add": lambda t: Add(t, x), "Mul": lambda t: Mul(x, t), "Sqrt": Sqrt}}
SQRT = "\\\\sqrt{{" * N + "x" + "}}" * N
EXPECTED = {{  # text of the chain, of its simplified form and of its expansion
    "Neg": ("-" * N + "x", "x", "x"),
    "Add": ("x" + " + x" * N, "2x" + " + x" * (N - 1), f"{{N + 1}}x"),
    "Mul": ("x" * (N + 1), "x" * (N + 1), f"x^{{{{{{N + 1}}}}}}"),
    "Sqrt": (SQRT, SQRT, SQRT),
}}

def chains():
    for name, grow in GROW.items():
        t = x
        for _ in range(N):
            t = grow(t)
        got = (t.to_string(), simplify(t).to_string(), expand(t).to_string())
        del t  # the chain is released here, in this thread
        assert got == EXPECTED[name], name
"""


@pytest.mark.parametrize("stack_kib", [64, 128, 256])
def test_threads_with_small_stacks(child_python, stack_kib):
    done = child_python(CHAINS.format(depth=DEPTH) + f"in_thread(chains, {stack_kib})")
    assert done.returncode == 0, done.stderr[-2000:]


def test_main_thread_under_a_small_stack_limit(child_python):
    done = child_python(CHAINS.format(depth=DEPTH) + "chains()", stack_kib=512)
    assert done.returncode == 0, done.stderr[-2000:]
