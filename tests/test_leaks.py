"""Repeating every operation, including the calls that raise, leaks neither memory nor Python
references."""

import gc
import os
import pickle
import sys

from node_classes import NODE_CLASSES, UNARY
from tavrelo import (
    Add,
    Cbrt,
    Cos,
    Div,
    E,
    Int,
    Log,
    Mul,
    Neg,
    Pi,
    Pow,
    Rational,
    Sin,
    Sqrt,
    Tan,
    Var,
    dumps,
    expand,
    loads,
    same,
    simplify,
    structural_hash,
)

ROUNDS = 100_000
PAGE = os.sysconf("SC_PAGE_SIZE")


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * PAGE


def make_round(x, y, shared):
    """One round: build, render, simplify, expand, compare, write and read back, pickle, and
    calls that raise."""

    def one_round(k):
        tree = Add(
            Mul(Pow(Add(x, Int(k % 7)), Int(2)), Sin(Div(Pi(), Int(4)))),
            Add(Neg(Log(Pow(E(), y))), Mul(Sqrt(Int(12)), Cbrt(Rational(k, 3)))),
        )
        tree = Add(tree, Div(Cos(shared), Tan(Add(x, Int(k)))))
        tree.to_string()
        simplify(tree).to_string()
        expand(tree).to_string()
        data = dumps(tree)
        assert same(loads(memoryview(data)), pickle.loads(pickle.dumps(tree)))
        structural_hash(tree)
        for bad in (
            lambda: loads(data[:-1]),
            lambda: loads(b"TVR\x01\x30"),
            lambda: Rational(k, 0),
            lambda: simplify(Div(shared, Add(Int(k), Int(-k)))),
            lambda: expand(Mul(x, Sqrt(Int(-1 - k)))),
            lambda: Int(2**40 + k),
            lambda: Var(b"\xff").name(),
        ):
            try:
                bad()
            except (ValueError, TypeError, UnicodeDecodeError):
                pass
            else:
                raise AssertionError("the call did not raise")

    return one_round


def test_memory_and_references_stay_flat():
    x, y = Var("x"), Var("y")
    shared = Add(x, Mul(Int(2), y))
    watched = [x, y, shared, Int, Add, simplify, expand, ValueError]
    one_round = make_round(x, y, shared)

    for k in range(5_000):  # warm up caches, interned strings and allocator pools
        one_round(k)
    gc.collect()
    refs_before = [sys.getrefcount(obj) for obj in watched]
    rss_before = resident_bytes()

    for k in range(ROUNDS):
        one_round(k)
    gc.collect()
    rss_after = resident_bytes()
    refs_after = [sys.getrefcount(obj) for obj in watched]

    # A leak of a single node per round would add several MiB.
    assert rss_after - rss_before < 2 * 1024 * 1024, (rss_before, rss_after)
    assert refs_after == refs_before
    assert shared.to_string() == "x + 2y"


def test_constructor_calls_leave_memory_and_references_flat():
    """Constructor calls of every shape (positional, keyword, subclasses, refused arguments)
    keep nothing alive."""
    x, y = Var("x"), Var("y")

    class Named(Var):
        pass

    named = Named("n")
    classes = NODE_CLASSES
    watched = [x, y, named, Named, *classes]

    def one_round(k):
        node = Add(x, Int(k))
        for unary in UNARY:
            node = unary(node)
        for binary in (Mul, Div, Pow):
            node = binary(node, Rational(k, 7))
        node = Add(Add(node, Var("v")), Mul(Pi(), E()))
        kept = Neg(x)
        node = Add(node, Sin(kept))
        assert node.right().operand() is kept
        Add(left=node, right=named)
        for bad in (lambda: Add(x, None), lambda: Var("\ud800"), lambda: Rational(k, 0)):
            try:
                bad()
            except (TypeError, ValueError):
                pass
            else:
                raise AssertionError("the call did not raise")

    for k in range(5_000):
        one_round(k)
    gc.collect()
    refs_before = [sys.getrefcount(obj) for obj in watched]
    rss_before = resident_bytes()

    for k in range(ROUNDS):
        one_round(k)
    gc.collect()
    rss_after = resident_bytes()
    refs_after = [sys.getrefcount(obj) for obj in watched]

    assert rss_after - rss_before < 2 * 1024 * 1024, (rss_before, rss_after)
    assert refs_after == refs_before
