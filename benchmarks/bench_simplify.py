"""Benchmark (not a test): simplify on a generated tree, from Python.

One random tree (fixed seed) is described once as a postfix program and then built in every
library from that program. Reported per node of the tree:

- tavrelo: building the tree from Python, and `simplify` on it;
- SymPy and SymEngine (when installed): building the same expression, which in those libraries
  includes their automatic evaluation (folding numbers, collecting equal terms), the nearest
  thing they have to this simplifier.

The C++ program benchmarks/cpp/bench_simplify (CMake option TAVRELO_BUILD_BENCHMARKS) measures
simplify against a plain rebuild of the same tree without Python in between.

    .venv/bin/python benchmarks/bench_simplify.py --nodes 100000 --rounds 3
    .venv/bin/python benchmarks/bench_simplify.py --nodes 2000 --peers symengine,sympy
"""

import argparse
import json
import random
import statistics
import sys
import time

import tavrelo as tv

UNARY = ["Neg", "Sqrt", "Cbrt", "Sin", "Cos", "Tan", "Log"]
BINARY = ["Add", "Add", "Mul", "Mul", "Div", "Pow"]


def random_block(rng, size):
    """Postfix program of one random subtree of `size` nodes."""
    program, depth = [], 0  # depth: subtrees on the evaluation stack
    while len(program) < size or depth > 1:
        room = size - len(program)
        roll = rng.random()
        if depth < 2 or (room > depth and roll < 0.42):
            kind = rng.randrange(10)
            if kind == 0:
                program.append(("Rational", rng.randint(-3, 3), rng.randint(1, 4)))
            elif kind == 1:
                program.append(("Pi",))
            elif kind == 2:
                program.append(("E",))
            elif kind < 6:
                program.append(("Var", rng.choice("xyz")))
            else:
                program.append(("Int", rng.randint(-3, 9)))
            depth += 1
        elif roll < 0.58 and room > depth:
            program.append((rng.choice(UNARY),))
        else:
            program.append((rng.choice(BINARY),))
            depth -= 1
    return program


def build_tavrelo(program):
    stack = []
    for op in program:
        name = op[0]
        if name == "Int":
            stack.append(tv.Int(op[1]))
        elif name == "Var":
            stack.append(tv.Var(op[1]))
        elif name == "Rational":
            stack.append(tv.Rational(op[1], op[2]))
        elif name in ("Pi", "E"):
            stack.append(getattr(tv, name)())
        elif name in UNARY:
            stack.append(getattr(tv, name)(stack.pop()))
        else:
            right = stack.pop()
            stack.append(getattr(tv, name)(stack.pop(), right))
    return stack.pop()


def generate(rng, nodes, peers, block=500):
    """A program of about `nodes` nodes that every library builds (and tavrelo simplifies)
    without error: blocks that raise are drawn again, and blocks are joined as a^z + b^z, which
    cannot raise."""
    blocks = []
    total = 0
    while total < nodes:
        candidate = random_block(rng, min(block, max(1, nodes - total)))
        try:
            tv.simplify(build_tavrelo(candidate))
            for build in peers.values():
                build(candidate)
        except (ValueError, RuntimeError, ZeroDivisionError):
            continue
        blocks.append(candidate)
        total += len(candidate)
    while len(blocks) > 1:
        joined = []
        for i in range(0, len(blocks) - 1, 2):
            z = [("Var", "z")]
            joined.append(blocks[i] + z + [("Pow",)] + blocks[i + 1] + z + [("Pow",), ("Add",)])
        if len(blocks) % 2:
            joined.append(blocks[-1])
        blocks = joined
    return blocks[0]


def peer_builder(module):
    m = module
    unary = {
        "Neg": lambda a: -a,
        "Sqrt": m.sqrt,
        "Cbrt": m.cbrt if hasattr(m, "cbrt") else (lambda a: a ** m.Rational(1, 3)),
        "Sin": m.sin,
        "Cos": m.cos,
        "Tan": m.tan,
        "Log": m.log,
    }
    binary = {
        "Add": lambda a, b: a + b,
        "Mul": lambda a, b: a * b,
        "Div": lambda a, b: a / b,
        "Pow": lambda a, b: a**b,
    }
    symbols = {name: m.Symbol(name) for name in "xyz"}

    def build(program):
        stack = []
        for op in program:
            name = op[0]
            if name == "Int":
                stack.append(m.Integer(op[1]))
            elif name == "Var":
                stack.append(symbols[op[1]])
            elif name == "Rational":
                stack.append(m.Rational(op[1], op[2]))
            elif name == "Pi":
                stack.append(m.pi)
            elif name == "E":
                stack.append(m.E)
            elif name in unary:
                stack.append(unary[name](stack.pop()))
            else:
                right = stack.pop()
                stack.append(binary[name](stack.pop(), right))
        return stack.pop()

    return build


def median_time(rounds, fn):
    times = []
    for _ in range(rounds):
        start = time.perf_counter()
        fn()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--nodes", type=int, default=100_000)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--seed", type=int, default=20261208)
    parser.add_argument(
        "--peers",
        default="symengine",
        help="comma-separated peers to time, from symengine,sympy ('' for none; SymPy's"
        " automatic evaluation is slow on large trees: give it a few thousand nodes)",
    )
    args = parser.parse_args()

    peers = {}
    for name in filter(None, args.peers.split(",")):
        try:
            peers[name] = peer_builder(__import__(name))
        except ImportError:
            print(f"{name} is not installed: skipped", file=sys.stderr)

    program = generate(random.Random(args.seed), args.nodes, peers)
    nodes = len(program)
    tree = build_tavrelo(program)
    results = {
        "nodes": nodes,
        "tavrelo_build_s": median_time(args.rounds, lambda: build_tavrelo(program)),
        "tavrelo_simplify_s": median_time(args.rounds, lambda: tv.simplify(tree)),
    }
    for name, build in peers.items():
        results[f"{name}_build_s"] = median_time(args.rounds, lambda b=build: b(program))

    print(json.dumps(results))
    ours = results["tavrelo_simplify_s"]
    print(f"tavrelo simplify: {ours / nodes * 1e9:.0f} ns/node", file=sys.stderr)
    build_ns = results["tavrelo_build_s"] / nodes * 1e9
    print(f"tavrelo build from Python: {build_ns:.0f} ns/node", file=sys.stderr)
    for name in ("symengine", "sympy"):
        key = f"{name}_build_s"
        if key in results:
            peer = results[key]
            both = results["tavrelo_build_s"] + ours
            print(
                f"{name} build with evaluation: {peer / nodes * 1e9:.0f} ns/node, "
                f"{peer / ours:.1f}x tavrelo simplify, {peer / both:.1f}x tavrelo build + simplify",
                file=sys.stderr,
            )


if __name__ == "__main__":
    main()
