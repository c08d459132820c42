#!/usr/bin/env bash
# Sets up the machine, builds the library, its tool and its tests, and runs the whole suite.
# Usage: scripts/test.sh [BUILD_DIR [extra cmake arguments...]]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
shift || true
scripts/setup.sh
cmake -S . -B "$build" -DAMXML_WERROR=ON "$@"
cmake --build "$build" -j "$(nproc)"
ctest --test-dir "$build" -j "$(nproc)" --output-on-failure
