"""%load_ext tavrelo in a real Jupyter kernel: trees display as LaTeX, the classes stay as they were."""

import pytest

nbformat = pytest.importorskip("nbformat", reason="the 'notebook' and 'test' extras bring it")
nbclient = pytest.importorskip("nbclient")
pytest.importorskip("ipykernel")

CELLS = [
    "%load_ext tavrelo",
    "from tavrelo import *\nAdd(Pow(Var('x'), Int(2)), Div(Int(1), Var('y')))",
    "display(Sqrt(Var('x')))\n'_repr_latex_' in dir(Expr)",
    "%unload_ext tavrelo\nVar('x')",
]


@pytest.mark.filterwarnings("ignore::DeprecationWarning")  # the kernel machinery's own
def test_notebook_shows_trees_as_latex(tmp_path):
    notebook = nbformat.v4.new_notebook(cells=[nbformat.v4.new_code_cell(c) for c in CELLS])
    client = nbclient.NotebookClient(
        notebook, timeout=120, kernel_name="python3", resources={"metadata": {"path": tmp_path}}
    )
    client.execute()
    outputs = [cell.outputs for cell in notebook.cells]
    assert outputs[0] == []
    (result,) = outputs[1]
    assert result.data == {
        "text/plain": r"x^{2} + \frac{1}{y}",
        "text/latex": r"$x^{2} + \frac{1}{y}$",
    }
    shown, answer = outputs[2]
    assert shown.output_type == "display_data"
    assert shown.data["text/latex"] == r"$\sqrt{x}$"
    assert answer.data == {"text/plain": "False"}
    (plain,) = outputs[3]
    assert "text/latex" not in plain.data
    assert plain.data["text/plain"].startswith("<tavrelo._tavrelo_core.Var ")
