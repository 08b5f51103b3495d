#!/usr/bin/env bash
# Runs InfCheck.exe (package/infcheck, built by scripts/driver-package.sh) on INF files under Wine,
# in a prefix of its own that is kept in build/ between runs. Exit 0 when every INF holds.
# Usage: check-inf.sh INFCHECK.exe FILE.inf...
set -uo pipefail
exe=$1; shift
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${INF_WINEPREFIX:-$root/build/driver-package.wineprefix} WINEDEBUG=-all WINEARCH=win64
mkdir -p "$WINEPREFIX"
failed=0
for inf in "$@"; do
    # Wine maps the Linux root to Z:.
    path="Z:$(cd "$(dirname "$inf")" && pwd)/$(basename "$inf")"
    wine "$exe" "${path//\//\\}" </dev/null 2>/dev/null | tr -d '\r' || failed=1
done
exit $failed
