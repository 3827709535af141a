#!/usr/bin/env bash
# Sets everything up, then runs the whole test suite: C++ unit tests, the same tests under the
# address and undefined-behaviour sanitizers, then pytest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/cpp_tests.sh
scripts/sanitize.sh
.venv/bin/python -m pytest "$@"
