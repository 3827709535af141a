"""The README's first command runs the demo: it must run to the end."""

import pathlib
import subprocess
import sys

DEMO = pathlib.Path(__file__).resolve().parent.parent / "examples" / "demo.py"


def test_demo_runs_through_every_section(tmp_path: pathlib.Path) -> None:
    picture = tmp_path / "demo.png"
    result = subprocess.run(
        [sys.executable, "-W", "error", str(DEMO), str(picture)],
        capture_output=True,
        text=True,
        timeout=60,
    )
    assert result.returncode == 0, result.stderr
    headings = [line for line in result.stdout.splitlines() if line.startswith("== ")]
    assert headings == [
        "== LaTeX ==",
        "== simplify ==",
        "== expand ==",
        "== reading ==",
        "== errors ==",
        "== input  |  simplified  |  expanded ==",
    ]
    assert r"\left(x + 1\right)^{2}  |  \left(x + 1\right)^{2}  |  x^{2} + 2x + 1" in result.stdout
    assert picture.read_bytes().startswith(b"\x89PNG")
    assert f"picture written to {picture}" in result.stdout
