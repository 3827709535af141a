"""dumps/loads, pickling and copying: round trips, sharing, and loads refusing bad data."""

import copy
import multiprocessing
import pickle
import struct
import threading
from collections.abc import Callable
from concurrent.futures import ProcessPoolExecutor
from typing import Any

import pytest

from tavrelo import (
    Add,
    Cbrt,
    Cos,
    Div,
    E,
    Expr,
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
)

INT_MIN, INT_MAX = -(2**31), 2**31 - 1
M64 = 2**64 - 1
x, y = Var("x"), Var("y")


# --- the documented format, written independently of the library ---------------------------------


def mix64(v: int) -> int:
    v ^= v >> 30
    v = (v * 0xBF58476D1CE4E5B9) & M64
    v ^= v >> 27
    v = (v * 0x94D049BB133111EB) & M64
    return v ^ (v >> 31)


def checksum(data: bytes) -> int:
    a, b = 1, 0
    padded = data + bytes(-len(data) % 4)
    for (word,) in struct.iter_unpack("<I", padded):
        a = (a + word) & M64
        b = (b + a) & M64
    return mix64(mix64(mix64(len(data)) ^ a) ^ b) & 0xFFFFFFFF


def framed(body: bytes, version: int = 1) -> bytes:
    """Header, records, end tag and a correct checksum: only the records can be at fault."""
    data = b"TVR" + bytes([version]) + body + b"\x21"
    return data + struct.pack("<I", checksum(data))


# --- round trips ---------------------------------------------------------------------------------


def trees() -> list[Expr]:
    shared = Add(x, Int(1))
    return [
        Int(0),
        Int(INT_MIN),
        Int(INT_MAX),
        Var(""),
        Var("θ_1"),
        Var(b"\xff\xfe"),  # not UTF-8: kept as bytes
        Var("v" * 300),  # a length of two varint bytes
        Rational(INT_MIN, 1),
        Rational(-1, INT_MAX),
        Pi(),
        E(),
        *(cls(x) for cls in (Neg, Sqrt, Cbrt, Sin, Cos, Tan, Log)),
        *(cls(x, Int(-2)) for cls in (Add, Mul, Div, Pow)),
        Pow(Add(Mul(Int(3), x), Neg(Rational(1, 2))), Div(Sin(Pi()), Log(E()))),
        Mul(shared, Neg(shared)),
    ]


@pytest.mark.parametrize("tree", trees(), ids=lambda t: type(t).__name__)
def test_round_trips(tree: Expr) -> None:
    data = dumps(tree)
    back = loads(data)
    assert type(back) is type(tree) and same(back, tree)
    assert dumps(back) == data
    for other in (bytearray(data), memoryview(data)):
        assert same(loads(other), tree)
    for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
        assert same(pickle.loads(pickle.dumps(tree, protocol)), tree)
    assert same(copy.deepcopy(tree), tree) and copy.deepcopy(tree) is not tree


def test_shared_subtrees_are_written_once_and_come_back_shared() -> None:
    e: Expr = x
    for _ in range(60):
        e = Add(e, e)
    data = dumps(e)
    assert len(data) < 300
    back = loads(data)
    assert same(back, e)
    for _ in range(60):
        assert isinstance(back, Add) and back.left() is back.right()
        back = back.left()


def test_bytes_depend_on_the_tree_alone() -> None:
    # Here x and the sum are also held by Python, and the sum twice by the product.
    s = Add(x, Int(1))
    held = [dumps(Mul(s, s)), dumps(Add(x, Int(1))), dumps(Mul(s, Add(y, s)))]
    s2 = Add(Var("x"), Int(1))
    fresh = [dumps(Mul(s2, s2)), dumps(Add(Var("x"), Int(1))), dumps(Mul(s2, Add(Var("y"), s2)))]
    del s2
    assert held == fresh


def test_a_hand_written_stream_loads() -> None:
    # Var "x" kept as shared, referenced once more, then their sum: Add(x, x) with one x.
    tree = loads(framed(b"\x11\x01x\x20\x00\x04"))
    assert isinstance(tree, Add) and tree.left() is tree.right()
    assert tree.to_string() == "x + x"


# --- bad data ------------------------------------------------------------------------------------

GOOD = dumps(Add(Var("x"), Int(1)))
TRUNCATED = "途中で終わっています"
CORRUPT = "壊れています"

BAD: list[tuple[str, bytes, str]] = [
    ("empty", b"", TRUNCATED),
    ("magic only", b"TVR", TRUNCATED),
    ("other magic", b"XYZ\x01" + GOOD[4:], "直列化データではありません"),
    ("other version", framed(b"\x09", version=2), "版 2 には対応していません"),
    ("truncated", GOOD[:-1], TRUNCATED),
    ("cut after a tag", GOOD[:5], TRUNCATED),
    ("trailing bytes", GOOD + b"\x00", "余分なバイト"),
    ("corrupted value", GOOD[:-7] + bytes([GOOD[-7] ^ 4]) + GOOD[-6:], "検査値が一致しません"),
    ("unknown tag", framed(b"\x30"), "不明な記録 48（位置 4）"),
    ("end tag first", framed(b""), "木が 0 個"),
    ("two trees", framed(b"\x09\x0a"), "木が 2 個"),
    ("missing child", framed(b"\x09\x04"), "子が足りません"),
    ("missing operand", framed(b"\x03"), "子が足りません"),
    ("forward reference", framed(b"\x20\x00\x03"), "範囲外"),
    ("reference out of range", framed(b"\x19\x20\x01\x04"), "範囲外"),
    ("name beyond the data", framed(b"\x01\xff\xff\xff\xff\x0f"), "残りの"),
    ("int over 32 bits", framed(b"\x00\x80\x80\x80\x80\x10"), "32 ビットの範囲外"),
    ("six-byte varint", framed(b"\x00\x80\x80\x80\x80\x80\x01"), "32 ビットの範囲外"),
    ("overlong varint", framed(b"\x00\x80\x00"), "最短形"),
    ("fraction not reduced", framed(b"\x02\x04\x04"), "既約"),
    ("zero denominator", framed(b"\x02\x02\x00"), "既約"),
    ("negative denominator", framed(b"\x02\x02\xff\xff\xff\xff\x0f"), "既約"),
]


@pytest.mark.parametrize(("data", "message"), [b[1:] for b in BAD], ids=[b[0] for b in BAD])
def test_bad_data_is_refused(data: bytes, message: str) -> None:
    with pytest.raises(ValueError, match=message):
        loads(data)


@pytest.mark.parametrize("arg", ["TVR", None, 5, x, memoryview(b"TVR\x01abcd")[::2]])
def test_what_is_not_bytes_is_refused(arg: Any) -> None:
    with pytest.raises(TypeError):
        loads(arg)


def test_every_cut_and_every_flipped_byte_is_refused() -> None:
    data = dumps(Mul(Add(Var("x"), Rational(-3, 7)), Add(Var("x"), Rational(-3, 7))))
    for end in range(len(data)):
        with pytest.raises(ValueError):
            loads(data[:end])
    for at in range(len(data)):
        for bit in (1, 0x80):
            with pytest.raises(ValueError):
                loads(data[:at] + bytes([data[at] ^ bit]) + data[at + 1 :])


# --- other processes -----------------------------------------------------------------------------


def work() -> list[Expr]:
    return [Pow(Add(x, Int(k)), Int(3)) for k in range(20)] + [Mul(Add(x, y), Add(x, Neg(y)))]


@pytest.mark.parametrize(
    "pool",
    [
        lambda: ProcessPoolExecutor(2, mp_context=multiprocessing.get_context("spawn")),
        lambda: multiprocessing.get_context("forkserver").Pool(2),
    ],
    ids=["ProcessPoolExecutor", "multiprocessing.Pool"],
)
def test_process_pools_send_and_return_trees(pool: Callable[[], Any]) -> None:
    inputs = work()
    with pool() as p:
        results = list(p.map(expand, inputs))
    assert all(same(r, expand(i)) for r, i in zip(results, inputs, strict=True))


def test_threads_write_and_read_at_once() -> None:
    # dumps and loads release the interpreter lock: the threads really overlap.
    shared = Pow(Add(x, Int(1)), Int(2))
    tree = Mul(shared, Add(shared, Sin(y)))
    for _ in range(200):
        tree = Add(tree, Neg(shared))
    errors: list[BaseException] = []

    def work() -> None:
        try:
            for _ in range(100):
                assert same(loads(dumps(tree)), tree)
        except BaseException as exc:
            errors.append(exc)

    threads = [threading.Thread(target=work) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors
