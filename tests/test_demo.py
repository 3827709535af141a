"""The README's first command runs the demo: it must run to the end."""

import pathlib
import subprocess
import sys

DEMO = pathlib.Path(__file__).resolve().parent.parent / "examples" / "demo.py"


def test_demo_runs_through_every_section() -> None:
    result = subprocess.run(
        [sys.executable, "-W", "error", str(DEMO)], capture_output=True, text=True, timeout=60
    )
    assert result.returncode == 0, result.stderr
    headings = [line for line in result.stdout.splitlines() if line.startswith("== ")]
    assert headings == ["== LaTeX ==", "== simplify ==", "== expand ==", "== errors =="]
    assert r"\left(x + 1\right)^{2}" in result.stdout
