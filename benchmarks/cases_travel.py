"""Trees that travel: dumps/loads against pickle round trips in the peers, same against
comparing to_string texts, and structural_hash against hashing the text."""

from __future__ import annotations

import functools
import hashlib
import pickle
from collections.abc import Callable

import polynomials
import trees
from cases import Case, Prepared, Target
from systems import SYMENGINE, SYMPY, TAVRELO, TEXTS, count_terms, load


def make_cases(quick: bool) -> list[Case]:
    nodes = 20_000 if quick else 1_000_000
    label = f"{nodes:,} nodes"
    b3 = next(e for e in polynomials.expansions(quick) if e.workload == "B3")
    faster = (Target(SYMENGINE, 1.0, "faster than pickle in SymEngine"),)
    return [
        Case(
            "T1 B3 result",
            "T1",
            "dumps + loads of B3's result (peers: pickle)",
            "",
            (TAVRELO, SYMENGINE, SYMPY),
            expected_terms=b3.expected_terms,
            prepare=lambda system: _round_trip_of_expansion(system, b3),
            targets=faster,
        ),
        Case(
            "T1 random",
            "T1",
            "dumps + loads of a random tree (peers: pickle)",
            label,
            (TAVRELO, SYMENGINE),
            prepare=lambda system: _round_trip_of_program(system, nodes),
            targets=faster,
        ),
        Case(
            "T2 same",
            "T2",
            "same of two separately built trees",
            label,
            (TAVRELO, TEXTS),
            prepare=lambda system: _same(system, nodes),
            targets=(Target(TEXTS, 1.0, "faster than comparing to_string texts"),),
        ),
        Case(
            "T3 hash",
            "T3",
            "structural_hash of a random tree (TX: BLAKE2 of its text)",
            label,
            (TAVRELO, TEXTS),
            prepare=lambda system: _hash(system, nodes),
        ),
    ]


@functools.cache
def _program(nodes: int) -> list[tuple[str, int]]:
    return trees.random_program(nodes)


def _round_trip(system: str) -> tuple[Callable[[object], bytes], Callable[[bytes], object]]:
    if system == TAVRELO:
        tv = load(TAVRELO)
        assert tv is not None
        return tv.dumps, tv.loads
    return (lambda e: pickle.dumps(e, pickle.HIGHEST_PROTOCOL)), pickle.loads


def _size(data: bytes, per: int, unit: str) -> str:
    return f"{len(data):,} bytes, {len(data) / per:.2f} bytes/{unit}"


def _round_trip_of_expansion(system: str, e: polynomials.Expansion) -> Prepared:
    expanded = polynomials.prepare(system, e)(1)
    write, read = _round_trip(system)
    terms = count_terms(system, expanded)
    return Prepared(
        lambda reps: _last(reps, lambda: read(write(expanded))),
        lambda result: count_terms(system, result),
        detail=_size(write(expanded), terms, "term"),
    )


def _round_trip_of_program(system: str, nodes: int) -> Prepared:
    tree = trees.build_program(system, _program(nodes))
    write, read = _round_trip(system)
    return Prepared(
        lambda reps: _last(reps, lambda: read(write(tree))),
        detail=_size(write(tree), nodes, "node"),
    )


def _same(system: str, nodes: int) -> Prepared:
    tv = load(TAVRELO)
    assert tv is not None
    a = trees.build_program(TAVRELO, _program(nodes))
    b = trees.build_program(TAVRELO, _program(nodes))
    if system == TAVRELO:
        return Prepared(lambda reps: _last(reps, lambda: tv.same(a, b)))
    return Prepared(lambda reps: _last(reps, lambda: a.to_string() == b.to_string()))


def _hash(system: str, nodes: int) -> Prepared:
    tv = load(TAVRELO)
    assert tv is not None
    tree = trees.build_program(TAVRELO, _program(nodes))
    if system == TAVRELO:
        return Prepared(lambda reps: _last(reps, lambda: tv.structural_hash(tree)))
    return Prepared(
        lambda reps: _last(reps, lambda: hashlib.blake2b(tree.to_string().encode()).digest())
    )


def _last(reps: int, once: Callable[[], object]) -> object:
    result = None
    for _ in range(reps):
        result = once()
    return result
