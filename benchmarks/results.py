"""What a run measured: one row per case, one cell per system, and the targets they are held to."""

from __future__ import annotations

import statistics
from dataclasses import dataclass, field

from cases import Case, Target
from systems import CPP_REBUILD, FLINT, PLAIN, SYMENGINE, SYMPY, TAVRELO


@dataclass
class Cell:
    samples: list[float] = field(default_factory=list)  # seconds for the whole case, per round
    extrapolated_from: int | None = None  # calls actually timed, when fewer than the case's
    terms: int | None = None
    maxrss_kib: int | None = None
    error: str | None = None
    detail: str = ""

    @property
    def median(self) -> float | None:
        return statistics.median(self.samples) if self.samples else None


@dataclass
class Row:
    case: Case
    cells: dict[str, Cell] = field(default_factory=dict)
    note: str = ""  # why a case did not run, or which peers were missing

    def ratio(self, peer: str) -> float | None:
        """Peer time over Tavrelo time: above 1 means Tavrelo is faster."""
        mine = self.cells.get(TAVRELO)
        theirs = self.cells.get(peer)
        if mine is None or theirs is None or not mine.median or theirs.median is None:
            return None
        return theirs.median / mine.median

    def term_problem(self) -> str | None:
        """A disagreement in the number of terms, or with the count the workload must give."""
        counts = {s: c.terms for s, c in self.cells.items() if c.terms is not None}
        expected = self.case.expected_terms
        if len(set(counts.values())) > 1 or (
            expected is not None and any(n != expected for n in counts.values())
        ):
            found = ", ".join(f"{s} {n:,}" for s, n in counts.items())
            want = f"expected {expected:,}; " if expected is not None else ""
            return f"term counts differ: {want}{found}"
        return None

    def terms(self) -> int | None:
        counts = {c.terms for c in self.cells.values() if c.terms is not None}
        return counts.pop() if len(counts) == 1 else None


def targets(case: Case) -> list[Target]:
    """The speed each case must reach, as minimum ratios of a peer's time to Tavrelo's."""
    w = case.workload
    found: list[Target] = list(case.targets)
    if w in ("B1", "B2", "B3", "B4", "B5", "B6", "B7"):
        if w in ("B5", "B6", "B7"):
            found.append(Target(SYMENGINE, 10.0, "10x faster than SymEngine"))
        else:
            found.append(Target(SYMENGINE, 1.0, "faster than SymEngine"))
        found.append(Target(SYMPY, 100.0, "100x faster than SymPy"))
    if w in ("B3", "B4"):
        found.append(Target(FLINT, 0.1, "within 10x of python-flint"))
    if w == "B8":
        found.append(Target(PLAIN, 1 / 1.1, "within 1.1x of plain pybind11 py::init"))
    if w == "B9":
        found.append(Target(SYMENGINE, 1.0, "faster than symengine.latex"))
    if w == "B10":
        found.append(Target(CPP_REBUILD, 1 / 1.5, "at most 1.5x the plain rebuild"))
    return found
