"""Cost per node of building, rendering and releasing a tree of about a million nodes from Python.

Each tree is built twice in the same run: with the Tavrelo classes and with plain Python classes
that have `__slots__` and store their arguments. The plain classes are the floor for any binding:
a call into the extension cannot construct an object for less than Python itself does.

    .venv/bin/python benchmarks/bench_build.py [--repeat N] [--size NODES] [--shape SHAPE]
        [--gc-off]

On a loaded machine wall-clock figures wander; instruction counts do not. `--only LIBRARY` builds
and releases the trees once, untimed; run it under callgrind at two sizes and divide the
difference in instructions by the difference in nodes:

    valgrind --tool=callgrind --callgrind-out-file=/dev/null \
        .venv/bin/python benchmarks/bench_build.py --size 100000 --only tavrelo --shape chain
"""

import argparse
import gc
import time
from collections.abc import Callable
from dataclasses import dataclass
from types import SimpleNamespace
from typing import Any

import tavrelo



class PyInt:
    __slots__ = ("value",)

    def __init__(self, value: int) -> None:
        self.value = value


class PyVar:
    __slots__ = ("name",)

    def __init__(self, name: str) -> None:
        self.name = name


class PyAdd:
    __slots__ = ("left", "right")

    def __init__(self, left: object, right: object) -> None:
        self.left = left
        self.right = right


PLAIN = SimpleNamespace(Int=PyInt, Var=PyVar, Add=PyAdd)


Shape = Callable[[Any, int], tuple[Any, int]]


def left_deep_chain(m: Any, size: int) -> tuple[Any, int]:
    e, one = m.Var("x"), m.Int(1)
    for _ in range(size):
        e = m.Add(e, one)
    return e, size + 2


def balanced(m: Any, size: int) -> tuple[Any, int]:
    leaves = 1 << max(1, (size // 2).bit_length() - 1)  # 2 * leaves - 1 nodes, at most size
    level = [m.Int(k) for k in range(leaves)]
    while len(level) > 1:
        level = [m.Add(level[i], level[i + 1]) for i in range(0, len(level), 2)]
    return level[0], 2 * leaves - 1


SHAPES: dict[str, Shape] = {"chain": left_deep_chain, "balanced": balanced}
LABELS = {"chain": "left-deep chain", "balanced": "balanced"}


@dataclass
class Timing:
    build: float = float("inf")
    render: float = float("inf")
    release: float = float("inf")


def measure(shape: Shape, m: Any, size: int, repeat: int, gc_off: bool) -> tuple[Timing, int]:
    best = Timing()
    nodes = 0
    for _ in range(repeat):
        gc.collect()
        if gc_off:
            gc.disable()
        t0 = time.perf_counter()
        root, nodes = shape(m, size)
        t1 = time.perf_counter()
        gc.enable()
        if m is tavrelo:
            root.to_string()
        t2 = time.perf_counter()
        del root
        t3 = time.perf_counter()
        best.build = min(best.build, t1 - t0)
        best.render = min(best.render, t2 - t1)
        best.release = min(best.release, t3 - t2)
    return best, nodes


def ns(seconds: float, nodes: int) -> str:
    return f"{seconds / nodes * 1e9:8.1f}"


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=3, help="runs per figure; the best is kept")
    parser.add_argument("--size", type=int, default=1_000_000, help="nodes per tree (about)")
    parser.add_argument("--only", choices=["tavrelo", "plain"], help="measure one library only")
    parser.add_argument("--shape", choices=list(SHAPES), help="measure one tree shape only")
    parser.add_argument("--gc-off", action="store_true",
                        help="build with the cyclic collector off (the cost per node alone)")
    args = parser.parse_args()
    shapes = {k: v for k, v in SHAPES.items() if args.shape in (None, k)}
    if args.only is not None:
        for shape in shapes.values():  # build and release only
            shape(tavrelo if args.only == "tavrelo" else PLAIN, args.size)
        return

    collector = ", cyclic collector off while building" if args.gc_off else ""
    print(f"ns per node, best of {args.repeat}{collector}")
    print(f"{'tree':<18}{'library':<10}{'build':>9}{'render':>9}{'release':>9}  build/floor")
    for name, shape in shapes.items():
        floor, nodes = measure(shape, PLAIN, args.size, args.repeat, args.gc_off)
        ours, _ = measure(shape, tavrelo, args.size, args.repeat, args.gc_off)
        ratio = ours.build / floor.build
        print(f"{LABELS[name]:<18}{'tavrelo':<10}{ns(ours.build, nodes)} {ns(ours.render, nodes)} "
              f"{ns(ours.release, nodes)}  {ratio:.2f}x")
        print(f"{'':<18}{'__slots__':<10}{ns(floor.build, nodes)} {'':>8} "
              f"{ns(floor.release, nodes)}")


if __name__ == "__main__":
    main()
