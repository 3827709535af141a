"""The benchmark cases B1-B10: what each system runs, and how many terms it must produce."""

from __future__ import annotations

import functools
import importlib
from collections.abc import Callable
from dataclasses import dataclass

import polynomials
import trees
from systems import CPP_REBUILD, FLINT, PLAIN, SLOTS, SYMENGINE, SYMPY, TAVRELO, count_terms


@dataclass(frozen=True)
class Prepared:
    """A built input. run(reps) does the timed work `reps` times and returns the last result."""

    run: Callable[[int], object]
    # Terms of a result (expansions), or the terms of the input when the output is not an
    # expression (LaTeX of B3's result); None where there is nothing to compare.
    terms_of_result: Callable[[object], int] | None = None
    input_terms: int | None = None
    detail: str = ""  # what the report shows beside the time, e.g. the size of what was written


@dataclass(frozen=True)
class Target:
    peer: str
    minimum: float  # the least ratio peer/Tavrelo that meets it
    text: str


@dataclass(frozen=True)
class Case:
    id: str  # unique, e.g. "B3" or "B8 chain"
    workload: str  # the number, e.g. "B8"
    title: str
    size: str  # what the terms column shows when there are no terms to count
    systems: tuple[str, ...]  # Tavrelo first, then the peers it is compared with
    expected_terms: int | None = None
    reps: int = 1  # B1 repeats one small call
    prepare: Callable[[str], Prepared] | None = None  # None: runs as the C++ program
    nodes: int = 0
    shared: bool = False
    gc_off: bool = False  # times with Python's cyclic collector switched off
    targets: tuple[Target, ...] = ()  # beyond the fixed targets of B1-B10 (results.targets)


EXPANDERS = (TAVRELO, SYMENGINE, SYMPY, FLINT)

# Modules beside this one with the cases of the functions beyond the core, each with a
# make_cases(quick) -> list[Case].
CAPABILITY_CASES: tuple[str, ...] = ("cases_travel", "cases_parse")


def make_cases(quick: bool) -> list[Case]:
    cases = [_expansion_case(e) for e in polynomials.expansions(quick)]
    nodes = 20_000 if quick else 1_000_000
    label = f"{nodes:,} nodes"
    # With the collector on (as users run) a million live slotted objects pay for its passes;
    # with it off the figures are the cost per node alone.
    for gc_off in (False, True):
        for shape, build in (("balanced", trees.build_balanced), ("chain", trees.build_chain)):
            cases.append(
                Case(
                    f"B8 {shape}" + (", gc off" if gc_off else ""),
                    "B8",
                    f"build a {shape} tree from Python" + (", gc off" if gc_off else ""),
                    label,
                    (TAVRELO, SLOTS, PLAIN),
                    prepare=_builder(build, nodes),
                    gc_off=gc_off,
                )
            )
    b3 = next(e for e in polynomials.expansions(quick) if e.workload == "B3")
    cases.append(
        Case(
            "B9 B3 result",
            "B9",
            "LaTeX of B3's result",
            "",
            (TAVRELO, SYMENGINE, SYMPY),
            expected_terms=b3.expected_terms,
            prepare=lambda system: _latex_of_expansion(system, b3),
        )
    )
    cases.append(
        Case(
            "B9 random",
            "B9",
            "LaTeX of a random tree",
            label,
            (TAVRELO, SYMENGINE),
            prepare=lambda system: _latex_of_program(system, _random_program(nodes)),
        )
    )
    for shared in (False, True):
        kind = "with" if shared else "without"
        cases.append(
            Case(
                f"B10 {'shared' if shared else 'unshared'}",
                "B10",
                f"simplify a tree {kind} shared subtrees",
                label,
                (TAVRELO, CPP_REBUILD),
                nodes=nodes,
                shared=shared,
            )
        )
    for module in CAPABILITY_CASES:
        cases += importlib.import_module(module).make_cases(quick)
    return cases


@functools.cache
def _random_program(nodes: int) -> list[tuple[str, int]]:
    # Made on first use: a child process that measures another case must not pay for it.
    return trees.random_program(nodes)


def _expansion_case(e: polynomials.Expansion) -> Case:
    def prepare(system: str) -> Prepared:
        return Prepared(
            polynomials.prepare(system, e), lambda result: count_terms(system, result)
        )

    return Case(
        e.workload, e.workload, e.title, "", EXPANDERS, e.expected_terms, e.calls, prepare
    )


def _builder(build: Callable[[str, int], object], nodes: int) -> Callable[[str], Prepared]:
    def prepare(system: str) -> Prepared:
        return Prepared(lambda reps: _last(reps, lambda: build(system, nodes)))

    return prepare


def _latex_of_expansion(system: str, e: polynomials.Expansion) -> Prepared:
    expanded = polynomials.prepare(system, e)(1)
    render = trees.latex_of(system)
    return Prepared(
        lambda reps: _last(reps, lambda: render(expanded)),
        input_terms=count_terms(system, expanded),
    )


def _latex_of_program(system: str, program: list[tuple[str, int]]) -> Prepared:
    tree = trees.build_program(system, program)
    render = trees.latex_of(system)
    return Prepared(lambda reps: _last(reps, lambda: render(tree)))


def _last(reps: int, once: Callable[[], object]) -> object:
    result = None
    for _ in range(reps):
        result = once()
    return result
