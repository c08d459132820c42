#!/usr/bin/env bash
# Builds the fuzz targets with clang (ASan, UBSan, libFuzzer) in build-fuzz/ and runs each for a
# bounded time, one worker at a time, on a working copy of its seed corpus. New interesting
# inputs collect in build-fuzz/corpus/TARGET; the seeds in fuzz/corpus/TARGET are only read.
# One process per target (no -jobs), so one core stays free.
# Fails on the first crash, leak or timeout; the input is left in build-fuzz/artifacts/.
# Usage: fuzz/run.sh [SECONDS per target, default 60] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(parse_c14n_fuzzer uri_fuzzer xpath_fuzzer xpath_filter_fuzzer xpointer_fuzzer
    binding_fuzzer stream_c14n_fuzzer)
build="${AMXML_FUZZ_BUILD_DIR:-build-fuzz}"

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DAMXML_BUILD_FUZZ=ON -DAMXML_BUILD_TESTS=OFF -DAMXML_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"

export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
mkdir -p "$build/artifacts"
for t in "${targets[@]}"; do
    work="$build/corpus/$t"
    mkdir -p "$work"
    echo "=== $t: $seconds s"
    set +e
    "$build/fuzz/$t" "$work" "fuzz/corpus/$t" -max_total_time="$seconds" \
        -timeout=30 -rss_limit_mb=2560 -max_len=8192 -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/$t-" >"$build/$t.log" 2>&1
    rc=$?
    set -e
    grep -v -E "^#[0-9]+.*(NEW|REDUCE|pulse)" "$build/$t.log" | tail -n 60
    if [ $rc -ne 0 ]; then
        echo "=== $t FAILED (exit $rc); log in $build/$t.log" >&2
        exit 1
    fi
done
