"""Bad input, as a table: every class and function refuses wrong arguments with its documented
exception and message, and the nodes passed in are unchanged afterwards."""

import pytest

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
    Tan,
    Var,
    expand,
    simplify,
)

ZERO_DEN = "エラー: 分母をゼロにすることはできません。"
DIV_ZERO = "ゼロ除算エラー"
NEG_SQRT = "負の数の平方根はサポートされていません。"
TAN_PI_2 = "tan(pi/2) は定義されていません"
OVERFLOW = "整数オーバーフローエラー"
CTOR = "__init__(): incompatible constructor arguments"
INT_MAX = 2**31 - 1
INT_MIN = -(2**31)



def x():
    return Var("x")


def arguments_refused_by_every_class():
    """(label, callable, args, kwargs) rows that must raise TypeError."""
    rows = []
    not_nodes = [None, 1, 1.0, "x", b"x", [x()], Int]
    for cls in UNARY:
        name = cls.__name__
        rows += [(f"{name}({v!r})", cls, (v,), {}) for v in not_nodes]
        rows += [(f"{name}()", cls, (), {}), (f"{name}(x, x)", cls, (x(), x()), {})]
        rows += [(f"{name}(bad keyword)", cls, (), {"arg": x()})]
    for cls in BINARY:
        name = cls.__name__
        rows += [(f"{name}(x, {v!r})", cls, (x(), v), {}) for v in not_nodes]
        rows += [(f"{name}({v!r}, x)", cls, (v, x()), {}) for v in not_nodes]
        rows += [(f"{name}(x)", cls, (x(),), {}), (f"{name}(x, x, x)", cls, (x(), x(), x()), {})]
        rows += [(f"{name}(1, 2)", cls, (1, 2), {})]
    for cls in [Pi, E]:
        rows += [(f"{cls.__name__}(x)", cls, (x(),), {}), (f"{cls.__name__}(1)", cls, (1,), {})]
    not_ints = [None, 1.0, 2.5, float("nan"), "1", b"1", 1j, x(), INT_MAX + 1, INT_MIN - 1, 10**100]
    rows += [(f"Int({v!r})", Int, (v,), {}) for v in not_ints]
    rows += [("Int()", Int, (), {}), ("Int(1, 2)", Int, (1, 2), {}), ("Int(val=1)", Int, (), {"val": 1})]
    rows += [(f"Rational({v!r}, 1)", Rational, (v, 1), {}) for v in not_ints]
    rows += [(f"Rational(1, {v!r})", Rational, (1, v), {}) for v in not_ints]
    rows += [("Rational(1)", Rational, (1,), {}), ("Rational(1, 2, 3)", Rational, (1, 2, 3), {})]
    # A str that has no UTF-8 form (a lone surrogate) is refused; so are non-strings.
    rows += [(f"Var({v!r})", Var, (v,), {}) for v in ["\ud800", None, 1, 1.5, x()]]
    rows += [("Var()", Var, (), {}), ("Var('a', 'b')", Var, ("a", "b"), {})]
    return rows


@pytest.mark.parametrize(
    "label, make, args, kwargs", arguments_refused_by_every_class(), ids=lambda v: None
)
def test_constructor_refuses_wrong_arguments(label, make, args, kwargs):
    before = [a.to_string() for a in args if isinstance(a, Expr)]
    with pytest.raises(TypeError, match="incompatible constructor arguments"):
        make(*args, **kwargs)
    assert [a.to_string() for a in args if isinstance(a, Expr)] == before, label


@pytest.mark.parametrize("function", [simplify, expand])
@pytest.mark.parametrize("arg", [1, 1.0, "x", b"x", [Int(1)], Int, object()])
def test_functions_refuse_non_nodes(function, arg):
    with pytest.raises(TypeError, match=rf"^{function.__name__}\(\): incompatible function arguments"):
        function(arg)


@pytest.mark.parametrize("function", [simplify, expand])
def test_functions_take_none_and_wrong_counts(function):
    assert function(None) is None
    assert function(expr=None) is None
    for args, kwargs in [((), {}), ((Int(1), Int(2)), {}), ((), {"node": Int(1)})]:
        with pytest.raises(TypeError, match="incompatible function arguments"):
            function(*args, **kwargs)


def test_expr_has_no_constructor():
    with pytest.raises(TypeError, match=r"Expr: No constructor defined!$"):
        Expr()


def test_nodes_are_read_only():
    node = Add(x(), Int(1))
    for attribute, value in [("left", x()), ("value", 3), ("anything", 1)]:
        with pytest.raises(AttributeError):
            setattr(node, attribute, value)
    with pytest.raises(AttributeError):
        Int(1).value = 2
    assert node.to_string() == "x + 1"


def test_names_that_are_not_utf8():
    for raw in [b"\xff", b"a\x80b", b"\xc3", bytearray(b"\xed\xa0\x80")]:
        v = Var(raw)
        for read in [v.name, v.to_string, Add(x(), v).to_string, Sin(Mul(Int(2), v)).to_string]:
            with pytest.raises(UnicodeDecodeError):
                read()
    assert Var(b"ab").name() == "ab"
    assert Var(bytearray("α".encode())).name() == "α"


def rational_errors():
    return [
        ((1, 0), ZERO_DEN),
        ((0, 0), ZERO_DEN),
        ((INT_MIN, 0), ZERO_DEN),
        ((INT_MIN, -1), OVERFLOW),
        ((1, INT_MIN), OVERFLOW),
    ]


@pytest.mark.parametrize("args, message", rational_errors())
def test_rational_errors(args, message):
    with pytest.raises(ValueError) as info:
        Rational(*args)
    assert str(info.value) == message
    with pytest.raises(ValueError) as info:
        Rational(num=args[0], den=args[1])
    assert str(info.value) == message


def domain_and_overflow_errors():
    """Trees whose simplification fails, with the message; expand must fail the same way."""
    y = Var("y")
    return [
        (Div(Int(1), Int(0)), DIV_ZERO),
        (Div(Int(0), Int(0)), DIV_ZERO),
        (Div(x(), Add(Int(1), Int(-1))), DIV_ZERO),
        (Mul(y, Div(Sin(Pi()), Mul(x(), Int(0)))), DIV_ZERO),
        (Sqrt(Int(-4)), NEG_SQRT),
        (Sqrt(Neg(Int(4))), NEG_SQRT),
        (Sqrt(Int(INT_MIN)), NEG_SQRT),
        (Div(Sqrt(Int(-1)), Int(0)), NEG_SQRT),
        (Tan(Div(Pi(), Int(2))), TAN_PI_2),
        (Tan(Div(Pi(), Add(Int(1), Int(1)))), TAN_PI_2),
        (Add(Tan(Div(Pi(), Int(2))), Div(x(), Int(0))), TAN_PI_2),
        (Add(Int(INT_MAX), Int(1)), OVERFLOW),
        (Add(Int(INT_MIN), Int(-1)), OVERFLOW),
        (Mul(Int(65536), Int(32768)), OVERFLOW),
        (Mul(Int(-1), Int(INT_MIN)), OVERFLOW),
        (Neg(Int(INT_MIN)), OVERFLOW),
        (Div(Int(INT_MIN), Int(-1)), OVERFLOW),
        (Pow(Int(2), Int(31)), OVERFLOW),
        (Pow(Int(-2), Int(32)), OVERFLOW),
        (Pow(Int(2), Int(-31)), OVERFLOW),
        (Pow(Int(3), Int(INT_MIN)), OVERFLOW),
    ]


@pytest.mark.parametrize("tree, message", domain_and_overflow_errors(), ids=lambda v: None)
def test_domain_and_overflow_errors(tree, message):
    before = tree.to_string()
    for function in [simplify, expand]:
        with pytest.raises(ValueError) as info:
            function(tree)
        assert str(info.value) == message, function.__name__
        assert tree.to_string() == before


def expansion_overflows():
    """Trees that simplify but whose expansion leaves 32 bits."""
    y = Var("y")
    return [
        Pow(Add(x(), Int(1)), Int(34)),
        Pow(Add(x(), y), Int(40)),
        Pow(Add(x(), Int(1)), Int(INT_MAX)),
        Mul(Mul(Int(65536), x()), Mul(Int(65536), y)),
        Neg(Mul(Int(INT_MIN), x())),
        Mul(Pow(x(), Int(INT_MAX)), x()),
        Mul(Pow(x(), Int(INT_MIN)), Pow(x(), Int(-1))),
        Add(Mul(Int(INT_MAX), x()), x()),
        Add(Int(INT_MAX), Add(x(), Int(1))),
    ]


@pytest.mark.parametrize("tree", expansion_overflows(), ids=lambda v: None)
def test_expansion_overflow(tree):
    before = tree.to_string()
    simplify(tree)
    with pytest.raises(ValueError) as info:
        expand(tree)
    assert str(info.value) == OVERFLOW
    assert tree.to_string() == before


def test_exact_results_at_the_edge_of_32_bits():
    """Results that fit are exact, however they are computed."""
    rows = [
        (Add(Int(INT_MAX), Int(0)), INT_MAX),
        (Add(Int(INT_MIN + 1), Int(-1)), INT_MIN),
        (Mul(Int(-65536), Int(32768)), INT_MIN),
        (Div(Int(INT_MIN), Int(1)), INT_MIN),
        (Neg(Int(INT_MAX)), -INT_MAX),
        (Pow(Int(-2), Int(31)), INT_MIN),
        (Pow(Int(-1), Int(INT_MAX)), -1),
        (Pow(Int(-1), Int(INT_MAX - 1)), 1),
        (Pow(Int(46340), Int(2)), 46340**2),
    ]
    for tree, value in rows:
        for function in [simplify, expand]:
            result = function(tree)
            assert type(result) is Int and result.value() == value, tree.to_string()
    # Like terms are summed exactly; only the collected coefficient has to fit. Here the
    # products yx are met with coefficients INT_MAX, 1 and -1, in that order.
    y = Var("y")
    product = Mul(Add(Add(x(), y), Int(1)), Add(Add(Mul(Int(INT_MAX), x()), y), Neg(Mul(x(), y))))
    assert expand(product).to_string() == (
        "-yx^{2} + 2147483647yx - y^{2}x + y^{2} + y + 2147483647x^{2} + 2147483647x"
    )
    power = expand(Pow(Add(x(), Int(1)), Int(33))).to_string()
    assert " + 1166803110x^{17} + " in power and power.endswith(" + 33x + 1")
    assert simplify(Pow(Int(-1), Int(INT_MIN))).to_string() == "1"
    assert simplify(Pow(Int(2), Int(-30))).to_string() == r"\frac{1}{1073741824}"


UNSET_CHILD = """
import tavrelo as t
unset = {cls}.__new__({cls})
for call in [lambda: unset.to_string(), *[lambda m=m: getattr(unset, m)() for m in {methods}],
             lambda: t.Neg(unset), lambda: t.Add(t.Int(1), unset), lambda: t.simplify(unset),
             lambda: t.expand(unset)]:
    try:
        call()
    except RuntimeError:
        pass
    else:
        raise SystemExit("no error")
"""

ACCESSORS = {Int: ["value"], Var: ["name"], Rational: ["num", "den"], Pi: [], E: []}
ACCESSORS |= {cls: ["operand"] for cls in UNARY}
ACCESSORS |= {Add: ["left", "right"], Mul: ["left", "right"], Div: ["num", "den"]}
ACCESSORS |= {Pow: ["base", "exp"], Expr: []}


@pytest.mark.parametrize("cls", ACCESSORS, ids=lambda c: c.__name__)
def test_instances_made_without_init_are_refused(child_python, cls):
    """`__new__` alone makes an instance with no node: every use raises instead of reading it."""
    code = UNSET_CHILD.format(cls=f"t.{cls.__name__}", methods=ACCESSORS[cls])
    child = child_python(code)
    assert child.returncode == 0, child.stderr[-2000:]


@pytest.mark.parametrize("cls", [c for c in ACCESSORS if ACCESSORS[c]], ids=lambda c: c.__name__)
def test_accessors_check_the_node_after_class_reassignment(cls):
    """Python lets `__class__` change between classes of one layout; the node does not."""
    other = Var("x") if cls is not Var else Int(1)
    other.__class__ = cls
    for method in ACCESSORS[cls]:
        with pytest.raises(TypeError, match=f"does not hold a node of class {cls.__name__}$"):
            getattr(other, method)()
    text = "x" if cls is not Var else "1"
    assert Add(other, Int(1)).left().to_string() == text  # still usable as the node it holds
    assert simplify(Neg(Neg(other))).to_string() == text
