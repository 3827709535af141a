#!/usr/bin/env bash
# Sets everything up, then runs the whole test suite: C++ unit tests, the same tests under the
# address and undefined-behaviour sanitizers, pytest, and last the pytest suite again against the
# built wheel installed in a fresh venv (TAVRELO_SKIP_WHEEL=1 skips that step for quick local runs).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/cpp_tests.sh
scripts/sanitize.sh
.venv/bin/python -m pytest "$@"
if [ "${TAVRELO_SKIP_WHEEL:-0}" != 1 ]; then
    scripts/test_wheel.sh "$@"
fi
