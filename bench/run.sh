#!/usr/bin/env bash
# Runs the library's benchmark (amxml-bench) side by side with the libxml2 peer and the bare
# Xerces-C floor on generated documents, then prints per document and scenario the throughput of
# each, the ratios, output mismatches against libxml2, peak memory and how time scales with size.
#
# Usage: bench/run.sh [--quick] [-n REPS] [--rounds N] [--docs "KIND:AMOUNT ..."] [--work DIR]
#                     [--build DIR] [--dump] [--build-only]
#   --quick        documents doc:1M and doc:10M only
#   -n REPS        timed repetitions per scenario, the same for all three programs (default 5)
#   --rounds N     run the three programs N times in turn on each document and report each
#                  one's fastest median, which steadies the ratios on a busy machine (default 1)
#   --docs LIST    documents to generate and run, as gen.py kinds and amounts
#                  (default "doc:1M doc:10M doc:100M deep:10000 flat:1000000")
#   --work DIR     where documents and results go (default bench/work)
#   --build DIR    the Release build of the library and the programs (default build-bench)
#   --dump         also write every output to WORK/dump, for comparing mismatching outputs
#   --build-only   build the programs and stop
# The results of a run stay in WORK/results-*.txt; `python3 bench/report.py FILE` prints their
# tables again.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

quick=0
reps=5
rounds=1
docs=""
work=bench/work
build=build-bench
dump=0
build_only=0
while [ $# -gt 0 ]; do
    case "$1" in
        --quick) quick=1 ;;
        -n) reps="$2"; shift ;;
        --rounds) rounds="$2"; shift ;;
        --docs) docs="$2"; shift ;;
        --work) work="$2"; shift ;;
        --build) build="$2"; shift ;;
        --dump) dump=1 ;;
        --build-only) build_only=1 ;;
        *) sed -n '6,19p' "$0" >&2; exit 2 ;;
    esac
    shift
done
case "$build" in /*) ;; *) build="$root/$build" ;; esac
case "$work" in /*) ;; *) work="$root/$work" ;; esac
if [ -z "$docs" ]; then
    if [ "$quick" = 1 ]; then
        docs="doc:1M doc:10M"
    else
        docs="doc:1M doc:10M doc:100M deep:10000 flat:1000000"
    fi
fi

# 1, 2: the library in Release (with symbols, for profilers) and the two peer programs.
scripts/setup.sh --bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O3 -DNDEBUG -g" \
    -DAMXML_BUILD_BENCH=ON -DAMXML_BUILD_TESTS=OFF -DAMXML_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target amxml-bench amxml-micro-bench >&2
make -s -C bench/peers OUT="$build/peers" >&2
[ "$build_only" = 1 ] && exit 0

amxml="$build/bench/amxml-bench"
libxml2="$build/peers/libxml2_c14n"
floor="$build/peers/xerces_floor"

# Peak RSS in kB of a command run in a process of its own (its output is discarded).
peak_rss() {
    python3 -c 'import resource, subprocess, sys
r = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL).returncode
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss if r == 0 else "-")' "$@"
}

# 3: the documents; gen.py is deterministic, so a document is made again only when it is newer.
mkdir -p "$work"
files=()
for spec in $docs; do
    kind="${spec%%:*}"
    amount="${spec#*:}"
    file="$work/$kind-$amount.xml"
    if [ ! -s "$file" ] || [ bench/peers/gen.py -nt "$file" ]; then
        echo "generating $file" >&2
        python3 bench/peers/gen.py "$kind" "$amount" "$file.tmp"
        mv "$file.tmp" "$file"
    fi
    files+=("$file")
done

# 4, 6: the three programs on each document, then the memory runs (one process each).
results="$work/results-$(date +%Y%m%d-%H%M%S).txt"
dumpdir=()
if [ "$dump" = 1 ]; then
    mkdir -p "$work/dump"
    dumpdir=(-d "$work/dump")
fi
: >"$results"
for file in "${files[@]}"; do
    name="$(basename "$file")"
    echo "size $name $(wc -c <"$file")" >>"$results"
    for tool in $(for _ in $(seq "$rounds"); do echo amxml libxml2 floor; done); do
        echo "== $tool $name" >&2
        case "$tool" in
            amxml) cmd=("$amxml" -n "$reps" "${dumpdir[@]}" "$file") ;;
            libxml2) cmd=("$libxml2" -n "$reps" "${dumpdir[@]}" "$file") ;;
            floor) cmd=("$floor" -n "$reps" "${dumpdir[@]}" "$file") ;;
        esac
        rc=0
        "${cmd[@]}" >>"$results" || rc=$?
        [ "$rc" = 0 ] || echo "fail $tool $name $rc" >>"$results"
    done
    echo "== memory $name" >&2
    # -m: the output is checksummed as it passes, not kept, so the difference is what
    # canonicalization itself holds.
    echo "rss amxml $name parse $(peak_rss "$amxml" -m -n 1 -s parse "$file")" >>"$results"
    echo "rss amxml $name c14n-incl $(peak_rss "$amxml" -m -n 1 -s c14n-incl "$file")" >>"$results"
    echo "rss libxml2 $name all $(peak_rss "$libxml2" -n 1 "$file")" >>"$results"
done

# 5, 7: the tables.
echo >&2
python3 bench/report.py "$results"
