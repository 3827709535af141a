"""examples/plot.py draws f and f' into a PNG that shows something."""

import subprocess
import sys
from pathlib import Path

import pytest

PLOT = Path(__file__).resolve().parent.parent / "examples" / "plot.py"


def test_plot_writes_a_picture(tmp_path: Path) -> None:
    image = pytest.importorskip("matplotlib.image")
    path = tmp_path / "plot.png"
    result = subprocess.run(
        [sys.executable, "-W", "error", str(PLOT), "tan(x) + ln(x)", str(path)],
        capture_output=True, text=True, timeout=120,
    )
    assert result.returncode == 0, result.stderr
    assert str(path) in result.stdout
    pixels = image.imread(path)
    # Not blank: the curves, axes and legend make many distinct colours.
    assert len({tuple(p) for p in pixels.reshape(-1, pixels.shape[-1])[::7]}) > 20
