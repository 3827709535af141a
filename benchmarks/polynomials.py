"""Expansion workloads B1-B7: one description of each input, built the same way in every system.

A workload is a product of powers of sums of monomials. Each system builds that product with its
own constructors (outside the timed region) and the timed part is the expansion: `expand` for
Tavrelo, SymEngine and SymPy; for python-flint, whose polynomials are always expanded, the powers
and products of the (already built) sums.
"""

from __future__ import annotations

import functools
import operator
from collections.abc import Callable, Sequence
from dataclasses import dataclass

from systems import FLINT, SYMENGINE, SYMPY, TAVRELO, load

# A monomial: integer coefficient and (variable, exponent) pairs.
Monomial = tuple[int, tuple[tuple[str, int], ...]]


def mono(coefficient: int, *powers: tuple[str, int] | str) -> Monomial:
    return coefficient, tuple((p, 1) if isinstance(p, str) else p for p in powers)


@dataclass(frozen=True)
class Product:
    """The product of sum_i ** power_i."""

    factors: tuple[tuple[tuple[Monomial, ...], int], ...]

    def variables(self) -> list[str]:
        names = {v for terms, _ in self.factors for _, powers in terms for v, _ in powers}
        return sorted(names)


def power(terms: Sequence[Monomial], n: int) -> Product:
    return Product(((tuple(terms), n),))


def product(*parts: Product) -> Product:
    return Product(tuple(f for p in parts for f in p.factors))


# --- Tavrelo ---------------------------------------------------------------------------------


def tavrelo_input(p: Product) -> object:
    tv = load(TAVRELO)
    assert tv is not None
    variables = {name: tv.Var(name) for name in p.variables()}

    def monomial(m: Monomial) -> object:
        c, powers = m
        factors = [
            variables[v] if e == 1 else tv.Pow(variables[v], tv.Int(e)) for v, e in powers
        ]
        if not factors:
            return tv.Int(c)
        body = functools.reduce(tv.Mul, factors)
        if c == 1:
            return body
        if c == -1:
            return tv.Neg(body)
        return tv.Mul(tv.Int(c), body)

    def raised(terms: tuple[Monomial, ...], n: int) -> object:
        total = functools.reduce(tv.Add, (monomial(m) for m in terms))
        return total if n == 1 else tv.Pow(total, tv.Int(n))

    return functools.reduce(tv.Mul, (raised(t, n) for t, n in p.factors))


# --- SymEngine and SymPy: the same operators ---------------------------------------------------


def symbolic_input(system: str, p: Product) -> object:
    mod = load(system)
    assert mod is not None
    variables = {name: mod.Symbol(name) for name in p.variables()}

    def monomial(m: Monomial) -> object:
        c, powers = m
        return functools.reduce(
            operator.mul, (variables[v] ** e for v, e in powers), mod.Integer(c)
        )

    def raised(terms: tuple[Monomial, ...], n: int) -> object:
        return functools.reduce(operator.add, (monomial(m) for m in terms)) ** n

    return functools.reduce(operator.mul, (raised(t, n) for t, n in p.factors))


# --- python-flint ---------------------------------------------------------------------------


def flint_bases(p: Product) -> list[tuple[object, int]]:
    """The sums as fmpz_mpoly over a context holding exactly the workload's variables."""
    flint = load(FLINT)
    assert flint is not None
    names = p.variables()
    ctx = flint.fmpz_mpoly_ctx.get(tuple(names), "lex")
    gens = dict(zip(names, ctx.gens(), strict=True))

    def monomial(m: Monomial) -> object:
        c, powers = m
        return functools.reduce(operator.mul, (gens[v] ** e for v, e in powers), ctx.constant(c))

    return [(functools.reduce(operator.add, (monomial(m) for m in t)), n) for t, n in p.factors]


def flint_expand(bases: list[tuple[object, int]]) -> object:
    return functools.reduce(operator.mul, (b**n if n != 1 else b for b, n in bases))


# --- the workloads ---------------------------------------------------------------------------


def sum_of(*names: str, constant: int = 1) -> list[Monomial]:
    return [mono(1, n) for n in names] + [mono(constant)]


@dataclass(frozen=True)
class Expansion:
    workload: str
    title: str
    input: Product
    expected_terms: int | None  # None in quick mode: the systems must still agree
    calls: int = 1  # B1 repeats one small expansion to measure the per-call cost


def expansions(quick: bool) -> list[Expansion]:
    def size(full: int, small: int) -> int:
        return small if quick else full

    def expected(terms: int) -> int | None:
        return None if quick else terms

    b1 = power(sum_of("x"), 33)
    n2, n3, n4 = size(18, 6), size(16, 5), size(15, 4)
    n5, n6, n7 = size(8, 3), size(5, 2), size(16, 8)
    b5 = product(
        power(sum_of("x", "y", "z", "w"), n5),
        power([mono(1), mono(-1, "x"), mono(1, "y"), mono(-1, "z"), mono(1, "w")], n5),
    )
    b6 = product(
        power(
            [mono(1), mono(1, "x"), mono(1, "y"), mono(2, ("z", 2)), mono(3, ("t", 3)),
             mono(5, ("u", 5))],
            n6,
        ),
        power(
            [mono(1), mono(1, "u"), mono(1, "t"), mono(2, ("z", 2)), mono(3, ("y", 3)),
             mono(5, ("x", 5))],
            n6,
        ),
    )
    b7 = product(*(power([mono(1, f"a{i}"), mono(1, f"b{i}")], 1) for i in range(n7)))
    calls = size(10_000, 200)
    return [
        Expansion("B1", f"expand (x+1)^33, {calls:,} calls", b1, 34, calls),
        Expansion("B2", f"expand (x+y+z+1)^{n2}", power(sum_of("x", "y", "z"), n2),
                  expected(1_330)),
        Expansion("B3", f"expand (x+y+z+w+1)^{n3}", power(sum_of("x", "y", "z", "w"), n3),
                  expected(4_845)),
        Expansion("B4", f"expand (x+y+z+w+v+1)^{n4}",
                  power(sum_of("x", "y", "z", "w", "v"), n4), expected(15_504)),
        Expansion("B5", f"expand (1+x+y+z+w)^{n5}(1-x+y-z+w)^{n5}", b5, expected(2_445)),
        Expansion("B6", f"expand sparse product, powers {n6}", b6, expected(40_418)),
        Expansion("B7", f"expand prod (a_i+b_i), i<{n7}", b7, expected(2**n7)),
    ]


# A prepared run: run(reps) does the timed work `reps` times and returns the last result.
Runner = Callable[[int], object]


def prepare(system: str, e: Expansion) -> Runner:
    """Builds the input in `system` (untimed) and returns the timed expansion."""
    if system == TAVRELO:
        tv = load(TAVRELO)
        assert tv is not None
        expr = tavrelo_input(e.input)
        expand = tv.expand
        return lambda reps: _repeat(reps, lambda: expand(expr))
    if system == SYMENGINE:
        se = load(SYMENGINE)
        assert se is not None
        expr = symbolic_input(SYMENGINE, e.input)
        return lambda reps: _repeat(reps, lambda: se.expand(expr))
    if system == SYMPY:
        sp = load(SYMPY)
        assert sp is not None
        from sympy.core.cache import clear_cache

        expr = symbolic_input(SYMPY, e.input)

        def fresh() -> object:
            # SymPy memoises expand; without this every call after the first is a cache lookup.
            clear_cache()
            return sp.expand(expr)

        return lambda reps: _repeat(reps, fresh)
    if system == FLINT:
        bases = flint_bases(e.input)
        return lambda reps: _repeat(reps, lambda: flint_expand(bases))
    raise ValueError(f"{system} does not expand")


def _repeat(reps: int, once: Callable[[], object]) -> object:
    result = None
    for _ in range(reps):
        result = once()
    return result
