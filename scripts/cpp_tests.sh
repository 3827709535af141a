#!/usr/bin/env bash
# Builds the C++ library with its unit tests (GoogleTest) and runs them with ctest.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ ! -f /usr/include/gtest/gtest.h ]; then
    if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
        apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq libgtest-dev >/dev/null
    else
        echo "error: GoogleTest is missing; install Debian's libgtest-dev" >&2
        exit 1
    fi
fi

build=build/cpp
cmake -S . -B "$build" -DTAVRELO_BUILD_TESTS=ON -DTAVRELO_WERROR="${TAVRELO_WERROR:-OFF}" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j 2
ctest --test-dir "$build" --output-on-failure -j 2
scripts/cpp_example.sh
