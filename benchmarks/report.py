"""Writes results.md (tables, machine, versions) and results.png (ratios, log scale, targets)."""

from __future__ import annotations

import datetime
import importlib.metadata
import os
import platform
import shutil
import subprocess
from pathlib import Path

from results import Row, targets
from systems import (
    CPP_REBUILD, FLINT, PEERS, PLAIN, SLOTS, SYMENGINE, SYMPY, TAVRELO, TEXTS, version,
)

SHORT = {
    TAVRELO: "T", SYMENGINE: "SE", SYMPY: "SP", FLINT: "FL", SLOTS: "PY", PLAIN: "PB",
    TEXTS: "TX", CPP_REBUILD: "C++",
}
FLOORS = (SLOTS, PLAIN, TEXTS, CPP_REBUILD)


def seconds(t: float | None) -> str:
    if t is None:
        return "—"
    if t >= 0.9995:  # what rounds to 1000 ms reads as seconds
        return f"{t:.2f} s"
    if t >= 1e-3:
        return f"{t * 1e3:.3g} ms"
    return f"{t * 1e6:.3g} µs"


def ratio(r: float | None) -> str:
    if r is None:
        return ""
    return f"{r:.3g}×" if r < 100 else f"{r:,.0f}×"


def _peer_cell(row: Row, peer: str) -> str:
    cell = row.cells.get(peer)
    if cell is None:
        return "—"
    if cell.error:
        return "error"
    approx = "≈" if cell.extrapolated_from else ""
    r = row.ratio(peer)
    return f"{approx}{seconds(cell.median)}" + (f" ({ratio(r)})" if r is not None else "")


def _floor_cell(row: Row) -> str:
    found = [f"{_peer_cell(row, f)} [{SHORT[f]}]" for f in FLOORS if f in row.cells]
    return "<br>".join(found) if found else "—"


def _memory_cell(row: Row) -> str:
    parts = [
        f"{SHORT[s]} {c.maxrss_kib / 1024:,.0f}"
        for s, c in row.cells.items()
        if c.maxrss_kib is not None
    ]
    return " · ".join(parts) if parts else "—"


def _terms_cell(row: Row) -> str:
    if row.term_problem():
        return "**mismatch**"
    n = row.terms()
    return f"{n:,}" if n is not None else row.case.size or "—"


def table(rows: list[Row]) -> str:
    head = (
        "| Case | Work | Terms | Tavrelo | SymEngine | SymPy | python-flint | Floor | "
        "Peak RSS (MiB) |\n|---|---|---:|---:|---:|---:|---:|---:|---|\n"
    )
    lines = []
    for row in rows:
        me = row.cells.get(TAVRELO)
        mine = "—" if me is None else ("error" if me.error else seconds(me.median))
        lines.append(
            f"| {row.case.id} | {row.case.title} | {_terms_cell(row)} | {mine} | "
            f"{_peer_cell(row, SYMENGINE)} | {_peer_cell(row, SYMPY)} | {_peer_cell(row, FLINT)} | "
            f"{_floor_cell(row)} | {_memory_cell(row)} |"
        )
    return head + "\n".join(lines) + "\n"


def target_table(rows: list[Row]) -> str:
    lines = ["| Case | Target | Needed ratio | Measured ratio | Met |", "|---|---|---:|---:|---|"]
    for row in rows:
        for t in targets(row.case):
            got = row.ratio(t.peer)
            met = "—" if got is None else ("yes" if got >= t.minimum else "**no**")
            measured = ratio(got) or "—"
            lines.append(f"| {row.case.id} | {t.text} | ≥ {t.minimum:.3g} | {measured} | {met} |")
    return "\n".join(lines) + "\n"


def problems(rows: list[Row]) -> list[str]:
    found = []
    for row in rows:
        if row.note:
            found.append(f"{row.case.id}: {row.note}")
        if problem := row.term_problem():
            found.append(f"{row.case.id}: {problem}")
        for system, cell in row.cells.items():
            if cell.error:
                found.append(f"{row.case.id}, {system}: {cell.error}")
    return found


def _details(rows: list[Row]) -> str:
    lines = [
        "| Case | System | Rounds | Min | Median | Max | Calls timed |",
        "|---|---|---:|---:|---:|---:|---|",
    ]
    for row in rows:
        for system, cell in row.cells.items():
            if not cell.samples:
                continue
            calls = (
                f"{cell.extrapolated_from:,} of {row.case.reps:,}, scaled"
                if cell.extrapolated_from
                else ""
            )
            lines.append(
                f"| {row.case.id} | {system} | {len(cell.samples)} | {seconds(min(cell.samples))} "
                f"| {seconds(cell.median)} | {seconds(max(cell.samples))} | {calls} |"
            )
    return "\n".join(lines) + "\n"


def machine() -> list[str]:
    cpu = "unknown"
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    ram = "unknown"
    try:
        for line in Path("/proc/meminfo").read_text().splitlines():
            if line.startswith("MemTotal:"):
                ram = f"{int(line.split()[1]) / 1024**2:.1f} GiB"
    except OSError:
        pass
    compiler = "unknown"
    if cxx := shutil.which("c++"):
        done = subprocess.run([cxx, "--version"], capture_output=True, text=True, check=False)
        compiler = (done.stdout.splitlines() or ["unknown"])[0]
    versions = ", ".join(
        f"{s} {version(s) or 'not installed'}" for s in (TAVRELO, SYMENGINE, SYMPY, FLINT)
    )
    try:
        versions += f"; pybind11 {importlib.metadata.version('pybind11')} (build)"
    except importlib.metadata.PackageNotFoundError:
        pass
    return [
        f"- CPU: {cpu}; {os.cpu_count()} cores; RAM {ram}; {platform.system()} "
        f"{platform.release()}",
        f"- Python {platform.python_version()} ({platform.python_implementation()}); "
        f"C++ compiler: {compiler}",
        f"- Packages: {versions}",
        "- Load average (1, 5, 15 min) when the report was written: "
        + ", ".join(f"{x:.2f}" for x in os.getloadavg())
        + f" (other work on the {os.cpu_count()} cores makes the figures noisier)",
    ]


def _git_revision(root: Path) -> str:
    try:
        rev = subprocess.run(
            ["git", "-C", str(root), "rev-parse", "--short", "HEAD"],
            capture_output=True, text=True, check=True,
        ).stdout.strip()
        dirty = subprocess.run(
            ["git", "-C", str(root), "status", "--porcelain", "--untracked-files=no"],
            capture_output=True, text=True, check=True,
        ).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return "unknown"
    return rev + (" (with uncommitted changes)" if dirty else "")


def markdown(rows: list[Row], command: str, notes: list[str], root: Path) -> str:
    now = datetime.datetime.now(datetime.UTC).strftime("%Y-%m-%d %H:%M UTC")
    out = [
        "# Benchmark results",
        "",
        f"Measured {now} by `{command}` at revision {_git_revision(root)}.",
        "",
        "Times are medians over the rounds after a warm-up; a peer's ratio (in parentheses) is its",
        "time over Tavrelo's, so above 1× means Tavrelo is faster. Floor: the pure-Python",
        "`__slots__` class built the same way [PY] and the node classes bound with plain pybind11",
        "`py::init` [PB] for B8, the same work done through `to_string` texts [TX], the plain",
        "rebuild of the same tree in C++ [C++] for B10. Peak RSS: ru_maxrss of a separate process",
        "that builds and runs only that case in one system (T Tavrelo, SE SymEngine, SP SymPy, FL",
        "python-flint, PY __slots__, PB plain pybind11, TX texts, C++ the B10 program, which runs",
        "both simplify and rebuild). ≈: timed on",
        "fewer calls and scaled (see the details). Terms are checked to agree across systems.",
        "",
        table(rows),
        "## Targets",
        "",
        target_table(rows),
        "## Machine",
        "",
        *machine(),
        "",
    ]
    details = [
        f"- {row.case.id}, {system}: {cell.detail}"
        for row in rows
        for system, cell in row.cells.items()
        if cell.detail
    ]
    if details:
        out += ["## Sizes", "", *details, ""]
    if notes:
        out += ["## Notes", "", *(f"- {n}" for n in notes), ""]
    out += ["## Rounds", "", _details(rows)]
    return "\n".join(out)


def chart(rows: list[Row], path: Path) -> str | None:
    """Draws the ratios on a log scale with each target as a black bar; None when it could."""
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        return "matplotlib is not installed: no chart"
    colours = {
        SYMENGINE: "tab:blue",
        SYMPY: "tab:green",
        FLINT: "tab:orange",
        SLOTS: "tab:purple",
        PLAIN: "tab:brown",
        TEXTS: "tab:gray",
        CPP_REBUILD: "tab:red",
    }
    fig, ax = plt.subplots(figsize=(14, 5.5))
    width = 0.8 / 3
    labelled: set[str] = set()
    target_labelled = False
    for x, row in enumerate(rows):
        peers = [p for p in PEERS if row.ratio(p) is not None]
        for k, peer in enumerate(peers):
            pos = x + (k - (len(peers) - 1) / 2) * width
            value = row.ratio(peer)
            assert value is not None
            ax.bar(pos, value, width * 0.95, color=colours[peer],
                   label=None if peer in labelled else peer)
            ax.annotate(f"{value:.3g}", (pos, value), ha="center", va="bottom", fontsize=7,
                        xytext=(0, 2), textcoords="offset points")
            labelled.add(peer)
            for t in targets(row.case):
                if t.peer == peer:
                    ax.hlines(t.minimum, pos - width / 2, pos + width / 2, colors="black",
                              linewidth=2.5, label=None if target_labelled else "target")
                    target_labelled = True
    ax.axhline(1.0, color="grey", linewidth=0.8, linestyle="--", label="parity")
    ax.set_yscale("log")
    ax.set_xticks(range(len(rows)), [r.case.id for r in rows], rotation=30, ha="right")
    ax.set_ylabel("peer time / Tavrelo time (log; above 1: Tavrelo faster)")
    ax.set_title("Tavrelo against its peers")
    ax.legend(loc="upper left", bbox_to_anchor=(1.01, 1.0), fontsize="small")
    low, high = ax.get_ylim()
    ax.set_ylim(low, high * 3)  # room for the value labels
    ax.grid(axis="y", which="major", alpha=0.3)
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)
    return None
