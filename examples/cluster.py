"""Expands generated trees on a Dask cluster and checks them against a serial run.

    python examples/cluster.py tcp://10.0.0.5:8786   # a running cluster (its scheduler address)
    python examples/cluster.py                       # a local cluster of two worker processes

Trees travel to the workers and back by pickle (tavrelo registers its node classes with
copyreg), so `dask.bag` maps `expand` over them like over any other Python objects. Needs
`pip install "tavrelo[dask]"`.
"""

from __future__ import annotations

import argparse
import sys

import dask.bag as db
from dask.distributed import Client, LocalCluster

from tavrelo import Add, Expr, Int, Mul, Neg, Pow, Var, expand, same


def generated(count: int) -> list[Expr]:
    """Products of powers of small sums, all different: (x + a)^n (y - b) and the like."""
    names = [Var(n) for n in "xyz"]
    trees: list[Expr] = []
    for k in range(count):
        base = Add(names[k % 3], Int(k % 17 - 8))
        factor = Add(names[(k + 1) % 3], Neg(Int(k // 51 % 9 + 1)))
        trees.append(Mul(Pow(base, Int(k % 4 + 1)), factor))
    return trees


def expand_on(client: Client, trees: list[Expr], partitions: int = 8) -> list[Expr]:
    """`expand` of every tree, computed by the cluster's workers."""
    bag = db.from_sequence(trees, npartitions=partitions).map(expand)
    results: list[Expr] = client.compute(bag).result()
    return results


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("address", nargs="?", help="scheduler address; none: a local cluster")
    parser.add_argument("--count", type=int, default=10_000, help="trees to expand")
    args = parser.parse_args()
    trees = generated(args.count)
    if args.address:
        with Client(args.address) as client:
            results = expand_on(client, trees)
    else:
        with LocalCluster(n_workers=2, threads_per_worker=1) as cluster, Client(cluster) as client:
            results = expand_on(client, trees)
    differing = sum(not same(r, expand(t)) for r, t in zip(results, trees, strict=True))
    print(f"{len(trees)} trees expanded on the cluster, {differing} differ from the serial run")
    return 1 if differing else 0


if __name__ == "__main__":
    sys.exit(main())
