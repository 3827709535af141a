"""Timing of Tavrelo's expand on the polynomial workloads (Tavrelo only; run.py compares peers).

    .venv/bin/python benchmarks/bench_expand.py [--quick] [--rounds N]

Prints, per workload, the median time of one call (after a warm-up) and the number of terms.
"""

import argparse
import statistics
import time

from tavrelo import Add, Int, Mul, Pow, Var, expand


def count_terms(e) -> int:
    count = 1
    while type(e) is Add:
        count += 1
        e = e.left()
    return count


def sum_of(*names):
    e = Var(names[0])
    for name in names[1:]:
        e = Add(e, Var(name))
    return Add(e, Int(1))


def product_of_pairs(n):
    e = Add(Var("a0"), Var("b0"))
    for i in range(1, n):
        e = Mul(e, Add(Var(f"a{i}"), Var(f"b{i}")))
    return e


def workloads(quick):
    return [
        ("(x+1)^33", Pow(sum_of("x"), Int(33)), 1000 if quick else 10_000),
        ("(x+y+z+1)^18", Pow(sum_of("x", "y", "z"), Int(8 if quick else 18)), 1),
        ("(x+y+z+w+1)^16", Pow(sum_of("x", "y", "z", "w"), Int(6 if quick else 16)), 1),
        ("prod (a_i+b_i), i<16", product_of_pairs(8 if quick else 16), 1),
    ]


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--quick", action="store_true", help="small sizes (smoke test)")
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    print(f"{'workload':<24}{'calls':>8}{'per call':>14}{'total':>12}{'terms':>8}")
    for name, expr, calls in workloads(args.quick):
        result = expand(expr)  # warm-up
        times = []
        for _ in range(args.rounds):
            start = time.perf_counter()
            for _ in range(calls):
                expand(expr)
            times.append(time.perf_counter() - start)
        total = statistics.median(times)
        per_call = total / calls
        print(f"{name:<24}{calls:>8}{per_call * 1e3:>11.3f} ms{total:>10.3f} s{count_terms(result):>8}")


if __name__ == "__main__":
    main()
