"""What Python sees of the extension module: names, signatures, conversions, errors, identity."""

import ast
import gc
import importlib
import pathlib
import sys
from collections.abc import Callable
from typing import Any

import pytest

import tavrelo
import tavrelo._tavrelo_core as core
import tavrelo._tavrelo_tools as tools
from node_classes import BINARY, UNARY
from tavrelo import (
    Add,
    Div,
    E,
    Expr,
    Int,
    Mul,
    Neg,
    Pi,
    Pow,
    Rational,
    Sin,
    Sqrt,
    Var,
    expand,
    simplify,
)

M = "tavrelo._tavrelo_core"
INT = "typing.SupportsInt | typing.SupportsIndex"
NODE = f"{M}.Expr"

# name, constructor parameters (name, rendered type), accessors (name, rendered result)
CLASSES: list[tuple[str, list[tuple[str, str]] | None, list[tuple[str, str]]]] = [
    ("Expr", None, [("to_string", "str")]),
    ("Int", [("value", INT)], [("value", "int")]),
    ("Var", [("name", "str")], [("name", "str")]),
    ("Rational", [("num", INT), ("den", INT)], [("num", "int"), ("den", "int")]),
    ("Neg", [("operand", NODE)], [("operand", NODE)]),
    ("Add", [("left", NODE), ("right", NODE)], [("left", NODE), ("right", NODE)]),
    ("Mul", [("left", NODE), ("right", NODE)], [("left", NODE), ("right", NODE)]),
    ("Div", [("num", NODE), ("den", NODE)], [("num", NODE), ("den", NODE)]),
    ("Pow", [("base", NODE), ("exp", NODE)], [("base", NODE), ("exp", NODE)]),
    ("Sqrt", [("operand", NODE)], [("operand", NODE)]),
    ("Pi", [], []),
    ("E", [], []),
    ("Cbrt", [("operand", NODE)], [("operand", NODE)]),
    ("Sin", [("operand", NODE)], [("operand", NODE)]),
    ("Cos", [("operand", NODE)], [("operand", NODE)]),
    ("Tan", [("operand", NODE)], [("operand", NODE)]),
    ("Log", [("operand", NODE)], [("operand", NODE)]),
]
CLASS_NAMES = [name for name, _, _ in CLASSES]
NODE_CLASSES = [getattr(core, name) for name in CLASS_NAMES[1:]]
DOCSTRINGS = {
    "to_string": "LaTeX形式の文字列を返す",
    "simplify": "数式を簡略化する",
    "expand": "数式を展開して同類項をまとめる",
}
INTERPRETER_ATTRIBUTES = {"__name__", "__doc__", "__package__", "__loader__", "__spec__", "__file__"}
ZERO_DENOMINATOR = "エラー: 分母をゼロにすることはできません。"
OVERFLOW = "整数オーバーフローエラー"
INT_MIN, INT_MAX = -(2**31), 2**31 - 1

x = Var("x")
y = Var("y")


def expected_docs() -> list[tuple[Callable[..., Any], str]]:
    rows: list[tuple[Callable[..., Any], str]] = []
    for name, params, accessors in CLASSES:
        cls = getattr(core, name)
        if params is not None:
            args = "".join(f", {p}: {t}" for p, t in params)
            rows.append((cls.__init__, f"__init__(self: {M}.{name}{args}) -> None"))
        for method, result in accessors:
            sig = f"{method}(self: {M}.{name}) -> {result}"
            doc = DOCSTRINGS.get(method)
            rows.append((getattr(cls, method), sig + (f"\n\n{doc}" if doc else "")))
    for fn in ("simplify", "expand"):
        rows.append((getattr(core, fn), f"{fn}(expr: {NODE}) -> {NODE}\n\n{DOCSTRINGS[fn]}"))
    return rows


@pytest.mark.parametrize(("fn", "doc"), expected_docs(), ids=lambda v: getattr(v, "__qualname__", ""))
def test_rendered_signature_and_docstring(fn: Callable[..., Any], doc: str) -> None:
    assert fn.__doc__ is not None
    assert fn.__doc__.removesuffix("\n") == doc


def test_module_docstring_and_name() -> None:
    assert core.__doc__ == "Tavrelo: 高校数Ⅲレベルの数式処理ライブラリ (C++ core)"
    assert core.__name__ == M


def test_module_attributes_in_registration_order() -> None:
    own = [k for k in vars(core) if k not in INTERPRETER_ATTRIBUTES]
    assert own == [*CLASS_NAMES, "simplify", "expand"]


def test_class_tree() -> None:
    assert [b.__name__ for b in Expr.__bases__] == ["pybind11_object"]
    library_metaclass = type(Expr.__bases__[0])
    assert library_metaclass.__name__ == "pybind11_type"
    for cls in [Expr, *NODE_CLASSES]:
        assert type(cls) is library_metaclass
    for cls in NODE_CLASSES:
        assert cls.__bases__ == (Expr,)
        assert cls.__module__ == M


@pytest.mark.parametrize(("name", "params", "accessors"), CLASSES, ids=CLASS_NAMES)
def test_class_body_holds_exactly_the_registered_methods(
    name: str, params: list[tuple[str, str]] | None, accessors: list[tuple[str, str]]
) -> None:
    cls = getattr(core, name)
    library = {"__doc__", "__module__", "_pybind11_conduit_v1_"}
    # No class docstring, no operators, no representation, no pickling, no instance dict.
    assert cls.__doc__ is None
    constructor = [] if params is None else ["__init__"]
    assert [k for k in vars(cls) if k not in library] == [*constructor, *(a for a, _ in accessors)]
    assert library <= set(vars(cls))
    for method, _ in accessors:
        assert not isinstance(vars(cls)[method], property)


def test_objects_keep_pythons_default_identity_semantics() -> None:
    a, b = Int(1), Int(1)
    assert a != b and a == a
    assert len({a, b, a}) == 2
    assert repr(a).startswith(f"<{M}.Int object at 0x")
    assert callable(Int(3).value) and Int(3).value() == 3


@pytest.mark.parametrize("obj", [Int(3), Var("x"), Neg(x), Pi()], ids=lambda o: type(o).__name__)
def test_no_attribute_can_be_set(obj: Expr) -> None:
    for attribute in ("value", "operand", "anything", "__dict__"):
        with pytest.raises(AttributeError):
            setattr(obj, attribute, 5)
    assert not hasattr(obj, "__dict__")


class Index:
    def __index__(self) -> int:
        return 7


@pytest.mark.parametrize(
    ("make", "read", "want"),
    [
        (lambda: Int(INT_MAX), lambda n: n.value(), INT_MAX),
        (lambda: Int(INT_MIN), lambda n: n.value(), INT_MIN),
        (lambda: Int(True), lambda n: n.value(), 1),
        (lambda: Int(value=5), lambda n: n.value(), 5),
        (lambda: Int(Index()), lambda n: n.value(), 7),
        (lambda: Var(name="z"), lambda n: n.name(), "z"),
        (lambda: Var(b"ab"), lambda n: n.name(), "ab"),
        (lambda: Var(bytearray(b"cd")), lambda n: n.name(), "cd"),
        (lambda: Var("θ".encode()), lambda n: n.name(), "θ"),
        (lambda: Var(""), lambda n: n.name(), ""),
        (lambda: Rational(num=1, den=-2), lambda n: (n.num(), n.den()), (-1, 2)),
        (lambda: Pow(base=x, exp=Int(2)), lambda n: n.exp().value(), 2),
        (lambda: Div(num=x, den=y), lambda n: n.den().name(), "y"),
    ],
)
def test_arguments_that_convert(
    make: Callable[[], Expr], read: Callable[[Any], object], want: object
) -> None:
    assert read(make()) == want


@pytest.mark.parametrize(
    ("num", "den", "want"),
    [
        (6, -4, (-3, 2)),
        (-6, -4, (3, 2)),
        (0, 5, (0, 1)),
        (0, -5, (0, 1)),
        (4, 2, (2, 1)),
        (INT_MIN, -2, (1073741824, 1)),
        (INT_MIN, 2, (-1073741824, 1)),
        (INT_MIN, 1, (INT_MIN, 1)),
        (INT_MIN, INT_MIN, (1, 1)),
        (INT_MAX, -1, (-INT_MAX, 1)),
        (0, INT_MIN, (0, 1)),
    ],
)
def test_rational_normalisation(num: int, den: int, want: tuple[int, int]) -> None:
    r = Rational(num, den)
    assert type(r) is Rational
    assert (r.num(), r.den()) == want


@pytest.mark.parametrize(
    ("num", "den", "message"),
    [
        (1, 0, ZERO_DENOMINATOR),
        (0, 0, ZERO_DENOMINATOR),
        (INT_MIN, 0, ZERO_DENOMINATOR),
        (INT_MIN, -1, OVERFLOW),
        (1, INT_MIN, OVERFLOW),
        (-1, INT_MIN, OVERFLOW),
        (INT_MAX, INT_MIN, OVERFLOW),
    ],
)
def test_rational_errors(num: int, den: int, message: str) -> None:
    with pytest.raises(ValueError) as info:
        Rational(num, den)
    assert str(info.value) == message


REFUSED: list[tuple[Callable[..., Any], tuple[Any, ...]]] = [
    (Int, (2.0,)),
    (Int, (2**31,)),
    (Int, (INT_MIN - 1,)),
    (Int, ("1",)),
    (Int, (None,)),
    (Int, ()),
    (Int, (1, 2)),
    (Var, (1,)),
    (Var, (None,)),
    (Var, ("\ud800",)),
    (Rational, (1.0, 2)),
    (Rational, (1, 2**31)),
    (Rational, (1,)),
    (Add, (1, 2)),
    (Add, (Int(1),)),
    (Mul, (x, "y")),
    (Pi, (1,)),
    (E, (x,)),
    (simplify, (1,)),
    (expand, ("x",)),
    (simplify, ()),
    *((cls, (None,)) for cls in UNARY),
    *((cls, (1,)) for cls in UNARY),
    *((cls, (None, x)) for cls in BINARY),
    *((cls, (x, None)) for cls in BINARY),
]


@pytest.mark.parametrize(("fn", "args"), REFUSED)
def test_arguments_that_do_not_convert(fn: Callable[..., Any], args: tuple[Any, ...]) -> None:
    with pytest.raises(TypeError):
        fn(*args)


def test_refusal_names_the_callable_and_its_signature() -> None:
    with pytest.raises(TypeError) as info:
        Int(2.0)
    text = str(info.value)
    assert text.startswith("__init__(): incompatible constructor arguments.")
    assert f"1. {M}.Int(value: {INT})" in text
    assert text.endswith("Invoked with: 2.0")


def test_base_class_cannot_be_instantiated() -> None:
    with pytest.raises(TypeError) as info:
        Expr()
    assert str(info.value) == f"{M}.Expr: No constructor defined!"

    class Bare(Expr):
        pass

    with pytest.raises(TypeError, match="^Bare: No constructor defined!$"):
        Bare()


def test_unknown_keywords_are_refused() -> None:
    for make in (lambda: Int(val=1), lambda: Add(x, left=y), lambda: Neg(operand=x, extra=1)):
        with pytest.raises(TypeError, match="incompatible constructor arguments"):
            make()


def test_none_passes_through_the_module_functions() -> None:
    assert simplify(None) is None
    assert expand(None) is None


def test_existing_wrapper_is_returned() -> None:
    a, b = Var("a"), Int(2)
    assert Neg(a).operand() is a
    s = Add(a, b)
    assert s.left() is a and s.right() is b
    d = Div(a, b)
    assert d.num() is a and d.den() is b
    p = Pow(Var("q"), Int(3))
    assert p.base() is p.base()


def test_children_come_back_as_their_own_class() -> None:
    d = Div(x, Int(2))
    assert type(d.den()) is Int
    with pytest.raises(AttributeError):
        d.left  # noqa: B018
    inner = Add(Mul(Int(2), Sqrt(Pi())), E())
    assert [type(c) for c in (inner.left(), inner.right())] == [Mul, E]


def test_nodes_are_shared_not_copied_across_the_boundary() -> None:
    child = Neg(Var("z")).operand()
    gc.collect()
    assert child.to_string() == "z"
    parent = Add(Var("p"), Int(1))
    parent.left()
    parent.right()
    gc.collect()
    assert parent.to_string() == "p + 1"


def test_python_subclasses_are_nodes() -> None:
    class Named(Var):
        pass

    n = Named("q")
    wrapped = Neg(n)
    assert wrapped.operand() is n
    assert wrapped.to_string() == "-q"

    class Unready(Var):
        def __init__(self) -> None:
            pass

    with pytest.raises(TypeError, match="__init__\\(\\) must be called"):
        Unready()


def test_name_that_is_not_utf8_fails_only_when_decoded() -> None:
    bad = Var(b"\xff\xfe")
    trees = [bad, Add(x, bad), Mul(Pi(), bad), Sin(bad)]
    with pytest.raises(UnicodeDecodeError):
        bad.name()
    for tree in trees:
        with pytest.raises(UnicodeDecodeError):
            tree.to_string()
    assert Neg(bad).operand() is bad
    del trees, bad
    gc.collect()
    assert Var(b"ok").to_string() == "ok"


def test_import_again_gives_the_same_module() -> None:
    removed = sys.modules.pop(M)
    try:
        again = importlib.import_module(M)
    finally:
        sys.modules[M] = removed
    assert again is removed and again.Int is Int
    assert importlib.reload(core) is core and core.Int is Int


def test_package_reexports_the_module() -> None:
    module_names = [*CLASS_NAMES, "simplify", "expand"]
    core_part = [*module_names, "to_sympy", "from_sympy"]
    assert tavrelo.__all__[: len(core_part)] == core_part
    # What follows comes from the second module.
    for name in tavrelo.__all__[len(core_part) :]:
        assert getattr(tavrelo, name) is getattr(tavrelo._tavrelo_tools, name)
    for name in module_names:
        assert getattr(tavrelo, name) is getattr(core, name)
    # Every function of the second module is offered by the package too.
    for name in (n for n in vars(tools) if not n.startswith("_")):
        assert name in tavrelo.__all__ and getattr(tavrelo, name) is getattr(tools, name)
    assert {"to_sympy", "from_sympy"} <= set(tavrelo.__all__)
    assert all(hasattr(tavrelo, name) for name in tavrelo.__all__)


def test_stub_and_marker_are_installed() -> None:
    # Whether the stub matches the module is checked by stubtest (test_typing.py).
    package = pathlib.Path(tavrelo.__file__).parent
    assert (package / "py.typed").exists()
    stub = ast.parse((package / "_tavrelo_core.pyi").read_text(encoding="utf-8"))
    classes = [n.name for n in stub.body if isinstance(n, ast.ClassDef)]
    assert [c for c in classes if c in CLASS_NAMES] == CLASS_NAMES


def test_subinterpreters(child_python: Callable[..., Any]) -> None:
    # An isolated subinterpreter refuses the module; a legacy one registers classes of its own.
    result = child_python("""
        try:
            import _xxsubinterpreters as interpreters
        except ImportError:
            print("skip")
            raise SystemExit
        code = "import tavrelo; print(tavrelo.Add(tavrelo.Var('x'), tavrelo.Int(2)).to_string())"
        for isolated in (True, False):
            i = interpreters.create(isolated=isolated)
            try:
                interpreters.run_string(i, code)
            except interpreters.RunFailedError as error:
                refused = "does not support loading in subinterpreters" in str(error)
                print("refused" if refused else error)
            interpreters.destroy(i)
        print(Neg(Pi()).to_string())
    """)
    assert result.returncode == 0, result.stderr[-2000:]
    if result.stdout == "skip\n":
        pytest.skip("no subinterpreter module in this Python")
    assert result.stdout == "refused\nx + 2\n-\\pi\n"
