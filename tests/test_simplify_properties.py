"""simplify over random trees: no rule but the closing 'otherwise' matches anywhere in a result,
and simplifying a result again changes nothing."""

import math

from hypothesis import HealthCheck, assume, given, settings
from hypothesis import strategies as st
from simplify_shapes import BINARY, UNARY, children, shape

from tavrelo import Add, Div, E, Int, Mul, Neg, Pi, Pow, Rational, Sqrt, Var, simplify
from tavrelo import Cbrt, Cos, Log, Sin, Tan

MIN = -(2**31)
MAX = 2**31 - 1
SPECIAL_INTS = [0, 1, -1, 2, 3, 4, 6, 8, 12, 16, 27, -27, 72, 1000, 46340, 2147395600, MIN, MAX]


def is_int(e, n=None):
    return type(e) is Int and (n is None or e.value() == n)


def square_free(v):
    f = 2
    while f * f <= v:
        if v % (f * f) == 0:
            return False
        f += 1
    return True


def is_cube(v):
    r = round(math.copysign(abs(v) ** (1 / 3), v))
    return any((r + d) ** 3 == v for d in (-1, 0, 1))


def first_rule_matching(e):
    """Name of the first rule that matches node `e` whose children are taken as simplified, or
    None when only the closing 'otherwise' applies."""
    kind = type(e)
    if kind is Neg:
        s = e.operand()
        return {Neg: "double negation", Int: "negate Int", Rational: "negate Rational"}.get(type(s))
    if kind in (Add, Mul, Div, Pow):
        a, b = children(e)
        both_ints = is_int(a) and is_int(b)
        equal = shape(a) == shape(b)
        if kind is Add:
            checks = [(is_int(a, 0), "0 + r"), (is_int(b, 0), "l + 0"), (both_ints, "fold"), (equal, "l + l")]
        elif kind is Mul:
            checks = [
                (is_int(a, 0) or is_int(b, 0), "absorbing 0"),
                (is_int(a, 1) or is_int(b, 1), "neutral 1"),
                (both_ints, "fold"),
            ]
        elif kind is Div:
            checks = [
                (is_int(b, 0), "zero divisor"),
                (is_int(a, 0), "0 / d"),
                (both_ints, "fold"),
                (equal, "n / n"),
                (type(b) is Sqrt and is_int(b.operand()), "root denominator"),
            ]
        else:
            checks = [
                (is_int(b, 0), "x^0"),
                (is_int(b, 1), "x^1"),
                (is_int(a, 0) or is_int(a, 1), "0^x or 1^x"),
                (both_ints, "fold"),
            ]
        return next((name for hit, name in checks if hit), None)
    if kind in (Sqrt, Cbrt, Sin, Cos, Tan, Log):
        s = e.operand()
        if kind is Sqrt and is_int(s):
            v = s.value()
            return None if v >= 2 and square_free(v) else "root of Int"
        if kind is Cbrt:
            if is_int(s):
                return "cube root of a cube" if is_cube(s.value()) else None
            return "cube root of x^3" if type(s) is Pow and is_int(s.exp(), 3) else None
        if kind in (Sin, Cos, Tan):
            special_quotient = type(s) is Div and type(s.num()) is Pi and is_int(s.den())
            if is_int(s, 0) or type(s) is Pi or (special_quotient and s.den().value() in (1, 2, 4)):
                return "special value"
            return None
        if kind is Log:
            if is_int(s, 1) or type(s) is E or (type(s) is Pow and type(s.base()) is E):
                return "special value"
        return None
    return None


def nodes(root):
    """Each node of a tree or DAG once. The wrappers are kept alive so that their ids stay unique
    (a wrapper is reused for the same node only while it lives)."""
    seen, stack = {}, [root]
    while stack:
        e = stack.pop()
        if id(e) in seen:
            continue
        seen[id(e)] = e
        yield e
        stack.extend(children(e))


ints = st.one_of(st.integers(-4, 12), st.sampled_from(SPECIAL_INTS)).map(Int)
leaves = st.one_of(
    ints,
    st.sampled_from(["x", "y"]).map(Var),
    st.builds(Rational, st.integers(-5, 5), st.integers(1, 4)),
    st.just(None).map(lambda _: Pi()),
    st.just(None).map(lambda _: E()),
    st.sampled_from([1, 2, 3, 4, 6, -2]).map(lambda n: Div(Pi(), Int(n))),
)


def extend(sub):
    return st.one_of(
        st.builds(lambda cls, a: cls(a), st.sampled_from(UNARY), sub),
        st.builds(lambda cls, a, b: cls(a, b), st.sampled_from(list(BINARY)), sub, sub),
        # Shared subtrees: the same node used twice.
        st.builds(lambda cls, a: cls(a, a), st.sampled_from(list(BINARY)), sub),
        st.builds(lambda a: Pow(E(), a), sub),
        st.builds(lambda a, n: Pow(a, Int(n)), sub, st.sampled_from([0, 1, 2, 3, -1])),
        st.builds(lambda a, k: Div(a, Sqrt(Int(k))), sub, st.sampled_from([2, 3, 8, 12])),
    )


trees = st.recursive(leaves, extend, max_leaves=40)


KINDS = list(UNARY) + list(BINARY)


@st.composite
def larger_trees(draw):
    """Trees of up to a few hundred nodes, built bottom-up from a pool of finished subtrees; a
    subtree is now and then used twice (a DAG)."""
    pool = draw(st.lists(leaves, min_size=4, max_size=16))
    step = st.tuples(st.sampled_from(KINDS), st.integers(0, 7), st.integers(0, 7), st.booleans())
    steps = draw(st.lists(step, min_size=30, max_size=150))
    for cls, i, j, share in steps:
        a = pool[i % len(pool)] if share else pool.pop(i % len(pool))
        if cls in UNARY:
            pool.append(cls(a))
            continue
        b = pool.pop(j % len(pool)) if pool else draw(leaves)
        pool.append(cls(a, b))
    tree = pool.pop()
    while pool:
        tree = Add(tree, pool.pop())
    return tree


def unfolded_size(root):
    keep, sizes = [], {}

    def size(e):
        if id(e) not in sizes:
            keep.append(e)
            sizes[id(e)] = 1 + sum(size(c) for c in children(e))
        return sizes[id(e)]

    return size(root)


def check_fixed_point(tree):
    before = shape(tree)
    try:
        result = simplify(tree)
    except ValueError:
        return  # domain and overflow errors have their own tests
    assert shape(tree) == before
    if children(tree):
        assert result is not tree
    for node in nodes(result):
        assert first_rule_matching(node) is None, (shape(node), first_rule_matching(node), before)
    again = simplify(result)
    assert shape(again) == shape(result)
    assert again.to_string() == result.to_string()


@settings(max_examples=1500, derandomize=True, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(trees)
def test_small_results_are_fixed_points(tree):
    check_fixed_point(tree)


@settings(max_examples=300, derandomize=True, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(larger_trees())
def test_larger_results_are_fixed_points(tree):
    assume(unfolded_size(tree) <= 4000)
    check_fixed_point(tree)
