"""expand: the terms of one result share nodes (powers, integers, leading products) while the
tree keeps its text, its shape and the input's leaves."""

import pytest
from simplify_shapes import children, shape

from tavrelo import Add, Int, Mul, Pow, Var, expand

x, y, z, t, u = Var("x"), Var("y"), Var("z"), Var("t"), Var("u")


def sum_of(*terms):
    total = terms[0]
    for term in terms[1:]:
        total = Add(total, term)
    return total


def product_of_pairs(n):
    factors = [Add(Var(f"a{i}"), Var(f"b{i}")) for i in range(n)]
    total = factors[0]
    for f in factors[1:]:
        total = Mul(total, f)
    return total


def sparse_product(n):
    left = sum_of(Int(1), x, y, Mul(Int(2), Pow(z, Int(2))), Mul(Int(3), Pow(t, Int(3))),
                  Mul(Int(5), Pow(u, Int(5))))
    right = sum_of(Int(1), u, t, Mul(Int(2), Pow(z, Int(2))), Mul(Int(3), Pow(y, Int(3))),
                   Mul(Int(5), Pow(x, Int(5))))
    return Mul(Pow(left, Int(n)), Pow(right, Int(n)))


def distinct_nodes(root):
    """Node wrappers by id, kept alive while counting (a freed wrapper's id can come back)."""
    seen = {}
    pending = [root]
    while pending:
        node = pending.pop()
        if id(node) not in seen:
            seen[id(node)] = node
            pending.extend(children(node))
    return list(seen.values())


# Terms that share leading factors, powers and coefficients, and a term that is the leading part
# of the one before it (zy after zyx): (input, text, shape).
TABLE = [
    (Mul(Add(x, Int(-1)), Mul(y, Add(z, Int(-1)))), "zyx - zy - yx + y",
     "Add(Add(Add(Mul(Mul(Var(z),Var(y)),Var(x)),Neg(Mul(Var(z),Var(y)))),"
     "Neg(Mul(Var(y),Var(x)))),Var(y))"),
    (Mul(Pow(Add(x, Int(2)), Int(2)), Add(Pow(y, Int(2)), Int(2))),
     "y^{2}x^{2} + 4y^{2}x + 4y^{2} + 2x^{2} + 8x + 8",
     "Add(Add(Add(Add(Add(Mul(Pow(Var(y),Int(2)),Pow(Var(x),Int(2))),"
     "Mul(Int(4),Mul(Pow(Var(y),Int(2)),Var(x)))),Mul(Int(4),Pow(Var(y),Int(2)))),"
     "Mul(Int(2),Pow(Var(x),Int(2)))),Mul(Int(8),Var(x))),Int(8))"),
    (Mul(Mul(x, y), Add(Mul(z, Pow(x, Int(-1))), Int(1))), "zy + yx",
     "Add(Mul(Var(z),Var(y)),Mul(Var(y),Var(x)))"),
    (Pow(Add(Add(x, y), Int(1)), Int(2)), "2yx + y^{2} + 2y + x^{2} + 2x + 1",
     "Add(Add(Add(Add(Add(Mul(Int(2),Mul(Var(y),Var(x))),Pow(Var(y),Int(2))),"
     "Mul(Int(2),Var(y))),Pow(Var(x),Int(2))),Mul(Int(2),Var(x))),Int(1))"),
]


@pytest.mark.parametrize(("expr", "text", "structure"), TABLE, ids=[t for _, t, _ in TABLE])
def test_shared_terms_keep_text_and_shape(expr, text, structure):
    result = expand(expr)
    assert result.to_string() == text
    assert shape(result) == structure


@pytest.mark.parametrize(("n", "products"), [(1, 0), (2, 4), (8, 1270)])
def test_products_are_shared_along_the_terms(n, products):
    # 2^n terms, each a left-nested product of n factors (the b_i, then the a_i, by falling
    # name): each distinct leading product is one node, 1270 of them for n = 8 against the
    # 7 * 2^8 = 1792 that unshared terms would hold.
    nodes = distinct_nodes(expand(product_of_pairs(n)))
    muls = [node for node in nodes if type(node) is Mul]
    assert len(muls) == len({shape(node) for node in muls}) == products
    assert sum(type(node) is Add for node in nodes) == 2**n - 1
    assert sum(type(node) is Var for node in nodes) == 2 * n


@pytest.mark.parametrize(
    "expr", [sparse_product(2), Pow(sum_of(Int(1), x, Mul(Int(2), Pow(y, Int(2))),
                                           Mul(Int(-3), Pow(z, Int(3)))), Int(6))],
    ids=["sparse product", "power of a sum"])
def test_one_node_per_power_and_integer(expr):
    nodes = distinct_nodes(expand(expr))
    for kind in (Pow, Int):
        of_kind = [node for node in nodes if type(node) is kind]
        assert len(of_kind) == len({shape(node) for node in of_kind}), kind.__name__
    assert {id(node) for node in nodes if type(node) is Var} <= {id(v) for v in (x, y, z, t, u)}
