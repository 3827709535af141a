#!/usr/bin/env bash
# Sets everything up, installs the peers of the bench extra (SymPy, SymEngine, python-flint,
# matplotlib) into the venv and runs the benchmarks; arguments go to benchmarks/run.py.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/bench_peers.sh
exec .venv/bin/python benchmarks/run.py "$@"
