"""Nodes made by expand and simplify come from per-thread free lists: memory stays bounded when
threads that end build and drop big trees, and nodes alive at interpreter exit end cleanly. Each
case runs in its own interpreter so that a crash fails the test instead of ending the run."""

import textwrap

PRELUDE = textwrap.dedent("""
    import os

    PAGE = os.sysconf("SC_PAGE_SIZE")

    def resident_mib():
        with open("/proc/self/statm") as statm:
            return int(statm.read().split()[1]) * PAGE / 2**20

    def product(factors):
        tree = None
        for i in range(factors):
            pair = Add(Var(f"a{i}"), Var(f"b{i}"))
            tree = pair if tree is None else Mul(tree, pair)
        return tree
""")


def test_threads_that_end_reuse_the_memory_of_big_trees(child_python):
    # Each expansion holds about 1.3 million result nodes (131,072 terms of 17 factors).
    child = child_python(PRELUDE + textwrap.dedent(
        """
        tree = product(17)

        def work(sizes):
            result = expand(tree)
            sizes.append(len(result.to_string()))
            del result

        levels = []
        for _ in range(6):
            sizes = []
            threads = [threading.Thread(target=work, args=(sizes,)) for _ in range(2)]
            for t in threads:
                t.start()
            for t in threads:
                t.join()
            assert len(sizes) == 2 and sizes[0] == sizes[1], sizes
            levels.append(resident_mib())
        print(" ".join(f"{m:.0f}" for m in levels))
        # Memory is kept for reuse, never given back: the level after the first rounds holds.
        assert levels[-1] - levels[1] < 48, levels
        print("done")
        """
    ))
    assert child.returncode == 0, child.stderr[-2000:]
    assert child.stdout.strip().endswith("done")


def test_nodes_alive_at_exit_are_released_without_a_crash(child_python):
    child = child_python(PRELUDE + textwrap.dedent(
        """
        import sys

        x = Var("x")
        KEPT = expand(Pow(Add(x, Int(1)), Int(30)))
        held_by_main = []
        local = threading.local()

        def work():
            # Freed when this thread ends, after it made them.
            local.tree = expand(product(10))
            # Made here, freed by the main thread at exit.
            held_by_main.append(simplify(expand(product(8))))

        t = threading.Thread(target=work)
        t.start()
        t.join()

        # A deep result, built on the helper thread that deep work runs on, kept until exit.
        deep = x
        for _ in range(200_000):
            deep = Sin(Add(deep, Int(0)))
        DEEP = expand(deep)

        # A thread still holding nodes when the interpreter ends.
        stop = threading.Event()

        def linger():
            mine = expand(product(9))
            stop.wait()
            del mine

        threading.Thread(target=linger, daemon=True).start()
        assert "x^{30}" in KEPT.to_string()
        print("done")
        sys.stdout.flush()
        """
    ))
    assert child.returncode == 0, child.stderr[-2000:]
    assert child.stdout.strip() == "done"


FORK_WHILE_BUSY = """
import os, threading
from tavrelo import Add, Mul, Var, expand

def work(stop):
    e = Mul(Add(Var("a"), Var("b")), Add(Var("c"), Var("d")))
    while not stop.is_set():
        expand(Mul(e, e))

stop = threading.Event()
workers = [threading.Thread(target=work, args=(stop,)) for _ in range(2)]
for w in workers:
    w.start()
for _ in range(50):
    pid = os.fork()
    if pid == 0:
        ok = expand(Mul(Add(Var("x"), Var("y")), Add(Var("x"), Var("y")))).to_string()
        os._exit(0 if ok == "2yx + y^{2} + x^{2}" else 1)
    _, status = os.waitpid(pid, 0)
    assert os.waitstatus_to_exitcode(status) == 0
stop.set()
for w in workers:
    w.join()
"""


def test_fork_while_other_threads_expand(child_python):
    """A child forked while other threads build nodes can build nodes too (no stale lock)."""
    child = child_python(FORK_WHILE_BUSY, timeout=120, flags=("-W", "ignore::DeprecationWarning"))
    assert child.returncode == 0, child.stderr[-2000:]
