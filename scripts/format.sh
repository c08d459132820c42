#!/usr/bin/env bash
# Formats the project's C++ sources with the repository's .clang-format. With --check, changes
# nothing and fails when a file is not formatted.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --format
mapfile -t files < <(git ls-files '*.cpp' '*.h' | grep -v '^bench/peers/')
if [ "${1:-}" = "--check" ]; then
    clang-format --dry-run -Werror "${files[@]}"
else
    clang-format -i "${files[@]}"
fi
