"""Every rendered text of the tables is well-formed math-mode LaTeX, as a real parser reads it."""

import pytest
from hypothesis import given, settings
from matplotlib.mathtext import MathTextParser

from latex_cases import ALL_TABLES, NAMES, trees
from tavrelo import Expr

PARSER = MathTextParser("path")


def texts() -> list[object]:
    params: list[object] = []
    for name, rows in ALL_TABLES.items():
        for i, (tree, text) in enumerate(rows):
            # An empty formula is fine in LaTeX but this parser refuses "$$"; nothing to check.
            marks = [pytest.mark.skip(reason="empty formula")] if text == "" else []
            params.append(pytest.param(tree, id=f"{name}-{i}", marks=marks))
    return params


@pytest.mark.parametrize("tree", texts())
def test_rendered_text_parses(tree: Expr) -> None:
    PARSER.parse("$" + tree.to_string() + "$")


def test_the_parser_refuses_a_control_word_glued_to_letters() -> None:
    with pytest.raises(ValueError, match="Unknown symbol"):
        PARSER.parse(r"$\pix$")


@settings(max_examples=200, deadline=None)
@given(trees(names=[n for n in NAMES if n]))
def test_random_tree_text_parses(tree: Expr) -> None:
    # Empty names are left out: this parser also refuses empty groups such as \frac{}{x}.
    PARSER.parse("$" + tree.to_string() + "$")


def operation_results() -> list[object]:
    # The results of the simplify and expand tables, whatever their expected forms.
    import test_expand
    import test_simplify
    from tavrelo import expand, simplify

    params: list[object] = []
    for i, row in enumerate(test_simplify.RESULTS):
        params.append(pytest.param(simplify, row[0], id=f"simplify-{i}"))
    for i, row in enumerate(test_expand.TABLE):
        params.append(pytest.param(expand, row[0], id=f"expand-{i}"))
    return params


@pytest.mark.parametrize(("operation", "tree"), operation_results())
def test_simplified_and_expanded_text_parses(operation: object, tree: Expr) -> None:
    result = operation(tree)  # type: ignore[operator]
    PARSER.parse("$" + result.to_string() + "$")
