"""expand: canonical results, the cases that hinge on key text, exact coefficients, errors."""

import functools
import itertools
from math import comb

import pytest
from simplify_shapes import shape

import tavrelo
from tavrelo import Add, Div, E, Int, Mul, Neg, Pow, Rational, Sin, Sqrt, Tan, Var, expand, simplify

x, y, n = Var("x"), Var("y"), Var("n")
OVERFLOW = "整数オーバーフローエラー"

# (input, structure of the result, its text)
TABLE = [
    (Mul(Add(x, Int(1)), Add(x, Int(1))), "Add(Add(Pow(Var(x),Int(2)),Mul(Int(2),Var(x))),Int(1))", "x^{2} + 2x + 1"),
    (Pow(Add(x, Int(1)), Int(2)), "Add(Add(Pow(Var(x),Int(2)),Mul(Int(2),Var(x))),Int(1))", "x^{2} + 2x + 1"),
    (Pow(Add(x, Int(1)), Int(3)), None, "x^{3} + 3x^{2} + 3x + 1"),
    (Pow(Add(x, Int(-1)), Int(2)), None, "x^{2} + -2x + 1"),
    (Pow(Add(x, y), Int(2)), "Add(Add(Mul(Int(2),Mul(Var(y),Var(x))),Pow(Var(y),Int(2))),Pow(Var(x),Int(2)))", "2yx + y^{2} + x^{2}"),
    (Mul(x, Add(y, Int(2))), "Add(Mul(Var(y),Var(x)),Mul(Int(2),Var(x)))", "yx + 2x"),
    (Mul(x, Add(x, Int(-1))), "Add(Pow(Var(x),Int(2)),Neg(Var(x)))", "x^{2} - x"),
    (Mul(Add(x, Int(1)), Add(x, Neg(Int(1)))), "Add(Pow(Var(x),Int(2)),Int(-1))", "x^{2} - 1"),
    (Add(x, Neg(x)), "Int(0)", "0"),
    (Add(x, y), "Add(Var(y),Var(x))", "y + x"),
    (Mul(x, Int(2)), "Mul(Int(2),Var(x))", "2x"),
    (Neg(Add(x, Int(1))), "Neg(Add(Var(x),Int(1)))", "-\\left(x + 1\\right)"),
    (Sin(Mul(x, Add(x, Int(1)))), "Sin(Add(Pow(Var(x),Int(2)),Var(x)))", "\\sin\\left(x^{2} + x\\right)"),
    (Div(Mul(x, Add(x, Int(1))), y), None, "\\frac{x\\left(x + 1\\right)}{y}"),
    (Pow(Add(x, Int(1)), Int(-1)), "Pow(Add(Var(x),Int(1)),Int(-1))", "\\left(x + 1\\right)^{-1}"),
    (Pow(Mul(x, x), n), "Pow(Pow(Var(x),Int(2)),Var(n))", "\\left(x^{2}\\right)^{n}"),
    (Pow(x, Int(0)), "Int(1)", "1"),
    (Mul(x, y), "Mul(Var(y),Var(x))", "yx"),
    (Mul(Neg(Add(x, Int(1))), y), "Neg(Mul(Var(y),Add(Var(x),Int(1))))", "-y\\left(x + 1\\right)"),
    (Mul(Rational(1, 2), Add(x, x)), "Mul(Int(2),Mul(Var(x),Rational(1,2)))", "2x\\frac{1}{2}"),
    # A negative number written as a right factor goes in parentheses, in the keys too.
    (Mul(Rational(-1, 2), x), "Mul(Var(x),Rational(-1,2))", "x\\left(-\\frac{1}{2}\\right)"),
    (Pow(Add(x, Rational(-1, 2)), Int(2)), None,
     "x^{2} + 2x\\left(-\\frac{1}{2}\\right) + \\left(-\\frac{1}{2}\\right)^{2}"),
    # Factors cancelling to exponent 0 merge with the constant.
    (Add(Mul(x, Pow(x, Int(-1))), Int(2)), None, "3"),
    # Exponents compare by their bytes.
    (Add(Add(Pow(x, Int(10)), Pow(x, Int(2))), Pow(x, Int(9))), None, "x^{9} + x^{2} + x^{10}"),
    # Names beyond ASCII first, backslash keys after lower-case letters, the constant last.
    (Add(Add(Add(Int(1), Sqrt(x)), x), Var("α")), None, "α + x + \\sqrt{x} + 1"),
]


@pytest.mark.parametrize(("expr", "structure", "text"), TABLE, ids=[t for _, _, t in TABLE])
def test_expand_table(expr, structure, text):
    result = expand(expr)
    assert result.to_string() == text
    if structure is not None:
        assert shape(result) == structure


def test_same_text_merges_and_keeps_the_first_factor():
    named_e = Var("e")
    result = expand(Add(named_e, E()))
    assert shape(result) == "Mul(Int(2),Var(e))"
    assert type(expand(Add(E(), named_e)).right()) is E


def test_results_share_the_input_leaves():
    result = expand(Mul(x, Add(y, Int(2))))
    assert result.left().right() is x
    assert result.left().left() is y


def test_div_and_other_leaves_come_back_as_given():
    quotient = Div(Mul(x, Add(x, Int(1))), y)
    assert expand(quotient) is not None
    assert expand(x) is x


def test_power_33_is_exact_and_34_overflows():
    # Keys in descending byte order, so x^{9} comes before x^{33}; the constant last.
    keyed = [("x" if k == 1 else f"x^{{{k}}}", comb(33, k)) for k in range(1, 34)]
    keyed.sort(key=lambda kc: kc[0].encode(), reverse=True)
    expected = " + ".join(f"{c if c != 1 else ''}{key}" for key, c in keyed) + " + 1"
    assert expand(Pow(Add(x, Int(1)), Int(33))).to_string() == expected
    with pytest.raises(ValueError, match=f"^{OVERFLOW}$"):
        expand(Pow(Add(x, Int(1)), Int(34)))


@pytest.mark.parametrize(
    "expr",
    [
        Mul(Add(x, Int(65536)), Add(x, Int(32768))),
        Pow(Mul(Pow(x, Int(2147483647)), y), Int(2)),
        Neg(Mul(Int(-2147483647 - 1), x)),
        Add(Mul(Int(2147483647), x), x),
    ],
    ids=shape,
)
def test_out_of_range_is_an_error(expr):
    with pytest.raises(ValueError, match=f"^{OVERFLOW}$"):
        expand(expr)


def test_like_terms_sum_exactly_before_the_check():
    # The yx products sum to 2 * MAX on the way and end at MAX.
    big = Int(2147483647)
    factor = Add(Add(Mul(big, y), Mul(big, x)), Neg(Mul(big, Mul(x, y))))
    result = expand(Mul(Add(Add(x, y), Int(1)), factor))
    assert " + 2147483647yx + " in f" {result.to_string()} "


@pytest.mark.parametrize(
    ("expr", "message"),
    [
        (Mul(Add(x, Int(1)), Div(x, Int(0))), "ゼロ除算エラー"),
        (Pow(Add(x, Sqrt(Int(-4))), Int(2)), "負の数の平方根はサポートされていません。"),
    ],
    ids=["zero-division", "negative-root"],
)
def test_simplifier_errors_pass_through(expr, message):
    with pytest.raises(ValueError) as caught:
        expand(expr)
    assert str(caught.value) == message


def test_binding():
    assert expand(None) is None
    assert tavrelo.expand.__doc__.strip().endswith("数式を展開して同類項をまとめる")
    assert expand(expr=Add(x, x)).to_string() == "2x"


def test_idempotent_on_results():
    first = expand(Pow(Add(Add(x, y), Int(1)), Int(4)))
    assert expand(first).to_string() == first.to_string()
    assert shape(simplify(first)) == shape(first)


@pytest.mark.parametrize(
    ("step", "levels", "text"),
    [
        (Add, 30, "1073741824x + 1073741824"),
        (Mul, 30, "x^{1073741824}"),
        (Add, 60, None),
        (Mul, 60, None),
    ],
    ids=["sum-30", "product-30", "sum-60", "product-60"],
)
def test_shared_subtrees_expand_once(step, levels, text):
    # Each level uses the level below twice: the tree is tiny, its unfolding astronomical.
    e = x if step is Mul else Add(x, Int(1))
    for _ in range(levels):
        e = step(e, e)
    if text is None:
        with pytest.raises(ValueError, match=f"^{OVERFLOW}$"):
            expand(e)
    else:
        assert expand(e).to_string() == text


def _binomial_chain(count):
    return functools.reduce(Mul, (Add(Var(f"a{k}"), Var(f"b{k}")) for k in range(count)))


@pytest.mark.parametrize("count", [3, 12])
def test_products_of_products_keep_every_term(count):
    # Factors in descending name order inside a term ("a10" before "a1"), terms in descending
    # byte order of their texts.
    choices = [(f"a{k}", f"b{k}") for k in range(count)]
    terms = ("".join(sorted(pick, reverse=True)) for pick in itertools.product(*choices))
    expected = " + ".join(sorted(terms, key=str.encode, reverse=True))
    assert expand(_binomial_chain(count)).to_string() == expected


@pytest.mark.parametrize(
    "expr",
    [
        # A pairwise product, then a collected sum, past 32 bits in the middle of a chain.
        Mul(Mul(Add(x, y), Add(Mul(Int(46341), x), Int(1))), Add(Mul(Int(46341), x), Int(1))),
        Mul(Mul(Add(Mul(Int(32768), x), y), Add(Mul(Int(32768), x), y)), Add(Mul(Int(2), x), Int(1))),
        Mul(
            Mul(_binomial_chain(4), Add(Mul(Int(2), Var("c")), Var("d"))),
            Add(Mul(Int(1073741824), Var("e1")), Int(1)),
        ),
        Mul(Mul(_binomial_chain(3), Pow(x, Int(2147483647))), Add(x, Int(1))),
    ],
    ids=shape,
)
def test_chains_fail_in_the_middle(expr):
    with pytest.raises(ValueError, match=f"^{OVERFLOW}$"):
        expand(expr)
