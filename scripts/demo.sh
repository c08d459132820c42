#!/usr/bin/env bash
# On a fresh Debian machine: installs what the build needs, builds the library and its amxml
# tool, then parses the bundled signed sample and writes it back with the library's serializer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build && cmake --build build -j"$(nproc)"
echo "== amxml serialize samples/signed-order.xml (parsed safely, written back as UTF-8):"
build/tools/amxml serialize samples/signed-order.xml
