"""Calling a node class positionally takes a fast path that bypasses the binding library's
dispatcher; every other call goes through the dispatcher. Both must give the same nodes and the
same errors. `type(cls).__call__(cls, ...)` always takes the dispatcher's path, so each row is run
both ways and compared."""

import subprocess
import sys
import textwrap
from collections.abc import Callable
from typing import Any

import pytest

from node_classes import BINARY, UNARY
from tavrelo import Add, E, Expr, Int, Neg, Pi, Rational, Var

SCALARS = {Int: ("value",), Var: ("name",), Rational: ("num", "den")}
INT_MIN, INT_MAX = -(2**31), 2**31 - 1

x, y = Var("x"), Var("y")
RAW = Int.__new__(Int)  # never initialised: it holds no node, and only the refusals use it


class Index:
    def __index__(self) -> int:
        return 7


class NamedVar(Var):
    pass


class SmallInt(int):
    pass


class Text(str):
    pass


def label(row: Any) -> str:
    return getattr(row, "__name__", None) or repr(row)


def ordinary(cls: type, *args: Any, **kwargs: Any) -> Any:
    """The call through the dispatcher, whatever the arguments."""
    return type(cls).__call__(cls, *args, **kwargs)


def fields(node: Expr) -> tuple[Any, ...]:
    """Class, scalar fields and children (by identity) of a node."""
    cls = type(node)
    names = SCALARS.get(cls) or BINARY.get(cls) or (("operand",) if cls in UNARY else ())
    values = [getattr(node, name)() for name in names]
    return (cls, *(id(v) if isinstance(v, Expr) else v for v in values))


def accepted() -> list[tuple[type, tuple[Any, ...]]]:
    rows: list[tuple[type, tuple[Any, ...]]] = [
        (Int, (0,)),
        (Int, (-5,)),
        (Int, (INT_MAX,)),
        (Int, (INT_MIN,)),
        (Var, ("x",)),
        (Var, ("",)),
        (Var, ("θ_1",)),
        (Var, ("a\x00b",)),
        (Var, ("\\alpha",)),
        (Rational, (6, -4)),
        (Rational, (0, -5)),
        (Rational, (INT_MIN, 2)),
        (Rational, (INT_MAX, -1)),
        (Pi, ()),
        (E, ()),
        # Shapes the fast path leaves to the dispatcher, which accepts them.
        (Int, (True,)),
        (Int, (Index(),)),
        (Int, (SmallInt(4),)),
        (Var, (b"ab",)),
        (Var, (bytearray(b"cd"),)),
        (Var, (Text("t"),)),
        (Rational, (Index(), 2)),
    ]
    children = [x, Int(3), Rational(1, 2), Pi(), Neg(y), Add(x, y), NamedVar("q")]
    rows += [(cls, (child,)) for cls in UNARY for child in children]
    rows += [(cls, (a, b)) for cls in BINARY for a, b in zip(children, children[1:] + children[:1])]
    rows += [(Add, (x, x))]
    return rows


@pytest.mark.parametrize(("cls", "args"), accepted(), ids=label)
def test_both_paths_build_the_same_node(cls: type, args: tuple[Any, ...]) -> None:
    fast, slow = cls(*args), ordinary(cls, *args)
    assert type(fast) is type(slow) is cls
    assert fields(fast) == fields(slow)
    assert fast.to_string() == slow.to_string()
    for arg, child in zip(args, fields(fast)[1:]):
        if isinstance(arg, Expr):
            assert child == id(arg)  # the caller's wrapper comes back, not a copy


@pytest.mark.parametrize(("cls", "args"), [r for r in accepted() if r[0] not in (Pi, E)], ids=label)
def test_keyword_calls_match_positional_calls(cls: type, args: tuple[Any, ...]) -> None:
    names = SCALARS.get(cls) or BINARY.get(cls) or ("operand",)
    by_name = cls(**dict(zip(names, args)))
    mixed = cls(args[0], **dict(zip(names[1:], args[1:])))
    for node in (by_name, mixed):
        assert fields(node) == fields(cls(*args))


def refused() -> list[tuple[type, tuple[Any, ...]]]:
    not_nodes: list[Any] = [None, 1, 1.0, "x", Int, object(), RAW]
    rows: list[tuple[type, tuple[Any, ...]]] = []
    for cls in UNARY:
        rows += [(cls, (v,)) for v in not_nodes] + [(cls, ()), (cls, (x, x))]
    for cls in BINARY:
        rows += [(cls, (x, v)) for v in not_nodes] + [(cls, (v, x)) for v in not_nodes]
        rows += [(cls, (x,)), (cls, (x, y, x))]
    rows += [(Pi, (x,)), (E, (1,)), (E, (None,))]
    not_ints: list[Any] = [None, 1.5, "1", x, INT_MAX + 1, INT_MIN - 1, 10**100]
    rows += [(Int, (v,)) for v in not_ints] + [(Int, ()), (Int, (1, 2))]
    rows += [(Rational, (v, 1)) for v in not_ints] + [(Rational, (1, v)) for v in not_ints]
    rows += [(Rational, (1, 0)), (Rational, (0, 0)), (Rational, (INT_MIN, -1))]
    rows += [(Rational, (1, INT_MIN)), (Rational, (1,)), (Rational, (1, 2, 3))]
    rows += [(Var, (v,)) for v in ["\ud800", "a\udfffb", None, 1, x]]
    rows += [(Var, ()), (Var, ("a", "b"))]
    return rows


def failure(make: Callable[[], Any]) -> tuple[type, str]:
    with pytest.raises(Exception) as info:
        make()
    return type(info.value), str(info.value)


@pytest.mark.parametrize(("cls", "args"), refused(), ids=label)
def test_both_paths_refuse_with_the_same_error(cls: type, args: tuple[Any, ...]) -> None:
    nodes = [a for a in args if isinstance(a, Expr) and a is not RAW]
    before = [a.to_string() for a in nodes]
    fast = failure(lambda: cls(*args))
    assert fast == failure(lambda: ordinary(cls, *args))
    assert fast[0] in (TypeError, ValueError, RuntimeError)
    assert [a.to_string() for a in nodes] == before


def test_keywords_are_refused_as_before() -> None:
    for make in (lambda: Int(val=1), lambda: Add(x, left=y), lambda: Neg(operand=x, extra=1)):
        kind, text = failure(make)
        assert kind is TypeError and "incompatible constructor arguments" in text


def test_subclasses_run_their_own_init() -> None:
    seen: list[tuple[str, ...]] = []

    class Tagged(Add):
        def __init__(self, left: Expr, right: Expr, tag: str) -> None:
            super().__init__(left, right)
            seen.append((tag,))

    node = Tagged(x, y, "t")
    assert seen == [("t",)] and type(node) is Tagged
    assert node.left() is x and Neg(node).operand() is node
    assert Add(node, node).to_string() == "x + y + x + y"

    class Unready(Add):
        def __init__(self) -> None:
            pass

    with pytest.raises(TypeError, match="__init__\\(\\) must be called"):
        Unready()


def run_python(program: str) -> str:
    result = subprocess.run(
        [sys.executable, "-W", "error", "-c", textwrap.dedent(program)],
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert result.returncode == 0, result.stderr[-2000:]
    return result.stdout


def test_a_replaced_init_is_called() -> None:
    # In a child process: the class keeps the ordinary path for the rest of the process.
    out = run_python("""
        from tavrelo import Add, Int
        plain = Add.__init__
        def init(self, left, right):
            print("replaced")
            plain(self, right, left)
        Add.__init__ = init
        print(Add(Int(1), Int(2)).to_string())
        Add.__init__ = plain
        print(Add(Int(1), Int(2)).to_string())
    """)
    assert out == "replaced\n2 + 1\n1 + 2\n"


def test_threads_build_at_once() -> None:
    out = run_python("""
        import threading
        from tavrelo import Add, Int, Neg, Var
        x = Var("x")
        results = []
        def build(k):
            e = x
            for i in range(20_000):
                e = Add(e, Int(i % 5)) if i % 3 else Neg(e)
            results.append(len(e.to_string()))
        threads = [threading.Thread(target=build, args=(k,)) for k in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        print(len(set(results)), len(results))
    """)
    assert out == "1 4\n"


def test_subinterpreters() -> None:
    # An isolated subinterpreter refuses the module; a legacy one gets classes of its own,
    # called the ordinary way.
    out = run_python("""
        try:
            import _xxsubinterpreters as interpreters
        except ImportError:
            print("skip")
            raise SystemExit
        import tavrelo
        code = "import tavrelo; print(tavrelo.Add(tavrelo.Var('x'), tavrelo.Int(2)).to_string())"
        for isolated in (True, False):
            i = interpreters.create(isolated=isolated)
            try:
                interpreters.run_string(i, code)
            except interpreters.RunFailedError as error:
                refused = "does not support loading in subinterpreters" in str(error)
                print("refused" if refused else error)
            interpreters.destroy(i)
        print(tavrelo.Neg(tavrelo.Pi()).to_string())
    """)
    if out == "skip\n":
        pytest.skip("no subinterpreter module in this Python")
    assert out == "refused\nx + 2\n-\\pi\n"
