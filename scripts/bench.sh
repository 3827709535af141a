#!/usr/bin/env bash
# Sets everything up, installs the peers of the bench extra (SymPy, SymEngine, python-flint,
# matplotlib) into the venv and runs the benchmarks; arguments go to benchmarks/run.py.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
PY=.venv/bin/python
stamp=.venv/.bench-installed
if [ ! -f "$stamp" ] || [ pyproject.toml -nt "$stamp" ]; then
    "$PY" -c 'import tomllib
with open("pyproject.toml", "rb") as f:
    print("\n".join(tomllib.load(f)["project"]["optional-dependencies"]["bench"]))' |
        xargs "$PY" -m pip install -q
    touch "$stamp"
fi
exec "$PY" benchmarks/run.py "$@"
