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
echo "== amxml c14n --exclusive --id-attr Id --apex signed --exclude-signatures $sample"
echo "== (the Signed element minus its enveloped ds:Signature, exclusive canonical XML: the"
echo "==  bytes a verifier digests for Reference URI=\"#signed\", found by the bare-name"
echo "==  XPointer signed while the input is read; Id holds IDs although no DTD says so):"
build/tools/amxml c14n --exclusive --id-attr Id --apex signed --exclude-signatures "$sample"
echo
echo
apex='xmlns(o=urn:example:orders)xpointer(/o:Order/o:Signed)'
signature='xmlns(ds=http://www.w3.org/2000/09/xmldsig#)xpointer(//ds:Signature)'
echo "== amxml c14n --exclusive --apex '$apex' --exclude '$signature' $sample"
echo "== (the same bytes, chosen by scheme-based XPointers, which the document built in memory"
echo "==  resolves):"
build/tools/amxml c14n --exclusive --apex "$apex" --exclude "$signature" "$sample"
echo
echo
echo "== amxml verify --key samples/signed-order.pub.pem --id-attr Id --explain $sample"
echo "== (checks the signature end to end: the reference's digest over those bytes, then the"
echo "==  RSA signature over the canonical SignedInfo with the sample's public key; --explain"
echo "==  adds what the reference covers, the Signed element /1/2 minus the signature inside"
echo "==  it, and the elements that no valid signature covers, such as the Customer /1/1):"
build/tools/amxml verify --key samples/signed-order.pub.pem --id-attr Id --explain "$sample"
