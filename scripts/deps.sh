#!/usr/bin/env bash
# Installs the Debian packages that the host build and the simulators need, when missing.
# With --all it adds what only the full test run uses: clang and its sanitizer and fuzzer
# runtimes, the mingw-w64 cross compiler and Wine (about 1.3 GB).
set -euo pipefail

packages=(cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev)
if [ "${1:-}" = --all ]; then
    packages+=(clang libclang-rt-14-dev g++-mingw-w64-x86-64-posix wine64 wine)
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if ((${#missing[@]})); then
    echo "deps: installing ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then
        echo "deps: run as root (or install the packages above by hand)" >&2
        exit 1
    fi
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi
