#!/usr/bin/env bash
# On a fresh Debian machine: installs what the build needs, builds the library and its amxml
# tool, then canonicalizes the bundled signed sample the way a signature verifier does.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build && cmake --build build -j"$(nproc)"
sample=samples/signed-order.xml
echo "== amxml c14n $sample"
echo "== (inclusive canonical XML of the whole document, comments removed):"
build/tools/amxml c14n "$sample"
echo
echo
echo "== amxml c14n --exclusive --apex /1/2 --exclude /1/2/4 $sample"
echo "== (the Signed element minus its enveloped ds:Signature, exclusive canonical XML:"
echo "==  the bytes a verifier digests for Reference URI=\"#signed\"):"
build/tools/amxml c14n --exclusive --apex /1/2 --exclude /1/2/4 "$sample"
echo
