"""Shared test helpers: child interpreters for what may crash or must start clean."""

from __future__ import annotations

import resource
import subprocess
import sys
import textwrap
from collections.abc import Callable

import pytest

# Prepended to every child script: the package and a runner that calls a function in the main
# thread and then in a thread with a small stack, and says which of them failed.
CHILD_PRELUDE = """
import sys, threading
from tavrelo import *

def in_main_and_thread(work, stack_kib=256):
    work()
    errors = []
    def guarded():
        try:
            work()
        except BaseException as exc:  # reported to the parent below
            errors.append(exc)
    threading.stack_size(stack_kib * 1024)
    t = threading.Thread(target=guarded)
    t.start()
    t.join()
    threading.stack_size(0)
    if errors:
        raise errors[0]
"""


def run_python(
    code: str, *, timeout: float = 300, stack_kib: int | None = None
) -> subprocess.CompletedProcess[str]:
    """Runs `code` (dedented, after CHILD_PRELUDE) in a fresh interpreter; with stack_kib, the
    child's main thread gets that stack limit (as `ulimit -s` would)."""

    def limit_stack() -> None:
        if stack_kib is not None:
            resource.setrlimit(resource.RLIMIT_STACK, (stack_kib * 1024, stack_kib * 1024))

    script = CHILD_PRELUDE + textwrap.dedent(code)
    return subprocess.run(
        [sys.executable, "-c", script],
        capture_output=True,
        text=True,
        timeout=timeout,
        preexec_fn=limit_stack if stack_kib is not None else None,
    )


@pytest.fixture
def child_python() -> Callable[..., subprocess.CompletedProcess[str]]:
    """run_python: a child interpreter, so a crash fails one test instead of the run."""
    return run_python
