"""The demo's picture helper: a PNG table of typeset formulas, sized to its rows."""

import importlib.util
from collections.abc import Callable
from pathlib import Path

import pytest

pytest.importorskip("matplotlib", reason="matplotlib is not installed (it is in the 'test' extra)")

PICTURE = Path(__file__).resolve().parents[1] / "examples" / "picture.py"


@pytest.fixture(scope="module")
def write_table_png() -> Callable[..., Path]:
    if not PICTURE.is_file():
        pytest.skip("no examples/picture.py beside the tests")
    spec = importlib.util.spec_from_file_location("picture", PICTURE)
    assert spec is not None and spec.loader is not None
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    function: Callable[..., Path] = module.write_table_png
    return function


def png_size(path: Path) -> tuple[int, int]:
    data = path.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    return int.from_bytes(data[16:20], "big"), int.from_bytes(data[20:24], "big")


ROW = (r"\left(x + 1\right)^{2}", r"\frac{\sqrt{2}}{2}", r"x^{2} + 2x + 1")


def test_writes_a_png_that_grows_with_its_rows(
    write_table_png: Callable[..., Path], tmp_path: Path
) -> None:
    one = write_table_png([ROW], tmp_path / "one.png")
    three = write_table_png(
        [
            ROW,
            (r"\sqrt[3]{27} \cdot \sin\left(\pi\right)", "3", ""),
            (r"\ln\left(e\right)", "1", "1"),
        ],
        str(tmp_path / "three.png"),
    )
    assert one == tmp_path / "one.png" and three == tmp_path / "three.png"
    (w1, h1), (w3, h3) = png_size(one), png_size(three)
    assert w3 >= w1 > 200 and h3 > h1 > 40


@pytest.mark.parametrize("row", [("x", "y"), ("x", "y", "z", "w")])
def test_refuses_rows_that_are_not_triples(
    write_table_png: Callable[..., Path], tmp_path: Path, row: tuple[str, ...]
) -> None:
    with pytest.raises(ValueError, match="3 texts"):
        write_table_png([row], tmp_path / "bad.png")
