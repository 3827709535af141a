"""The benchmark harness without its peers: CI has none installed, so test.sh's quick run skips.

Times are never asserted; what matters is that the harness runs, agrees on its inputs and writes
its report.
"""

from __future__ import annotations

import subprocess
import sys
from collections.abc import Callable
from pathlib import Path

import pytest

import tavrelo

ROOT = Path(__file__).resolve().parent.parent
if not (ROOT / "benchmarks" / "run.py").is_file():  # the wheel's test run has no source tree
    pytest.skip("the benchmark harness is not beside these tests", allow_module_level=True)
sys.path.insert(0, str(ROOT / "benchmarks"))

import trees  # noqa: E402
from systems import TAVRELO, count_terms  # noqa: E402


def _count_nodes(expr: object) -> int:
    children = {
        tavrelo.Add: ("left", "right"),
        tavrelo.Mul: ("left", "right"),
        tavrelo.Div: ("num", "den"),
        tavrelo.Pow: ("base", "exp"),
        tavrelo.Sin: ("operand",),
        tavrelo.Cos: ("operand",),
        tavrelo.Sqrt: ("operand",),
    }
    count, stack = 0, [expr]
    while stack:
        node = stack.pop()
        count += 1
        for name in children.get(type(node), ()):
            stack.append(getattr(node, name)())
    return count


@pytest.mark.parametrize("nodes", [1, 2, 3, 4, 17, 1000])
def test_random_tree_has_the_requested_size(nodes: int) -> None:
    # Every system replays the same program; its size is what B9 reports.
    tree = trees.build_program(TAVRELO, trees.random_program(nodes, seed=nodes))
    assert _count_nodes(tree) == nodes


@pytest.mark.parametrize("build", [trees.build_balanced, trees.build_chain])
@pytest.mark.parametrize("nodes", [1, 7, 1001])
def test_b8_trees_have_the_requested_size(build: Callable[[str, int], object], nodes: int) -> None:
    assert _count_nodes(build(TAVRELO, nodes)) == nodes


@pytest.mark.parametrize(
    ("expr", "terms"),
    [
        (tavrelo.Int(3), 1),
        (tavrelo.Add(tavrelo.Var("x"), tavrelo.Int(1)), 2),
        (tavrelo.Add(tavrelo.Add(tavrelo.Var("x"), tavrelo.Var("y")), tavrelo.Int(1)), 3),
        (tavrelo.Mul(tavrelo.Add(tavrelo.Var("x"), tavrelo.Int(1)), tavrelo.Var("y")), 1),
    ],
)
def test_terms_are_the_summands_of_the_top_level_sum(expr: object, terms: int) -> None:
    assert count_terms(TAVRELO, expr) == terms


def test_quick_run_alone_writes_its_report(tmp_path: Path) -> None:
    done = subprocess.run(
        [sys.executable, str(ROOT / "benchmarks" / "run.py"), "--quick", "--peers", "none",
         "--no-cpp", "--out", str(tmp_path)],
        capture_output=True, text=True, timeout=300, check=False,
    )
    assert done.returncode == 0, done.stdout + done.stderr
    report = (tmp_path / "results.md").read_text(encoding="utf-8")
    for case in ("B1", "B2", "B3", "B4", "B5", "B6", "B7", "B8 chain", "B9 random"):
        assert f"| {case} |" in report
    assert "mismatch" not in report
    assert "error" not in report
    # B1 is the only case whose term count is fixed in quick mode: (x+1)^33 has 34 terms.
    assert "| B1 | expand (x+1)^33, 200 calls | 34 |" in report


def test_child_peak_memory_is_its_own_not_its_parents() -> None:
    # Linux carries the pre-exec high-water mark into ru_maxrss; the launcher, forked while this
    # process is small, keeps a big parent from inflating every child's figure.
    from child import Launcher

    with Launcher() as launcher:
        ballast = bytearray(400 * 2**20)
        ballast[::4096] = b"\1" * len(ballast[::4096])  # touch every page
        touch = "x = bytearray(60 * 2**20); x[::4096] = b'1' * len(x[::4096])"
        small = launcher.run([sys.executable, "-c", touch])
        del ballast
    assert small.returncode == 0, small.stderr
    assert 60 * 1024 <= small.maxrss_kib < 300 * 1024


@pytest.mark.parametrize(
    ("counts", "expected", "problem"),
    [
        ({"Tavrelo": 34, "SymEngine": 34}, 34, False),
        ({"Tavrelo": 34, "SymEngine": 34}, None, False),
        ({"Tavrelo": 1, "SymEngine": 34}, None, True),
        ({"Tavrelo": 33, "SymEngine": 33}, 34, True),
        ({"Tavrelo": 34}, 34, False),
    ],
)
def test_term_counts_must_agree(
    counts: dict[str, int], expected: int | None, problem: bool
) -> None:
    from cases import Case
    from results import Cell, Row

    row = Row(Case("B1", "B1", "", "", tuple(counts), expected_terms=expected))
    for system, n in counts.items():
        row.cells[system] = Cell(terms=n)
    assert (row.term_problem() is not None) == problem


@pytest.mark.parametrize(
    ("values", "problem"),
    [
        ({"Tavrelo": 2.0 + 0j, "SymEngine": 2.0 + 1e-9j, "SymPy": 2.0000000001 + 0j}, False),
        ({"Tavrelo": 2.0 + 0j, "SymEngine": 2.1 + 0j}, True),
        ({"Tavrelo": 1e-170 + 0j, "SymEngine": 3e-170 + 0j}, True),  # tiny values are compared too
        ({"Tavrelo": 5.0 + 0j}, False),
    ],
)
def test_values_at_the_point_must_agree(values: dict[str, complex], problem: bool) -> None:
    from cases import Case
    from results import Cell, Row

    row = Row(Case("D1", "D", "", "", tuple(values)))
    for system, v in values.items():
        row.cells[system] = Cell(value=v)
    assert (row.value_problem() is not None) == problem
