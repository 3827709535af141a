"""Shared test helpers: child interpreters for what may crash or must start clean."""

from __future__ import annotations

import resource
import subprocess
import sys
import textwrap
from collections.abc import Callable, Sequence

import pytest

# Prepended to every child script unless asked not to: the package, and runners that call a
# function in a thread with a given stack size.
CHILD_PRELUDE = """
import sys, threading
from tavrelo import *

def in_thread(work, stack_kib):
    '''Returns work() called in a new thread with a stack of stack_kib KiB, or raises its error.'''
    outcome = []
    def guarded():
        try:
            outcome.append((True, work()))
        except BaseException as exc:  # reported to the caller below
            outcome.append((False, exc))
    threading.stack_size(stack_kib * 1024)
    try:
        t = threading.Thread(target=guarded)
        t.start()
        t.join()
    finally:
        threading.stack_size(0)
    ok, value = outcome[0]
    if not ok:
        raise value
    return value

def in_main_and_thread(work, stack_kib=256):
    '''Calls work() in the main thread, then in a thread with a small stack.'''
    work()
    in_thread(work, stack_kib)
"""


def run_python(
    code: str,
    *,
    timeout: float = 300,
    stack_kib: int | None = None,
    prelude: bool = True,
    flags: Sequence[str] = ("-W", "error"),
) -> subprocess.CompletedProcess[str]:
    """Runs `code` (dedented, after CHILD_PRELUDE unless prelude is false) in a fresh interpreter
    started with `flags`; with stack_kib, the child's main thread gets that stack limit (as
    `ulimit -s` would)."""

    def limit_stack() -> None:
        if stack_kib is not None:
            resource.setrlimit(resource.RLIMIT_STACK, (stack_kib * 1024, stack_kib * 1024))

    script = (CHILD_PRELUDE if prelude else "") + textwrap.dedent(code)
    return subprocess.run(
        [sys.executable, *flags, "-c", script],
        capture_output=True,
        text=True,
        timeout=timeout,
        preexec_fn=limit_stack if stack_kib is not None else None,
    )


@pytest.fixture
def child_python() -> Callable[..., subprocess.CompletedProcess[str]]:
    """run_python: a child interpreter, so a crash fails one test instead of the run."""
    return run_python
