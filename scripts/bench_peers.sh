#!/usr/bin/env bash
# Installs the benchmark peers of the `bench` extra (SymPy, SymEngine, python-flint, matplotlib)
# into .venv, once per change of pyproject.toml.
set -euo pipefail
cd "$(dirname "$0")/.."
PY=.venv/bin/python
stamp=.venv/.bench-installed
if [ ! -f "$stamp" ] || [ pyproject.toml -nt "$stamp" ]; then
    "$PY" -c 'import tomllib
with open("pyproject.toml", "rb") as f:
    print("\n".join(tomllib.load(f)["project"]["optional-dependencies"]["bench"]))' |
        xargs "$PY" -m pip install -q
    touch "$stamp"
fi
