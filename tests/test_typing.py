"""The type stub agrees with the built module, and type checkers read the package as users would."""

import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

pytest.importorskip("mypy", reason="mypy is not installed (it is in the 'test' extra)")

ROOT = Path(__file__).resolve().parents[1]
EXAMPLES = ROOT / "examples"


def run_mypy(*args: str, cwd: Path) -> subprocess.CompletedProcess[str]:
    # The cache lives beside the checked tree, so repeated runs take about a second.
    return subprocess.run(
        [sys.executable, "-m", "mypy", "--cache-dir", str(ROOT / ".mypy_cache"), *args],
        cwd=cwd,
        capture_output=True,
        text=True,
        timeout=300,
    )


@pytest.mark.parametrize("module", ["tavrelo._tavrelo_core", "tavrelo._tavrelo_tools"])
def test_stub_matches_the_built_module(tmp_path: Path, module: str) -> None:
    # Run from an empty directory: the module checked is the installed one.
    result = subprocess.run(
        [sys.executable, "-m", "mypy.stubtest", module],
        cwd=tmp_path,
        capture_output=True,
        text=True,
        timeout=300,
    )
    assert result.returncode == 0, result.stdout + result.stderr


def test_examples_pass_strict_mypy() -> None:
    if not EXAMPLES.is_dir():
        pytest.skip("no examples/ beside the tests")
    result = run_mypy("--strict", "examples", cwd=ROOT)
    assert result.returncode == 0, result.stdout + result.stderr


# Each line of user code, and the error mypy must report for it (None: it must type-check).
USAGE = [
    ("s: str = simplify(Add(Var('x'), Int(1))).to_string()", None),
    ("n: None = expand(None)", None),
    ("m: Expr | None = simplify(maybe)", None),
    ("k: int = Rational(1, 2).den() + Int(value=3).value()", None),
    ("c: Expr = Pow(base=E(), exp=Pi()).exp()", None),
    ("Expr()", 'Cannot instantiate abstract class "Expr"'),
    ("Add(1, 2)", 'incompatible type "int"'),
    ("Div(Var('x'), Int(2)).left()", 'has no attribute "left"'),
    ("t: str = simplify(maybe).to_string()", "has no attribute"),
    ("i: Int = Int(3).value", "Incompatible types in assignment"),
    ("to_sympy(1)", 'incompatible type "int"'),
    ("b: bool = same(Int(1), loads(bytearray(dumps(Int(1)))))", None),
    ("h: int = structural_hash(Pi())", None),
    ("loads('text')", 'incompatible type "str"'),
    ("text: str = dumps(Pi())", "Incompatible types in assignment"),
]


def test_user_code_is_checked_against_the_stub(tmp_path: Path) -> None:
    lines = [
        "from tavrelo import *",
        "from tavrelo import Expr",
        "maybe: Expr | None = None",
    ]
    first = len(lines) + 1
    lines += [code for code, _ in USAGE]
    (tmp_path / "usage.py").write_text("\n".join(lines) + "\n")
    result = run_mypy("--strict", "usage.py", cwd=tmp_path)
    report = result.stdout
    for n, (code, error) in enumerate(USAGE, start=first):
        found = [line for line in report.splitlines() if line.startswith(f"usage.py:{n}:")]
        if error is None:
            assert not found, f"{code}\n" + textwrap.indent(report, "  ")
        else:
            assert any(error in line for line in found), f"{code}\n" + textwrap.indent(report, "  ")
