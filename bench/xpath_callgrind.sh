#!/usr/bin/env bash
# Instruction counts of amxml-bench --xpath per expression: one run under callgrind collecting
# only the timed evaluations (-n 1), with one dump per expression, then a line per expression
# "ID Ir" and the total. Counts do not drift with the load of the machine as times do: these are
# the figures to compare before and after a change.
#
# Usage: bench/xpath_callgrind.sh LIST FILE [BUILD_DIR]   (BUILD_DIR defaults to build-bench)
# The dumps stay in BUILD_DIR/callgrind/xpath.DOC.*; for one expression's functions:
# callgrind_annotate THAT_FILE | head -40
set -euo pipefail
if [ $# -lt 2 ] || [ $# -gt 3 ]; then
    sed -n '7,9p' "$0" >&2
    exit 2
fi
list="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
file="$(cd "$(dirname "$2")" && pwd)/$(basename "$2")"
cd "$(dirname "$0")/.."
build="${3:-build-bench}"
case "$build" in /*) ;; *) build="$PWD/$build" ;; esac
[ -x "$build/bench/amxml-bench" ] || bench/xpath.sh --build "$build" --docs "" --no-invariant >&2
out="$build/callgrind/xpath.$(basename "$file")"
mkdir -p "$build/callgrind"
rm -f "$out".*
valgrind --tool=callgrind --collect-atstart=no --callgrind-out-file="$out.%p" \
    "$build/bench/amxml-bench" --xpath -n 1 -c "$list" "$file" >"$out.log" 2>&1 || {
    cat "$out.log" >&2
    exit 1
}
total=0
for dump in "$out".*.*; do
    [ -f "$dump" ] || continue
    id="$(sed -n 's/^desc: Trigger: Client Request: //p' "$dump")"
    [ -n "$id" ] || continue
    ir="$(grep -E '^(summary|totals):' "$dump" | head -1 | awk '{print $2}')"
    printf '%-20s %14s\n' "$id" "$ir"
    total=$((total + ir))
done
printf '%-20s %14s\n' total "$total"
