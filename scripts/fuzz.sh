#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang, AddressSanitizer and UndefinedBehaviorSanitizer in
# build/fuzz and runs each for a bounded time: fuzz_expr (the algebra) on fuzz/corpus for the
# given seconds (default 60), then fuzz_loads (the binary reader) on fuzz/corpus_loads for a third
# of that, then fuzz_parse (the readers) on fuzz/corpus_parse (TAVRELO_FUZZ_PARSE_SECONDS, default 30).
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
cmake --build "$build" -j 2 --target fuzz_expr fuzz_loads fuzz_parse

# New inputs go to scratch directories; the committed corpora stay small and unchanged.
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
run() {  # harness, committed corpus, seconds, extra flags...
    local harness=$1 corpus=$2 time=$3
    shift 3
    mkdir -p "$build/$corpus"
    "$build/$harness" "$build/$corpus" "fuzz/$corpus" -max_total_time="$time" -max_len="${MAX_LEN:-512}" \
        -timeout=30 -rss_limit_mb=3072 -print_final_stats=1 -print_funcs=0 \
        -artifact_prefix="$build/$harness-" "$@"
}
run fuzz_expr corpus "$seconds" "$@"
run fuzz_loads corpus_loads $(( (seconds + 2) / 3 )) "$@"
MAX_LEN=4096 run fuzz_parse corpus_parse "${TAVRELO_FUZZ_PARSE_SECONDS:-30}" -dict=fuzz/parse.dict "$@"
