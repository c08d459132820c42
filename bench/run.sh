#!/usr/bin/env bash
# Runs the library's benchmark (amxml-bench) side by side with the libxml2 peer and the bare
# Xerces-C floor on generated documents, and `amxml c14n` (streaming) against `xmllint --c14n`
# and `--exc-c14n` end to end, then prints per document and scenario the throughput of each,
# the ratios, output mismatches against libxml2, peak memory and how time scales with size.
#
# Usage: bench/run.sh [--quick] [-n REPS] [--rounds N] [--docs "KIND:AMOUNT ..."] [--work DIR]
#                     [--build DIR] [--dump] [--build-only]
#   --quick        documents doc:1M and doc:10M only
#   -n REPS        timed repetitions per scenario, the same for all programs (default 5)
#   --rounds N     run the three programs N times in turn on each document and report each
#                  one's fastest median, which steadies the ratios on a busy machine (default 1)
#   --docs LIST    documents to generate and run, as gen.py kinds and amounts
#                  (default "doc:1M doc:10M doc:100M deep:9990 flat:1000000"); documents over
#                  1 GB (doc:2G) are only canonicalized end to end by amxml c14n, once per mode;
#                  deep:9990 nests 9,992 elements, within the library's default depth bound
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
        *) sed -n '7,22p' "$0" >&2; exit 2 ;;
    esac
    shift
done
case "$build" in /*) ;; *) build="$root/$build" ;; esac
case "$work" in /*) ;; *) work="$root/$work" ;; esac
if [ -z "$docs" ]; then
    if [ "$quick" = 1 ]; then
        docs="doc:1M doc:10M"
    else
        docs="doc:1M doc:10M doc:100M deep:9990 flat:1000000"
    fi
fi

# 1, 2: the library in Release (with symbols, for profilers) and the two peer programs.
scripts/setup.sh --bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O3 -DNDEBUG -g" \
    -DAMXML_BUILD_BENCH=ON -DAMXML_BUILD_TESTS=OFF -DAMXML_BUILD_TOOLS=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target amxml-bench amxml-micro-bench amxml >&2
make -s -C bench/peers OUT="$build/peers" >&2
[ "$build_only" = 1 ] && exit 0

amxml="$build/bench/amxml-bench"
libxml2="$build/peers/libxml2_c14n"
floor="$build/peers/xerces_floor"
tool="$build/tools/amxml"
big=1000000000

# A command run REPS times end to end, its output to /dev/null: the median and the least process
# time (user + system) in ms and the peak RSS in kB, as "MED MIN KB"; "-" when it fails.
end_to_end() {
    python3 -c 'import os, subprocess, sys
reps, cmd = int(sys.argv[1]), sys.argv[2:]
ms, rss = [], 0
for _ in range(reps):
    p = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(p.pid, 0)
    if status != 0:
        print("- - -")
        sys.exit(0)
    ms.append((usage.ru_utime + usage.ru_stime) * 1e3)
    rss = max(rss, usage.ru_maxrss)
ms.sort()
med = ms[len(ms) // 2] if len(ms) % 2 else (ms[len(ms) // 2 - 1] + ms[len(ms) // 2]) / 2
print("%.1f %.1f %d" % (med, ms[0], rss))' "$@"
}

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
    size=$(wc -c <"$file")
    echo "size $name $size" >>"$results"
    if [ "$size" -le "$big" ]; then
        for prog in $(for _ in $(seq "$rounds"); do echo amxml libxml2 floor; done); do
            echo "== $prog $name" >&2
            case "$prog" in
                amxml) cmd=("$amxml" -n "$reps" "${dumpdir[@]}" "$file") ;;
                libxml2) cmd=("$libxml2" -n "$reps" "${dumpdir[@]}" "$file") ;;
                floor) cmd=("$floor" -n "$reps" "${dumpdir[@]}" "$file") ;;
            esac
            rc=0
            "${cmd[@]}" >>"$results" || rc=$?
            [ "$rc" = 0 ] || echo "fail $prog $name $rc" >>"$results"
        done
        echo "== memory $name" >&2
        # -m: the output is checksummed as it passes, not kept, so the difference is what
        # canonicalization itself holds.
        echo "rss amxml $name parse $(peak_rss "$amxml" -m -n 1 -s parse "$file")" >>"$results"
        echo "rss amxml $name c14n-incl $(peak_rss "$amxml" -m -n 1 -s c14n-incl "$file")" \
            >>"$results"
        echo "rss amxml $name stream-incl $(peak_rss "$amxml" -m -n 1 -s stream-incl "$file")" \
            >>"$results"
        echo "rss libxml2 $name all $(peak_rss "$libxml2" -n 1 "$file")" >>"$results"
    fi
    # End to end, file to /dev/null: amxml c14n streams; xmllint has no subsets.
    echo "== end to end $name" >&2
    n=$reps
    [ "$size" -le "$big" ] || n=1
    subset=(--id-attr Id --apex '#signed' --exclude-signatures)
    e2e=("amxml stream-incl $tool c14n"
         "amxml stream-excl $tool c14n --exclusive")
    if [ "$size" -le "$big" ]; then
        e2e+=("amxml stream-incl-subset $tool c14n ${subset[*]}"
              "amxml stream-excl-subset $tool c14n --exclusive ${subset[*]}"
              "xmllint stream-incl xmllint --huge --c14n"
              "xmllint stream-excl xmllint --huge --exc-c14n")
    fi
    for line in "${e2e[@]}"; do
        read -r -a words <<<"$line"
        echo "e2e ${words[0]} $name ${words[1]} $(end_to_end "$n" "${words[@]:2}" "$file")" \
            >>"$results"
    done
done

# 5, 7: the tables.
echo >&2
python3 bench/report.py "$results"
