"""B8's floor: the node classes bound with plain pybind11 py::init (benchmarks/cpp/plain_nodes.cpp),
built with CMake into build/bench-plain on first use, against the pybind11 and Python running
this process."""

from __future__ import annotations

import functools
import importlib
import shutil
import subprocess
import sys
from pathlib import Path
from types import ModuleType

ROOT = Path(__file__).resolve().parent.parent
TARGET = "plain_nodes"


@functools.cache
def module() -> ModuleType | None:
    """The built module, or None when pybind11 or CMake is missing or the build fails."""
    try:
        import pybind11
    except ImportError:
        return None
    cmake = shutil.which("cmake")
    if cmake is None:
        return None
    build = ROOT / "build" / "bench-plain"
    configure = [
        cmake, "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
        "-DTAVRELO_BUILD_BENCHMARKS=ON", "-DTAVRELO_BUILD_TESTS=OFF",
        f"-Dpybind11_DIR={pybind11.get_cmake_dir()}", "-DPYBIND11_FINDPYTHON=ON",
        f"-DPython_EXECUTABLE={sys.executable}",
    ]
    for step in (configure, [cmake, "--build", str(build), "--target", TARGET, "-j", "2"]):
        if subprocess.run(step, capture_output=True, text=True, check=False).returncode != 0:
            return None
    found = sorted(build.rglob(f"{TARGET}.*.so"))
    if not found:
        return None
    sys.path.insert(0, str(found[0].parent))
    return importlib.import_module(TARGET)
