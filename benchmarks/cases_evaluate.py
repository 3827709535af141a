"""Numeric evaluation over many points: a random tree in x and y, and B3's expanded polynomial.

Every system gets the same expression and the same float64 points and returns one value per
point. Tavrelo calls the program of `tavrelo.compile`; SymPy the function of
`sympy.lambdify(..., "numpy")`; SymEngine its `Lambdify` (with common subexpressions, its LLVM
back end when it has one), fed the points stacked the way it reads them; the floor is NumPy
written by hand (one ufunc per node; for the polynomial, tables of powers and one pass per term
that accumulates in place). Preparing the callables and the inputs is not timed.

The "terms" of a result count the points whose value agrees with an independent reference (NaN
where the reference is NaN): for the polynomial to 9 digits of the size of its terms, for the
random tree to 6 digits. A result that agrees at all but one point in 10,000 counts as agreeing
everywhere: the elementary functions of the systems differ in the last bits, and at the few points
where the random tree is ill-conditioned (a tangent near a pole, a quotient of nearly equal
values) those bits grow. So every system must report all the points.
"""

from __future__ import annotations

import functools
import itertools
import math
import random
from collections.abc import Callable
from typing import Any

import polynomials
from cases import Case, Prepared, Target
from systems import NUMPY, SYMENGINE, SYMPY, TAVRELO, load

SYSTEMS = (TAVRELO, SYMENGINE, SYMPY, NUMPY)
TARGETS = (
    Target(SYMENGINE, 1.0, "faster than symengine.Lambdify"),
    Target(SYMPY, 1.0, "faster than sympy.lambdify (NumPy)"),
)
TREE_NODES = 100
# The share of points that may disagree: where the random tree is ill-conditioned.
ILL_CONDITIONED = 1e-4


def make_cases(quick: bool) -> list[Case]:
    points = 10_000 if quick else 1_000_000
    label = f"{points:,} points"
    b3 = next(e for e in polynomials.expansions(quick) if e.workload == "B3")
    return [
        Case(
            "EVAL random",
            "EVAL",
            f"evaluate a random {TREE_NODES}-node tree in x, y",
            label,
            SYSTEMS,
            expected_terms=points,
            prepare=lambda system: _prepare(system, _RandomTree(points)),
            targets=TARGETS,
        ),
        Case(
            "EVAL B3",
            "EVAL",
            f"evaluate B3's result ({b3.title[len('expand '):]} expanded)",
            label,
            SYSTEMS,
            expected_terms=points,
            prepare=lambda system: _prepare(system, _Polynomial(b3, points)),
            targets=TARGETS,
        ),
    ]


def _prepare(system: str, work: _Workload) -> Prepared:
    np = load(NUMPY)
    assert np is not None
    points = work.points()
    if system == TAVRELO:
        tv = load(TAVRELO)
        assert tv is not None
        run = tv.compile(work.tavrelo(), work.names)
        call: Callable[[], object] = lambda: run(*points)
    elif system == SYMPY:
        sp = load(SYMPY)
        assert sp is not None
        f = sp.lambdify(sp.symbols(work.names), work.sympy(), "numpy")
        call = lambda: _quiet(np, lambda: f(*points))
    elif system == SYMENGINE:
        se = load(SYMENGINE)
        assert se is not None
        sp = load(SYMPY)
        assert sp is not None
        g = se.Lambdify(se.symbols(work.names), se.sympify(work.sympy()), cse=True)
        stacked = np.stack(points, axis=-1)  # the layout it reads: one row per point
        call = lambda: g(stacked)
    elif system == NUMPY:
        call = work.by_hand(points)
    else:
        raise ValueError(f"{system} does not evaluate")

    def run_reps(reps: int) -> object:
        result = None
        for _ in range(reps):
            result = call()
        return result

    return Prepared(run_reps, lambda result: work.agreeing(result))


def _quiet(np: Any, f: Callable[[], object]) -> object:
    with np.errstate(all="ignore"):  # NaN outside the domain is expected, not news
        return f()


class _Workload:
    names: list[str]
    agreement = 1e-9  # values agree when they differ by less than this part of the scale

    def __init__(self, count: int) -> None:
        self.count = count

    @functools.cache
    def points(self) -> list[Any]:
        np = load(NUMPY)
        assert np is not None
        rng = np.random.default_rng(16)
        return [rng.uniform(-2.0, 2.0, self.count) for _ in self.names]

    def tavrelo(self) -> object:
        raise NotImplementedError

    def sympy(self) -> object:
        raise NotImplementedError

    def by_hand(self, points: list[Any]) -> Callable[[], object]:
        raise NotImplementedError

    def reference(self) -> tuple[Any, Any]:
        """The values and the scale of their rounding errors."""
        raise NotImplementedError

    def agreeing(self, result: object) -> int:
        np = load(NUMPY)
        assert np is not None
        want, scale = self.reference()
        got = np.asarray(result, dtype=np.float64)
        close = np.abs(got - want) <= self.agreement * scale
        agreeing = int(np.count_nonzero(close | (np.isnan(got) & np.isnan(want))))
        return self.count if agreeing >= (1 - ILL_CONDITIONED) * self.count else agreeing


# --- a random tree ---------------------------------------------------------------------------

# Postfix steps: ("x"|"y"|"int", value) leaves, binary "add" "mul" "div", unary "neg" "sin" "cos"
# "tan" "pow" (a square or cube), and three wrappers that keep their argument in the domain:
# sqrt(u^2 + 1), ln(u^2 + 1) and e^(sin u). Each step counts the nodes it adds.
_BINARY = ("add", "add", "mul", "mul", "div")
_UNARY = ("neg", "sin", "cos", "tan", "pow", "sqrt1", "log1", "exp_sin")
_SIZE = {"neg": 1, "sin": 1, "cos": 1, "tan": 1, "pow": 2, "sqrt1": 5, "log1": 5, "exp_sin": 3}


def random_steps(nodes: int, seed: int = 7) -> list[tuple[str, int]]:
    rng = random.Random(seed)
    steps: list[tuple[str, int]] = []
    tasks: list[tuple[str, int]] = [("gen", nodes)]
    while tasks:
        what, n = tasks.pop()
        if what != "gen":
            steps.append((what, n))
            continue
        unary = [op for op in _UNARY if _SIZE[op] < n]
        if n == 1 or (n == 2 and not unary):
            leaf = rng.choice(["x", "y", "x", "y", "int"])
            steps.append((leaf, rng.randrange(1, 10) if leaf == "int" else 0))
        elif n >= 3 and rng.random() < 0.6:
            left = rng.randrange(1, n - 1)
            tasks += [(rng.choice(_BINARY), 0), ("gen", n - 1 - left), ("gen", left)]
        else:
            op = rng.choice(unary)
            tasks += [(op, rng.randrange(2, 4) if op == "pow" else 0), ("gen", n - _SIZE[op])]
    return steps


def replay(steps: list[tuple[str, int]], ops: dict[str, Callable[..., Any]]) -> Any:
    stack: list[Any] = []
    for op, arg in steps:
        if op in ("x", "y", "int"):
            stack.append(ops[op](arg))
        elif op in _BINARY:
            right = stack.pop()
            stack.append(ops[op](stack.pop(), right))
        elif op == "pow":
            stack.append(ops[op](stack.pop(), arg))
        else:
            stack.append(ops[op](stack.pop()))
    assert len(stack) == 1
    return stack[0]


class _RandomTree(_Workload):
    names = ["x", "y"]
    agreement = 1e-6

    def __init__(self, count: int) -> None:
        super().__init__(count)
        self.steps = random_steps(TREE_NODES)

    def tavrelo(self) -> object:
        tv = load(TAVRELO)
        assert tv is not None
        x, y = tv.Var("x"), tv.Var("y")

        def plus_one_square(u: object) -> object:
            return tv.Add(tv.Mul(u, u), tv.Int(1))

        return replay(self.steps, {
            "x": lambda _: x, "y": lambda _: y, "int": tv.Int,
            "add": tv.Add, "mul": tv.Mul, "div": tv.Div, "neg": tv.Neg,
            "sin": tv.Sin, "cos": tv.Cos, "tan": tv.Tan,
            "pow": lambda u, k: tv.Pow(u, tv.Int(k)),
            "sqrt1": lambda u: tv.Sqrt(plus_one_square(u)),
            "log1": lambda u: tv.Log(plus_one_square(u)),
            "exp_sin": lambda u: tv.Pow(tv.E(), tv.Sin(u)),
        })

    def sympy(self) -> object:
        tv = load(TAVRELO)
        assert tv is not None
        return tv.to_sympy(self.tavrelo())  # the same shape, nothing evaluated away

    def by_hand(self, points: list[Any]) -> Callable[[], object]:
        np = load(NUMPY)
        assert np is not None
        x, y = points

        def run() -> object:
            with np.errstate(all="ignore"):
                return replay(self.steps, {
                    "x": lambda _: x, "y": lambda _: y, "int": float,
                    "add": np.add, "mul": np.multiply, "div": np.divide, "neg": np.negative,
                    "sin": np.sin, "cos": np.cos, "tan": np.tan,
                    "pow": lambda u, k: u * u if k == 2 else u * u * u,
                    "sqrt1": lambda u: np.sqrt(u * u + 1),
                    "log1": lambda u: np.log(u * u + 1),
                    "exp_sin": lambda u: np.exp(np.sin(u)),
                })

        return run

    @functools.cache
    def reference(self) -> tuple[Any, Any]:
        np = load(NUMPY)
        assert np is not None
        want = np.asarray(self.by_hand(self.points())(), dtype=np.float64)
        return want, np.maximum(np.abs(want), 1.0)


# --- B3's expanded result --------------------------------------------------------------------


class _Polynomial(_Workload):
    """(x + y + z + w + 1)^n expanded: every product of powers with its multinomial coefficient."""

    def __init__(self, expansion: polynomials.Expansion, count: int) -> None:
        super().__init__(count)
        ((terms, self.n),) = expansion.input.factors
        self.expansion = expansion
        self.names = [v for _, powers in terms for v, _ in powers]

    def tavrelo(self) -> object:
        tv = load(TAVRELO)
        assert tv is not None
        return tv.expand(polynomials.tavrelo_input(self.expansion.input))

    def sympy(self) -> object:
        sp = load(SYMPY)
        assert sp is not None
        return sp.expand(polynomials.symbolic_input(SYMPY, self.expansion.input))

    def terms(self) -> list[tuple[int, tuple[int, ...]]]:
        k = len(self.names)
        found = []
        for exps in itertools.product(range(self.n + 1), repeat=k):
            rest = self.n - sum(exps)
            if rest >= 0:
                c = math.factorial(self.n) // math.prod(math.factorial(e) for e in (*exps, rest))
                found.append((c, exps))
        return found

    def by_hand(self, points: list[Any]) -> Callable[[], object]:
        np = load(NUMPY)
        assert np is not None
        terms = self.terms()

        def run() -> object:
            powers = [[np.ones_like(p)] for p in points]
            for table, p in zip(powers, points, strict=True):
                for _ in range(self.n):
                    table.append(table[-1] * p)
            total = np.zeros_like(points[0])
            term = np.empty_like(total)
            for c, exps in terms:
                np.multiply(powers[0][exps[0]], c, out=term)
                for table, e in zip(powers[1:], exps[1:], strict=True):
                    if e:
                        term *= table[e]
                total += term
            return total

        return run

    @functools.cache
    def reference(self) -> tuple[Any, Any]:
        # The closed form, and the size of the terms that cancel in the expanded sum.
        np = load(NUMPY)
        assert np is not None
        points = self.points()
        want = (sum(points) + 1) ** self.n
        return want, (sum(np.abs(p) for p in points) + 1) ** self.n
