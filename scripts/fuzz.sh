#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang, AddressSanitizer and UndefinedBehaviorSanitizer in
# build/fuzz and runs each for a bounded time: fuzz_expr on fuzz/corpus (default 60 seconds),
# then the readers' fuzz_parse on fuzz/corpus_parse (TAVRELO_FUZZ_PARSE_SECONDS, default 30).
# Usage: scripts/fuzz.sh [seconds] [extra libFuzzer flags...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true

clang_rt_fuzzer() {
    compgen -G "/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" >/dev/null
}
if ! command -v clang++ >/dev/null 2>&1 || ! clang_rt_fuzzer; then
    if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang libclang-rt-dev >/dev/null
    else
        echo "error: the fuzzer needs clang and its runtime; install Debian's clang and libclang-rt-dev" >&2
        exit 1
    fi
fi

build=build/fuzz
CXX=clang++ cmake -S . -B "$build" -DTAVRELO_BUILD_FUZZER=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    >/dev/null
cmake --build "$build" -j 2 --target fuzz_expr fuzz_parse

# New inputs go to a scratch directory; the committed corpus stays small and unchanged.
scratch="$build/corpus"
mkdir -p "$scratch"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
"$build/fuzz_expr" "$scratch" fuzz/corpus -max_total_time="$seconds" -max_len=512 \
    -timeout=30 -rss_limit_mb=3072 -print_final_stats=1 -print_funcs=0 -artifact_prefix="$build/" "$@"

scratch_parse="$build/corpus_parse"
mkdir -p "$scratch_parse"
"$build/fuzz_parse" "$scratch_parse" fuzz/corpus_parse -dict=fuzz/parse.dict \
    -max_total_time="${TAVRELO_FUZZ_PARSE_SECONDS:-30}" -max_len=4096 -timeout=30 \
    -rss_limit_mb=3072 -print_final_stats=1 -print_funcs=0 -artifact_prefix="$build/parse-" "$@"
