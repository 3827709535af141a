"""Trees that share subtrees: 61 nodes standing for 2^60 leaves. Rendering refuses at once a
text that cannot fit in memory; simplify and expand end promptly with a result or their error.

Each case runs in a child interpreter with a time limit, so a hang or a crash fails the test.
"""

import json
import textwrap

import pytest

LEVELS = 60
OVERFLOW = "整数オーバーフローエラー"
TOO_LONG = "MemoryError"  # the result exists, its text does not fit in memory

SHAPES = {
    "add": "Add(e, e)",
    "mul": "Mul(e, e)",
    "div": "Div(e, e)",
    "pow": "Pow(e, e)",
    "sub": "Add(e, Neg(e))",
    "sin": "Sin(Add(e, e))",
    "square": "Mul(Add(e, Int(1)), Add(e, Int(1)))",
    "sqrt": "Sqrt(Mul(e, e))",
}

CHILD = """
import json, resource
resource.setrlimit(resource.RLIMIT_AS, (8 << 30, 8 << 30))

def build(leaf):
    e = leaf
    for _ in range({levels}):
        e = {shape}
    return e

def text(make):
    try:
        result = make()
    except ValueError as error:
        return str(error)
    try:
        return result.to_string()
    except MemoryError:
        return "MemoryError"

e = build(Var("x"))
a, b = build(Var("x")), build(Var("x"))
print(json.dumps({{
    "to_string": text(lambda: e),
    "simplify": text(lambda: simplify(e)),
    "expand": text(lambda: expand(e)),
    "simplify_copies": text(lambda: simplify(Add(a, b))),
}}))
"""


def run_child(child_python, shape):
    child = child_python(CHILD.format(levels=LEVELS, shape=shape), timeout=120)
    assert child.returncode == 0, child.stderr[-3000:]
    return json.loads(child.stdout)


TWOS = "2 \\cdot " * (LEVELS - 1) + "2x"

# What each shape gives; every one of the texts is refused when rendered from the input.
EXPECTED = {
    "add": {"simplify": TWOS, "expand": OVERFLOW, "simplify_copies": "2 \\cdot " + TWOS},
    "mul": {"simplify": TOO_LONG, "expand": OVERFLOW, "simplify_copies": TOO_LONG},
    "div": {"simplify": "1", "expand": "1", "simplify_copies": "2"},
    "pow": {"simplify": TOO_LONG, "expand": TOO_LONG, "simplify_copies": TOO_LONG},
    "sub": {"simplify": TOO_LONG, "expand": "0", "simplify_copies": TOO_LONG},
    "sin": {"simplify": None, "expand": None, "simplify_copies": None},
    "square": {"simplify": TOO_LONG, "expand": OVERFLOW, "simplify_copies": TOO_LONG},
    "sqrt": {"simplify": TOO_LONG, "expand": None, "simplify_copies": TOO_LONG},
}


@pytest.mark.parametrize("name", SHAPES)
def test_shared_subtrees_end_promptly(child_python, name):
    outcome = run_child(child_python, SHAPES[name])
    assert outcome.pop("to_string") == TOO_LONG
    for operation, want in EXPECTED[name].items():
        got = outcome[operation]
        if want is None:  # a text of linear length: checked for its shape only
            assert got.count("\\") >= LEVELS, (operation, got[:200])
        else:
            assert got == want, (operation, got[:200])


def test_sin_of_doubled_sum_keeps_one_copy_per_level(child_python):
    outcome = run_child(child_python, SHAPES["sin"])
    assert outcome["simplify"].startswith("\\sin\\left(2\\sin\\left(2")
    assert outcome["simplify_copies"] == "2" + outcome["simplify"]
    assert outcome["expand"] == outcome["simplify"]


# Shared sums that stay opaque factors: their like-term keys are texts that double at every
# level (astronomically long, often agreeing on all but their last bytes), and deep chains above
# or below such a DAG. Each builds `e`; expand must end quickly with a result whose text is too
# long to write, having the given number of summands.
LONG_KEYS = {
    "negated_sum": ("e = dag(x, 'Add(e, Neg(Add(e, Int(1))))')", 61),
    "common_prefix": ("e = dag(x, 'Add(Neg(Add(e, Int(1))), Neg(Add(e, Int(2))))')", 2),
    "product": ("e = dag(x, 'Mul(Neg(Add(e, Int(1))), Neg(Add(e, Int(2))))')", 1),
    "squared": ("e = dag(x, 'Add(e, Pow(Neg(Add(e, Int(1))), Int(2)))')", 61),
    "under_sine": ("e = dag(x, 'Add(Sin(Add(e, Int(1))), Neg(Add(e, Int(2))))')", 2),
    "chain_over_dag": (
        """
e = dag(x, 'Add(e, Neg(Add(e, Int(1))))')
for _ in range(30_000):
    e = Add(Neg(Add(e, Int(1))), y)
""",
        2,
    ),
    "dag_over_functions": (
        """
e = x
for _ in range(2_000):
    e = Sin(Add(e, Int(1)))
e = dag(e, 'Add(e, Neg(Add(e, Int(1))))')
""",
        61,
    ),
    "dag_over_chain": (
        """
e = Add(x, y)
for _ in range(1_000_000):
    e = Neg(e)
e = dag(e, 'Add(e, Neg(Add(e, Int(1))))')
""",
        62,
    ),
}

LONG_KEYS_CHILD = """
import json, resource
resource.setrlimit(resource.RLIMIT_AS, (8 << 30, 8 << 30))
x, y = Var("x"), Var("y")

def dag(e, shape):
    for _ in range({levels}):
        e = eval(shape)
    return e

def summands(r):
    kinds = []
    while type(r) is Add:
        kinds.append(type(r.right()).__name__)
        r = r.left()
    return [type(r).__name__] + kinds[::-1]

def outcome():
{body}
    result = expand(e)
    try:
        text = result.to_string()
    except MemoryError:
        text = "MemoryError"
    return result, text

first, text = outcome()
again, _ = outcome()  # built and expanded afresh: the same shape
print(json.dumps({{"text": text[:200], "summands": len(summands(first)),
                  "same": summands(first) == summands(again)}}))
"""


@pytest.mark.parametrize("name", LONG_KEYS)
def test_expand_with_long_like_term_keys(child_python, name):
    body, summands = LONG_KEYS[name]
    code = LONG_KEYS_CHILD.format(levels=LEVELS, body=textwrap.indent(body.strip(), "    "))
    child = child_python(code, timeout=60)
    assert child.returncode == 0, child.stderr[-3000:]
    outcome = json.loads(child.stdout)
    assert outcome == {"text": TOO_LONG, "summands": summands, "same": True}
