#!/usr/bin/env bash
# Installs the Debian packages needed to build and test the library. Does nothing when they are
# all present. Options: --fuzz adds clang and its fuzzer runtime, --bench adds the peer programs'
# build dependencies, --format adds clang-format.
set -euo pipefail

packages=(cmake g++ make pkg-config libxerces-c-dev googletest libgtest-dev libbenchmark-dev
          libxml2-utils libxml2-dev python3 python3-lxml libssl-dev)
for arg in "$@"; do
    case "$arg" in
        --fuzz) packages+=(clang libclang-rt-14-dev) ;;
        --bench) packages+=(zlib1g-dev valgrind) ;;
        --format) packages+=(clang-format) ;;
        *) echo "usage: $0 [--fuzz] [--bench] [--format]" >&2; exit 2 ;;
    esac
done

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
