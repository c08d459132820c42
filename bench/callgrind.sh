#!/usr/bin/env bash
# Instruction count of one scenario of amxml-bench: runs `amxml-bench -n 1 -c -s SCENARIO FILE`
# under callgrind, collecting only the one timed run (not the start-up, the untimed parse or the
# warm-up), and prints callgrind's totals. Instruction counts do not drift with the load of the
# machine as times do, so they are the figures to compare before and after a change.
#
# Usage: bench/callgrind.sh SCENARIO FILE [BUILD_DIR]
#   BUILD_DIR defaults to build-bench and is built as bench/run.sh builds it when needed.
# The profile is kept as BUILD_DIR/callgrind/callgrind.out.SCENARIO.DOC; for the functions by
# inclusive cost: callgrind_annotate --inclusive=yes THAT_FILE | head -40
set -euo pipefail
if [ $# -lt 2 ] || [ $# -gt 3 ]; then
    sed -n '7,10p' "$0" >&2
    exit 2
fi
scenario="$1"
file="$(cd "$(dirname "$2")" && pwd)/$(basename "$2")"
cd "$(dirname "$0")/.."
build="${3:-build-bench}"
case "$build" in /*) ;; *) build="$PWD/$build" ;; esac

amxml="$build/bench/amxml-bench"
if [ ! -x "$amxml" ] || ! command -v valgrind >/dev/null; then
    bench/run.sh --build-only --build "$build" >&2
fi

mkdir -p "$build/callgrind"
out="$build/callgrind/callgrind.out.$scenario.$(basename "$file")"
valgrind --tool=callgrind --collect-atstart=no --callgrind-out-file="$out" \
    "$amxml" -n 1 -c -s "$scenario" "$file" >"$out.log" 2>&1 || {
    cat "$out.log" >&2
    exit 1
}
totals="$(grep -E '^(summary|totals):' "$out" | head -1 | awk '{print $2}')"
echo "$scenario $(basename "$file") Ir $totals"
echo "profile: $out" >&2
