"""Benchmarks Tavrelo against SymEngine, SymPy and python-flint, side by side in one process.

Usage (with the package installed, e.g. in the venv of scripts/setup.sh; scripts/bench.sh sets
everything up, installs the peers and runs this):

    python benchmarks/run.py                  # full run: writes benchmarks/results.md and .png
    python benchmarks/run.py --quick          # small sizes, one round; outputs to a temp dir
    python benchmarks/run.py --only B3,B5     # some workloads (B8 selects all its cases)
    python benchmarks/run.py --no-memory      # skip the peak-memory processes

Options: --peers LIST (all, none, or some of symengine,sympy,flint,slots,plain,texts), --rounds N (timed
rounds after the warm-up, default 5; 1 with --quick), --budget S (seconds one system may spend
on one case before rounds or calls are cut, default 20), --out DIR (where results.md and
results.png go), --no-cpp (skip building B10's program).

The workloads are B1-B10 of the benchmark issue. For each case every available system builds the
same input (untimed), runs it once as a warm-up, then the timed rounds interleave the systems.
A system stops repeating rounds once it has spent --budget seconds on a case, and a run that
takes longer than half the budget on its own is kept as the only round; B1's calls are cut to
fit the budget and scaled (marked ≈). Peers that are not installed are left out; nothing is
installed here. SymPy's cache is cleared before each run so that it expands rather than looks up.
Profiling one case: `--child CASE [--system NAME] [--reps N]` builds and runs it once, untimed,
e.g. under `valgrind --tool=callgrind --toggle-collect='tavrelo::expand(*'` or `perf record -g`
(with PYTHONPATH pointing at a RelWithDebInfo build of the module for symbols).

B8 is timed with Python's cyclic collector on (as programs run: a million live slotted objects
pay for its passes) and off (the cost per node alone).

Every system must produce the same number of terms (Tavrelo: the summands of the top-level Add
chain), and in a full run the number the issue gives; otherwise the run fails (exit 1) after
writing its report. Peak memory is ru_maxrss of a separate process per case and system that only
builds and runs that case (B1's with 100 calls). B10 is a C++ program (CMake target
bench_simplify, option TAVRELO_BUILD_BENCHMARKS) built into build/bench (Release); it is
reported as unavailable when the target or CMake is missing.
"""

from __future__ import annotations

import argparse
import gc
import json
import shlex
import sys
import tempfile
import time
from dataclasses import replace
from pathlib import Path

import cpp_bench
import report
from cases import Case, make_cases
from child import Launcher
from results import Cell, Row
from systems import (
    CPP_REBUILD, FLINT, PLAIN, SLOTS, SYMENGINE, SYMPY, TAVRELO, TEXTS, available, load,
)

ROOT = Path(__file__).resolve().parent.parent
# Repeating a call does not raise the peak: the memory process of B1 makes this many calls.
MEMORY_CALLS = 100


def main(argv: list[str]) -> int:
    args = _parse(argv)
    if args.child:
        return _child(args)
    with Launcher() as launcher:  # forked first, while this process is small
        return _run(args, argv, launcher)


def _run(args: argparse.Namespace, argv: list[str], launcher: Launcher) -> int:
    cases = _select(make_cases(args.quick), args.only, args.peers)
    rounds = args.rounds if args.rounds is not None else (1 if args.quick else 5)
    out = Path(args.out) if args.out else (
        Path(tempfile.mkdtemp(prefix="tavrelo-bench-")) if args.quick else ROOT / "benchmarks"
    )
    out.mkdir(parents=True, exist_ok=True)
    if not available(TAVRELO):
        print("error: the tavrelo package is not importable (run scripts/setup.sh)",
              file=sys.stderr)
        return 2
    notes = [f"not installed, left out: {s}" for s in _missing_peers(cases)]

    program: Path | None = None
    if any(c.prepare is None for c in cases):
        if args.no_cpp:
            notes.append("B10: skipped (--no-cpp)")
        else:
            built = cpp_bench.build(ROOT, ROOT / "build" / "bench")
            program = built.program
            notes.append(f"B10 program: {built.note}")

    if not args.no_memory:
        notes.append(_import_baseline(cases, launcher))
    rows = []
    for case in cases:
        print(f"[{time.strftime('%H:%M:%S')}] {case.id}: {case.title}", file=sys.stderr, flush=True)
        if case.prepare is None:
            row = _time_cpp(case, program, rounds, launcher)
        else:
            row = _time_python(case, rounds, args.budget)
            if not args.no_memory:
                _measure_memory(row, args.quick, launcher)
        rows.append(row)

    problems = report.problems(rows)
    (out / "results.md").write_text(
        report.markdown(rows, _command(argv), notes + problems, ROOT), encoding="utf-8"
    )
    if chart_note := report.chart(rows, out / "results.png"):
        notes.append(chart_note)
    print(report.table(rows))
    print(report.target_table(rows))
    for line in notes + problems:
        print(f"note: {line}")
    print(f"wrote {out / 'results.md'} and {out / 'results.png'}")
    failed = any(row.term_problem() for row in rows)
    return 1 if failed else 0


def _parse(argv: list[str]) -> argparse.Namespace:
    p = argparse.ArgumentParser(description="Benchmarks Tavrelo against its peers.")
    p.add_argument("--quick", action="store_true", help="small sizes, one round (smoke test)")
    p.add_argument("--only", default="", help="comma-separated workloads or cases, e.g. B3,B5")
    p.add_argument("--peers", default="all",
                   help="peers to compare with: all, none, or some of "
                   "symengine,sympy,flint,slots,plain,texts")
    p.add_argument("--rounds", type=int, help="timed rounds after the warm-up")
    p.add_argument("--budget", type=float, default=20.0, help="seconds per system and case")
    p.add_argument("--out", help="directory for results.md and results.png")
    p.add_argument("--no-memory", action="store_true", help="skip the peak-memory processes")
    p.add_argument("--no-cpp", action="store_true", help="do not build or run B10's program")
    p.add_argument("--child", metavar="CASE",
                   help="run one case once in one system, untimed (memory runs, profilers)")
    p.add_argument("--system", default=TAVRELO, help="the system of --child (default Tavrelo)")
    p.add_argument("--reps", type=int, help="calls made by --child (B1: 10,000)")
    return p.parse_args(argv)


PEER_NAMES = {
    "symengine": SYMENGINE, "sympy": SYMPY, "flint": FLINT, "slots": SLOTS, "plain": PLAIN,
    "texts": TEXTS,
}


def _select(cases: list[Case], only: str, peers: str) -> list[Case]:
    wanted = {w.strip().upper() for w in only.split(",") if w.strip()}
    if wanted:
        cases = [c for c in cases if c.workload.upper() in wanted or c.id.upper() in wanted]
    names = {p.strip().lower() for p in peers.split(",") if p.strip()}
    if "all" in names:
        return cases
    unknown = names - set(PEER_NAMES) - {"none"}
    if unknown:
        known = ", ".join(sorted(PEER_NAMES))
        raise SystemExit(f"error: unknown peers {sorted(unknown)}; choose from {known}")
    # The C++ rebuild runs inside B10's own program and stays with it.
    chosen = {TAVRELO, CPP_REBUILD} | {PEER_NAMES[n] for n in names if n in PEER_NAMES}
    return [replace(c, systems=tuple(s for s in c.systems if s in chosen)) for c in cases]


def _missing_peers(cases: list[Case]) -> list[str]:
    systems = {s for c in cases for s in c.systems}
    return sorted(s for s in systems if not available(s))


def _command(argv: list[str]) -> str:
    return shlex.join(["python", "benchmarks/run.py", *argv])


def _time_python(case: Case, rounds: int, budget: float) -> Row:
    assert case.prepare is not None
    row = Row(case)
    prepared = {}
    for system in case.systems:
        if not available(system):
            continue
        cell = row.cells.setdefault(system, Cell())
        try:
            prepared[system] = case.prepare(system)
            cell.detail = prepared[system].detail
        except Exception as exc:  # a system failing its input is reported, not fatal
            cell.error = f"{type(exc).__name__}: {exc}"
    calls_of: dict[str, int] = {}  # systems still to time, with their calls per round
    for system, p in prepared.items():
        cell = row.cells[system]
        try:
            probe, result = _timed(lambda: p.run(1), case.gc_off)
            if p.terms_of_result is not None:
                cell.terms = p.terms_of_result(result)
            else:
                cell.terms = p.input_terms
            del result
        except Exception as exc:
            cell.error = f"{type(exc).__name__}: {exc}"
            continue
        calls = case.reps
        if calls > 1:  # one call is a poor guess of the per-call cost: time a few more
            few = min(calls, 20)
            probe = _timed(lambda: p.run(few), case.gc_off)[0] / few
        probe = max(probe, 1e-9)
        if calls > 1 and probe * calls > budget:
            calls = max(1, int(budget / probe))
            cell.extrapolated_from = calls
        if case.reps == 1 and probe >= budget / 2:
            cell.samples.append(probe)  # too slow to repeat: the warm-up is the round
            continue
        calls_of[system] = calls
    # Rounds interleave the systems; a system stops early once it has spent its budget.
    spent = dict.fromkeys(calls_of, 0.0)
    for _ in range(rounds):
        for system, calls in calls_of.items():
            if spent[system] >= budget:
                continue
            elapsed, result = _timed(lambda: prepared[system].run(calls), case.gc_off)
            del result
            spent[system] += elapsed
            row.cells[system].samples.append(elapsed * case.reps / calls)
    return row


def _timed(work, gc_off: bool = False):  # type: ignore[no-untyped-def]
    gc.collect()
    if gc_off:
        gc.disable()
    try:
        start = time.perf_counter()
        result = work()
        return time.perf_counter() - start, result
    finally:
        gc.enable()


def _measure_memory(row: Row, quick: bool, launcher: Launcher) -> None:
    for system, cell in row.cells.items():
        if cell.error or not cell.samples:
            continue
        cmd = [sys.executable, str(Path(__file__).resolve()), "--child", row.case.id,
               "--system", system, "--reps", str(min(row.case.reps, MEMORY_CALLS))]
        if quick:
            cmd.append("--quick")
        done = launcher.run(cmd)
        if done.returncode == 0:
            cell.maxrss_kib = done.maxrss_kib
        else:
            tail = done.stderr.strip().splitlines()[-1:] or ["no output"]
            row.note = f"memory run of {system} failed: {tail[0]}"


def _import_baseline(cases: list[Case], launcher: Launcher) -> str:
    """The peak memory of a process that only imports each system: the floor of its figures."""
    parts = []
    systems = [s for s in dict.fromkeys(s for c in cases for s in c.systems if c.prepare)]
    for system in systems:
        if not available(system):
            continue
        done = launcher.run([sys.executable, str(Path(__file__).resolve()), "--child", "import",
                             "--system", system])
        if done.returncode == 0:
            parts.append(f"{report.SHORT[system]} {done.maxrss_kib / 1024:,.0f}")
    return "peak RSS (MiB) of a process that only imports the system: " + " · ".join(parts)


def _child(args: argparse.Namespace) -> int:
    """Builds and runs one case in one system, so that the parent can read its peak memory."""
    if args.child == "import":
        return 0 if args.system == SLOTS or load(args.system) is not None else 1
    runnable = {c.id: c for c in make_cases(args.quick) if c.prepare is not None}
    case = runnable.get(args.child)
    if case is None or case.prepare is None:
        known = ", ".join(runnable)
        print(f"error: no case {args.child!r} runs from Python; cases: {known}", file=sys.stderr)
        return 2
    result = case.prepare(args.system).run(args.reps or case.reps)
    print(json.dumps({"case": case.id, "system": args.system, "ok": result is not None}))
    return 0


def _time_cpp(case: Case, program: Path | None, rounds: int, launcher: Launcher) -> Row:
    row = Row(case)
    if program is None:
        row.note = "unavailable (see the B10 program note)"
        return row
    try:
        got = cpp_bench.run(program, case.nodes, case.shared, rounds, launcher.run)
    except RuntimeError as exc:
        row.note = str(exc)
        return row
    row.cells[TAVRELO] = Cell(samples=[got.simplify_s], maxrss_kib=got.maxrss_kib)
    row.cells[CPP_REBUILD] = Cell(samples=[got.rebuild_s])
    return row


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
