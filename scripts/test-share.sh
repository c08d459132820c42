#!/usr/bin/env bash
# Prints the non-blank, non-comment lines of C++ (.cpp/.h) of the library and its tools, of the
# tests, and the tests' share of the code. Counts the files git knows.
# Usage: scripts/test-share.sh [SUBSYSTEM...]   (a subsystem's directory and public header, and
# tests/SUBSYSTEM; default: the whole library, its tools and all tests)
set -euo pipefail
cd "$(dirname "$0")/.."
count() {
    git ls-files -- "$@" | grep -E '\.(cpp|cc|h|hpp)$' | xargs -r cat | grep -c -v -E '^\s*(//.*)?$' || true
}
if [ $# -gt 0 ]; then
    code=$(count "$@" $(printf 'include/ambrite/xml/%s.h ' "$@"))
    tests=$(count $(printf 'tests/%s ' "$@"))
else
    code=$(count foundation streams dom nodeset c14n xpath xpointer binding include tools)
    tests=$(count tests)
fi
echo "code $code tests $tests share $(( 100 * tests / (code > 0 ? code : 1) ))%"
