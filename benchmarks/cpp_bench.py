"""B10: builds the C++ program bench_simplify with CMake (Release) and runs it.

The program prints one JSON line {"nodes": N, "shared": 0|1, "simplify_s": t, "rebuild_s": t}.
When CMake is missing or the target does not exist yet, B10 is reported as unavailable.
"""

from __future__ import annotations

import json
import shutil
import subprocess
from collections.abc import Callable
from dataclasses import dataclass
from pathlib import Path

from child import Measured

TARGET = "bench_simplify"


@dataclass(frozen=True)
class Build:
    program: Path | None
    note: str  # why it is unavailable, or how it was built


def build(root: Path, build_dir: Path) -> Build:
    cmake = shutil.which("cmake")
    if cmake is None:
        return Build(None, "cmake not found")
    configure = [
        cmake, "-S", str(root), "-B", str(build_dir), "-DCMAKE_BUILD_TYPE=Release",
        "-DTAVRELO_BUILD_BENCHMARKS=ON", "-DTAVRELO_BUILD_TESTS=OFF",
    ]
    steps = (configure, [cmake, "--build", str(build_dir), "--target", TARGET, "-j", "2"])
    for step in steps:
        done = subprocess.run(step, capture_output=True, text=True, check=False)
        if done.returncode != 0:
            last = (done.stderr or done.stdout).strip().splitlines()[-3:]
            return Build(None, f"target {TARGET} did not build: " + " / ".join(last))
    found = sorted(p for p in build_dir.rglob(TARGET) if p.is_file())
    if not found:
        return Build(None, f"target {TARGET} built no executable")
    return Build(found[0], f"{found[0].relative_to(root)} (CMake, Release)")


@dataclass(frozen=True)
class Run:
    simplify_s: float
    rebuild_s: float
    maxrss_kib: int


def run(
    program: Path, nodes: int, shared: bool, rounds: int, launch: Callable[[list[str]], Measured]
) -> Run:
    cmd = [str(program), "--nodes", str(nodes), "--shared", str(int(shared)),
           "--rounds", str(rounds)]
    result = launch(cmd)
    if result.returncode != 0:
        raise RuntimeError(f"{TARGET} failed ({result.returncode}): {result.stderr.strip()}")
    lines = [line for line in result.stdout.splitlines() if line.strip().startswith("{")]
    if not lines:
        raise RuntimeError(f"{TARGET} printed no JSON line")
    data = json.loads(lines[-1])
    if data.get("nodes") != nodes or int(data.get("shared", -1)) != int(shared):
        raise RuntimeError(f"{TARGET} answered for another input: {lines[-1]}")
    return Run(float(data["simplify_s"]), float(data["rebuild_s"]), result.maxrss_kib)
