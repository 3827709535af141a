"""P1-P3: reading text. About 1 MB of generated text, read in pieces that every system reads in
turn (one call is one piece, so SymPy's calls are cut to the budget and scaled):

- P1: a polynomial of 70,000 distinct terms in typed syntax (`72*x**4*y**9*z**2 + ...`) through
  tavrelo.parse, symengine.sympify of the str and SymPy's parse_expr (whose time grows with the
  square of a sum's length, so the pieces are short: 500 terms);
- P2: Horner forms nested 150 deep (`((((x + 3)*x - 7)*x + 1)*x ...`, under the nesting Python's
  parser allows), the same three;
- P3: a polynomial as LaTeX with fractions, roots and sines, in pieces of 50 terms, through
  tavrelo.parse_latex and SymPy's parse_latex (which needs antlr4-python3-runtime 4.11, in the
  `bench` extra).

Each case's title gives the text's size; MB/s is that size over the time of a system.
"""

from __future__ import annotations

import functools
import random
from collections.abc import Callable

from cases import Case, Prepared, Target
from systems import SYMENGINE, SYMPY, TAVRELO, count_terms, load

SEED = 20_240_615


def _monomials(count: int, rng: random.Random) -> list[tuple[int, int, int]]:
    exponents = [(a, b, c) for a in range(10) for b in range(10) for c in range(10)]
    rng.shuffle(exponents)
    return exponents[:count]


def _typed_term(coefficient: int, e: tuple[int, int, int]) -> str:
    factors = [str(coefficient)] + [
        f"{v}**{k}" if k > 1 else v for v, k in zip("xyz", e) if k > 0
    ]
    return "*".join(factors)


def _latex_term(coefficient: int, e: tuple[int, int, int], i: int) -> str:
    powers = "".join(f"{v}^{{{k}}}" if k > 1 else v for v, k in zip("xyz", e) if k > 0)
    extra = (r"\frac{%d}{%d}" % (coefficient, 7 + i % 5), r"\sqrt{%d}" % coefficient,
             r"\sin\left(%d x\right)" % coefficient, str(coefficient))[i % 4]
    return extra + " " + powers if powers else extra


@functools.cache
def polynomial_pieces(pieces: int, terms: int, latex: bool) -> tuple[str, ...]:
    rng = random.Random(SEED)
    out = []
    for _ in range(pieces):
        parts = []
        for i, e in enumerate(_monomials(terms, rng)):
            c = rng.randint(1, 99)
            parts.append(_latex_term(c, e, i) if latex else _typed_term(c, e))
        sign = [" - " if rng.random() < 0.3 else " + " for _ in parts]
        out.append(parts[0] + "".join(s + p for s, p in zip(sign[1:], parts[1:])))
    return tuple(out)


@functools.cache
def horner_pieces(pieces: int, depth: int) -> tuple[str, ...]:
    rng = random.Random(SEED + 1)
    out = []
    for _ in range(pieces):
        text = "x + 1"
        for _ in range(depth - 1):
            c = rng.randint(1, 99)
            text = f"({text})*x {'-' if rng.random() < 0.5 else '+'} {c}"
        out.append(text)
    return tuple(out)


def _reader(system: str, latex: bool) -> Callable[[str], object]:
    if system == TAVRELO:
        tv = load(TAVRELO)
        return tv.parse_latex if latex else tv.parse  # type: ignore[union-attr]
    if system == SYMENGINE:
        se = load(SYMENGINE)
        return se.sympify  # type: ignore[union-attr]
    sp = load(SYMPY)
    assert sp is not None
    if latex:
        from sympy.parsing.latex import parse_latex

        parse_latex("x")  # fails here, untimed, when the ANTLR runtime is missing
        read = parse_latex
    else:
        from sympy.parsing.sympy_parser import parse_expr

        read = parse_expr

    def fresh(text: str) -> object:
        sp.core.cache.clear_cache()  # type: ignore[union-attr]
        return read(text)

    return fresh


def _terms(system: str, latex: bool) -> Callable[[object], int]:
    if system == SYMPY and latex:
        sp = load(SYMPY)
        assert sp is not None
        # parse_latex leaves its sums unevaluated and nested; doit() flattens them.
        return lambda result: len(sp.Add.make_args(result.doit()))  # type: ignore[union-attr]
    return lambda result: count_terms(system, result)


def _prepare(pieces: tuple[str, ...], latex: bool) -> Callable[[str], Prepared]:
    def prepare(system: str) -> Prepared:
        read = _reader(system, latex)

        def run(calls: int) -> object:
            result = None
            for i in range(calls):
                result = read(pieces[i % len(pieces)])
            return result

        return Prepared(run, _terms(system, latex))

    return prepare


def _size(pieces: tuple[str, ...]) -> str:
    total = sum(len(p) for p in pieces)
    return f"{total / 1e6:.2f} MB" if total >= 100_000 else f"{total / 1e3:.0f} kB"


TARGETS = (
    Target(SYMENGINE, 1.0, "faster than SymEngine's parser"),
    Target(SYMPY, 100.0, "100x faster than SymPy"),
)


def make_cases(quick: bool) -> list[Case]:
    pieces, terms = (2, 100) if quick else (140, 500)
    typed = polynomial_pieces(pieces, terms, False)
    nested = horner_pieces(2 if quick else 800, 30 if quick else 150)
    latex_pieces, latex_terms = (2, 25) if quick else (800, 50)
    latex = polynomial_pieces(latex_pieces, latex_terms, True)
    return [
        Case(
            "P1 polynomial",
            "P1",
            f"parse a polynomial, {pieces * terms:,} terms ({_size(typed)} in {pieces} pieces)",
            _size(typed),
            (TAVRELO, SYMENGINE, SYMPY),
            expected_terms=terms,
            reps=len(typed),
            prepare=_prepare(typed, False),
            targets=TARGETS,
        ),
        Case(
            "P2 nested",
            "P2",
            f"parse Horner forms nested {30 if quick else 150} deep ({_size(nested)})",
            _size(nested),
            (TAVRELO, SYMENGINE, SYMPY),
            expected_terms=2,
            reps=len(nested),
            prepare=_prepare(nested, False),
            targets=TARGETS,
        ),
        Case(
            "P3 LaTeX",
            "P3",
            f"parse_latex a polynomial with fractions, roots and sines ({_size(latex)})",
            _size(latex),
            (TAVRELO, SYMPY),
            expected_terms=latex_terms,
            reps=len(latex),
            prepare=_prepare(latex, True),
            targets=(Target(SYMPY, 100.0, "100x faster than SymPy"),),
        ),
    ]
