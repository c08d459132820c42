#!/usr/bin/env bash
# Runs the library's XPath benchmark (amxml-bench --xpath) side by side with the libxml2 and
# pugixml peers on generated documents, and prints per document and expression the median times
# of the three, the ratios library/libxml2 and library/pugixml, their geometric means, how time
# scales with size, and every result that differs from libxml2's (loudly).
#
# Usage: bench/xpath.sh [--quick] [-n REPS] [--docs "KIND:AMOUNT ..."] [--no-invariant]
#                       [--work DIR] [--build DIR]
#   --quick         doc:1M only, without the invariant filter
#   -n REPS         timed repetitions per expression, the same for all programs (default 5)
#   --docs LIST     gen.py documents for xpath.txt (default "doc:1M doc:10M deep:9990
#                   flat:1000000")
#   --no-invariant  skip xpath-invariant.txt, which runs on doc:200K with -n 1 (libxml2 and
#                   pugixml take seconds there, being quadratic)
#   --work DIR      where documents and results go (default bench/work)
#   --build DIR     the Release build (default build-bench), made as bench/run.sh makes it
# libxml2's signed-subset is quadratic (seconds at 1 MB), and so is its union (//. | //@*), which
# the each- expressions run over (at 10 MB it alone takes most of an hour): on documents over 2 MB
# these are left out of libxml2's list and their ratios show as "-". The results stay in
# WORK/xpath-*.txt; `python3 bench/xpath_report.py FILE` prints the tables again.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

reps=5
docs="doc:1M doc:10M deep:9990 flat:1000000"
invariant=1
work=bench/work
build=build-bench
while [ $# -gt 0 ]; do
    case "$1" in
        --quick) docs="doc:1M"; invariant=0 ;;
        -n) reps="$2"; shift ;;
        --docs) docs="$2"; shift ;;
        --no-invariant) invariant=0 ;;
        --work) work="$2"; shift ;;
        --build) build="$2"; shift ;;
        *) sed -n '7,19p' "$0" >&2; exit 2 ;;
    esac
    shift
done
case "$build" in /*) ;; *) build="$root/$build" ;; esac
case "$work" in /*) ;; *) work="$root/$work" ;; esac

# The library in Release (with symbols, for callgrind) and the peers, as bench/run.sh builds them.
scripts/setup.sh --bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O3 -DNDEBUG -g" \
    -DAMXML_BUILD_BENCH=ON -DAMXML_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j 2 --target amxml-bench >&2
make -s -C bench/peers OUT="$build/peers" "$build/peers/libxml2_xpath" "$build/peers/pugixml_xpath" >&2

amxml="$build/bench/amxml-bench"
libxml2="$build/peers/libxml2_xpath"
pugixml="$build/peers/pugixml_xpath"
list=bench/peers/xpath.txt

document() {
    local kind="${1%%:*}" amount="${1#*:}"
    local file="$work/$kind-$amount.xml"
    if [ ! -s "$file" ] || [ bench/peers/gen.py -nt "$file" ]; then
        echo "generating $file" >&2
        python3 bench/peers/gen.py "$kind" "$amount" "$file.tmp"
        mv "$file.tmp" "$file"
    fi
    echo "$file"
}

mkdir -p "$work"
results="$work/xpath-$(date +%Y%m%d-%H%M%S).txt"
: >"$results"
short="$work/xpath-without-quadratic.txt"
grep -v -e '^signed-subset' -e '^each-' "$list" >"$short"

run3() {  # LIST FILE REPS [LIBXML2_LIST]
    local name
    name="$(basename "$2")"
    echo "size $name $(wc -c <"$2")" >>"$results"
    echo "== amxml $name" >&2
    "$amxml" --xpath -n "$3" "$1" "$2" >>"$results" || echo "fail amxml $name" >>"$results"
    echo "== libxml2 $name" >&2
    "$libxml2" -n "$3" "${4:-$1}" "$2" >>"$results" || echo "fail libxml2 $name" >>"$results"
    echo "== pugixml $name" >&2
    "$pugixml" -n "$3" "$1" "$2" >>"$results" || echo "fail pugixml $name" >>"$results"
}

for spec in $docs; do
    file="$(document "$spec")"
    if [ "$(wc -c <"$file")" -gt 2000000 ]; then
        run3 "$list" "$file" "$reps" "$short"
    else
        run3 "$list" "$file" "$reps"
    fi
done
if [ "$invariant" = 1 ]; then
    run3 bench/peers/xpath-invariant.txt "$(document doc:200K)" 1
fi

echo >&2
python3 bench/xpath_report.py "$results"
