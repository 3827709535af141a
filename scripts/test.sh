#!/usr/bin/env bash
# Sets everything up, then runs the whole test suite: C++ unit tests, the same tests under the
# address and undefined-behaviour sanitizers, pytest, the pytest suite again against the built
# wheel installed in a fresh venv (TAVRELO_SKIP_WHEEL=1 skips that step for quick local runs),
# and last, when the benchmark peers are installed (scripts/bench_peers.sh installs them), a quick
# benchmark run as a smoke test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/cpp_tests.sh
scripts/sanitize.sh
.venv/bin/python -m pytest "$@"
if [ "${TAVRELO_SKIP_WHEEL:-0}" != 1 ]; then
    scripts/test_wheel.sh "$@"
fi
if .venv/bin/python -c 'import sympy, symengine, flint' 2>/dev/null; then
    out=$(mktemp -d)
    if .venv/bin/python benchmarks/run.py --quick --out "$out" >"$out/run.log" 2>&1; then
        echo "benchmark smoke run: ok ($out)"
    else
        cat "$out/run.log"
        echo "benchmark smoke run: FAILED ($out)" >&2
        exit 1
    fi
fi
