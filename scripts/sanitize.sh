#!/usr/bin/env bash
# Builds the library and the C++ unit tests with AddressSanitizer and UndefinedBehaviorSanitizer
# in build/asan and runs them; any sanitizer report aborts its test and fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/asan
cmake -S . -B "$build" -DTAVRELO_BUILD_TESTS=ON -DTAVRELO_SANITIZE=ON \
    -DTAVRELO_WERROR="${TAVRELO_WERROR:-OFF}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j 2

# Every report aborts its test; leaks are reported too. Use-after-return detection stays off: it
# moves frames to the heap, and the deep-walk guard measures stack room by a local's address.
export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1:strict_string_checks=1:check_initialization_order=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
ctest --test-dir "$build" --output-on-failure -j 2
