#!/usr/bin/env bash
# Installs the C++ library from build/cpp into a scratch prefix, then builds and runs the example
# program of examples/cpp against it as a C++ user would (find_package(tavrelo)).
set -euo pipefail
cd "$(dirname "$0")/.."

prefix=build/cpp-prefix
rm -rf "$prefix" build/cpp-example
cmake --install build/cpp --prefix "$prefix" >/dev/null
cmake -S examples/cpp -B build/cpp-example -DCMAKE_PREFIX_PATH="$PWD/$prefix" \
    -DCMAKE_CXX_FLAGS="-Wall -Wextra -Wpedantic -Werror" >/dev/null
cmake --build build/cpp-example -j 2 >/dev/null
got=$(build/cpp-example/expand_square)
want='\left(x + 1\right)^{2}
x^{2} + 2x + 1
\frac{\sqrt{2}}{2}
same'
if [ "$got" != "$want" ]; then
    printf 'C++ example: unexpected output\n%s\n' "$got" >&2
    exit 1
fi
echo "C++ example against the installed library: ok"
