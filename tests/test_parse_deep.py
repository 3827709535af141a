"""Deep and long texts read without a crash, in the main thread and in a thread with a small
stack, in memory proportional to the text (each case in a child interpreter)."""

from __future__ import annotations

from collections.abc import Callable
from subprocess import CompletedProcess

import pytest

N = 10**6
CASES = {
    "nested parentheses": f"parse('(' * {N} + 'x' + ')' * {N})",
    "nested \\left(": f"parse_latex(r'\\left(' * {N} + 'x + 1' + r'\\right)' * {N})",
    "nested braces and roots": f"parse_latex(r'\\sqrt{{' * {N} + 'x' + '}}' * {N})",
    "a minus chain": f"parse('-' * {N} + 'x')",
    "a power tower": f"parse('2^' * {N} + 'x')",
    "a sum of a million terms": f"parse('+'.join(['x'] * {N}))",
    "bare functions": f"parse_latex(r'\\sin ' * {N} + 'x')",
    "x + -(-(...))": f"parse_latex('x + ' + '-' * {N} + 'y')",
}


@pytest.mark.parametrize("expression", CASES.values(), ids=CASES.keys())
def test_deep_text(child_python: Callable[..., CompletedProcess[str]], expression: str) -> None:
    result = child_python(
        f"""
        def work():
            e = {expression}
            assert e.to_string()
        in_main_and_thread(work, 256)
        """
    )
    assert result.returncode == 0, result.stderr[-2000:]


def test_ten_megabytes_in_memory_proportional_to_the_text(
    child_python: Callable[..., CompletedProcess[str]],
) -> None:
    result = child_python(
        """
        import resource
        terms = [f"{1000 + i % 9000}x^{{{i % 10}}}y" for i in range(800_000)]
        text = " + ".join(terms)
        assert len(text) > 10_000_000
        before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        e = parse_latex(text)
        grown = (resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before) * 1024
        assert grown < 40 * len(text), grown
        assert e.to_string() == text
        """
    )
    assert result.returncode == 0, result.stderr[-2000:]


def test_errors_deep_inside_say_where(child_python: Callable[..., CompletedProcess[str]]) -> None:
    result = child_python(
        f"""
        def work():
            try:
                parse('(' * {N} + 'x +' + ')' * {N})
            except ParseError as err:
                assert err.position == {N} + 3, err.position
            else:
                raise AssertionError("no error")
        in_main_and_thread(work, 256)
        """
    )
    assert result.returncode == 0, result.stderr[-2000:]
