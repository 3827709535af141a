"""Batches on a real cluster: a Dask LocalCluster with two worker processes expands generated
trees, and the results are the same trees as a serial run gives."""

import importlib.util
import subprocess
import sys
from pathlib import Path

import pytest

from tavrelo import expand, same

distributed = pytest.importorskip("dask.distributed", reason="Dask is in the 'dask' extra")
EXAMPLE = Path(__file__).resolve().parents[1] / "examples" / "cluster.py"


def test_expand_on_a_local_cluster() -> None:
    if not EXAMPLE.exists():
        pytest.skip("no examples/ beside the tests")
    spec = importlib.util.spec_from_file_location("cluster_example", EXAMPLE)
    assert spec is not None and spec.loader is not None
    example = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(example)

    trees = example.generated(10_000)
    with (
        distributed.LocalCluster(
            n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None
        ) as cluster,
        distributed.Client(cluster) as client,
    ):
        results = example.expand_on(client, trees)
        # The example as users run it, against the same scheduler.
        run = subprocess.run(
            [sys.executable, str(EXAMPLE), cluster.scheduler_address, "--count", "500"],
            capture_output=True,
            text=True,
            timeout=300,
        )
    assert len(results) == len(trees)
    assert all(same(r, expand(t)) for r, t in zip(results, trees, strict=True))
    assert run.returncode == 0, run.stderr[-2000:]
    assert run.stdout == "500 trees expanded on the cluster, 0 differ from the serial run\n"
