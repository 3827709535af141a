"""The systems a workload runs in, how to import them and how to count the terms of a result."""

from __future__ import annotations

import importlib
import importlib.metadata
from types import ModuleType

TAVRELO = "Tavrelo"
SYMENGINE = "SymEngine"
SYMPY = "SymPy"
FLINT = "python-flint"
SLOTS = "Python __slots__"
PLAIN = "pybind11 py::init"
TEXTS = "Tavrelo via to_string"
CPP_REBUILD = "C++ rebuild"

# The columns of the report, in order; the last four are baselines rather than peers: the floors
# of B8 (two), the same work done through LaTeX texts, and B10's floor.
PEERS = (SYMENGINE, SYMPY, FLINT, SLOTS, PLAIN, TEXTS, CPP_REBUILD)

_MODULES = {TAVRELO: "tavrelo", SYMENGINE: "symengine", SYMPY: "sympy", FLINT: "flint"}
_DISTRIBUTIONS = {
    TAVRELO: "tavrelo",
    SYMENGINE: "symengine",
    SYMPY: "sympy",
    FLINT: "python-flint",
}


def load(system: str) -> ModuleType | None:
    """The system's Python module, or None when it is not installed."""
    if system == PLAIN:
        import plain

        return plain.module()
    name = _MODULES.get(TAVRELO if system == TEXTS else system)
    if name is None:
        return None
    try:
        return importlib.import_module(name)
    except ImportError:
        return None


def available(system: str) -> bool:
    """Whether the system can run here (the two floors need only Python or the C++ build)."""
    return system in (SLOTS, CPP_REBUILD) or load(system) is not None


def version(system: str) -> str | None:
    dist = _DISTRIBUTIONS.get(system)
    if dist is None:
        return None
    try:
        return importlib.metadata.version(dist)
    except importlib.metadata.PackageNotFoundError:
        return None


def count_terms(system: str, result: object) -> int:
    """The number of summands at the top level of a result."""
    if system == TAVRELO:
        return _count_tavrelo(result)
    if system == SYMENGINE:
        mod = load(SYMENGINE)
        assert mod is not None
        return len(result.args) if isinstance(result, mod.Add) else 1  # type: ignore[attr-defined]
    if system == SYMPY:
        mod = load(SYMPY)
        assert mod is not None
        return len(mod.Add.make_args(result))
    if system == FLINT:
        return len(result)  # type: ignore[arg-type]
    raise ValueError(f"no term count for {system}")


def _count_tavrelo(result: object) -> int:
    # Walks the Add chain of the result (both operands, as the collector splits a sum), with an
    # explicit stack: a long chain must not hit the recursion limit.
    tv = load(TAVRELO)
    assert tv is not None
    count = 0
    stack = [result]
    while stack:
        node = stack.pop()
        if isinstance(node, tv.Add):
            stack.append(node.right())
            stack.append(node.left())
        else:
            count += 1
    return count
