#!/usr/bin/env bash
# Prepares a fresh clone: a CPython 3.12 virtual environment in .venv with the package built and
# installed into it, plus what the tests need (the `test` extra of pyproject.toml). Safe to run
# again; rebuilds are incremental.
set -euo pipefail
cd "$(dirname "$0")/.."

find_python() {
    if [ -n "${PYTHON:-}" ]; then
        echo "$PYTHON"
        return
    fi
    local candidate
    for candidate in python3.12 "$(pyenv root 2>/dev/null)"/versions/3.12*/bin/python3.12; do
        if command -v "$candidate" >/dev/null 2>&1 &&
            "$candidate" -c 'import sys; sys.exit(sys.version_info[:2] != (3, 12))' 2>/dev/null; then
            command -v "$candidate"
            return
        fi
    done
    if command -v pyenv >/dev/null 2>&1 &&
        PYENV_VERSION=3.12.1 python3.12 -c 'import sys; sys.exit(sys.version_info[:2] != (3, 12))' 2>/dev/null; then
        PYENV_VERSION=3.12.1 python3.12 -c 'import sys; print(sys.executable)'
        return
    fi
    echo "error: CPython 3.12 not found. Install it (e.g. 'pyenv install 3.12') or set PYTHON=/path/to/python3.12" >&2
    exit 1
}

if [ ! -x .venv/bin/python ] || ! .venv/bin/python -c 'import sys; sys.exit(sys.version_info[:2] != (3, 12))'; then
    rm -rf .venv
    "$(find_python)" -m venv .venv
fi
PY=.venv/bin/python

stamp=.venv/.deps-installed
if [ ! -f "$stamp" ] || [ pyproject.toml -nt "$stamp" ]; then
    "$PY" -m pip install -q --upgrade pip
    # The build backend and the test extra, as pyproject.toml lists them.
    deps=$("$PY" -c 'import tomllib
with open("pyproject.toml", "rb") as f:
    p = tomllib.load(f)
print("\n".join(p["build-system"]["requires"] + p["project"]["optional-dependencies"]["test"]))')
    mapfile -t deps <<<"$deps"
    "$PY" -m pip install -q ninja "${deps[@]}"
    touch "$stamp"
fi

# Build into build/ (kept between runs) and install into the venv.
"$PY" -m pip install -q --no-build-isolation --no-deps . \
    -Ccmake.define.TAVRELO_WERROR="${TAVRELO_WERROR:-OFF}"
