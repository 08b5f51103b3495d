#!/usr/bin/env bash
# The driver as a WDK build sees it: every source compiled for ARM64 Windows against the real
# KMDF 1.15 headers and mingw-w64's DDK headers by ../shared/realheaders/check-driver, whose
# objects may need nothing but kernel, HAL and framework names; then every driver header
# compiled on its own with the same command, so that each one includes what it uses, in the
# order the WDK needs (kernel headers, <wdf.h>, the rest).
#
# Skips, saying so, when the checker is absent (a clone without ../shared). REALHEADERS names
# another checker folder. Works in a temporary folder of its own and writes nothing into the
# checker's folder, which may be read-only.
set -uo pipefail
cd "$(dirname "$0")/.."

realheaders=${REALHEADERS:-../shared/realheaders}
if [ ! -f "$realheaders/check-driver" ]; then
    echo "real-header check skipped: $realheaders/check-driver is absent"
    exit 0
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/pelvane-wdk.XXXXXX") || exit 1
# The checker copies read-only files when its folder is read-only; make them removable.
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT

# The checker copies its headers into REALHEADERS_TMP and patches the copies there; copied from
# a read-only folder, they are read-only too, which only root may ignore. Other users run it
# from a writable copy in the temporary folder.
checker=$realheaders
if [ ! -w "$realheaders/kmdf-1.15/wdf.h" ]; then
    cp -r "$realheaders" "$work/realheaders" && chmod -R u+w "$work/realheaders" || exit 1
    checker=$work/realheaders
fi

export REALHEADERS_TMP="$work/check"
export EXTRA_GAPS="$PWD/scripts/wdk-gaps.h"
if ! bash "$checker/check-driver" driver; then
    echo "real-header check: the driver does not build as a WDK build would (see above)"
    exit 1
fi

failed=0
headers=0
while IFS= read -r header; do
    headers=$((headers + 1))
    printf '#include "%s"\n' "${header#driver/}" >"$work/header.cpp"
    if ! out=$("$REALHEADERS_TMP/cc" "$work/header.cpp" 2>&1); then
        failed=1
        echo "$header does not compile on its own against the real headers:"
        grep -m5 -E 'error:' <<<"$out" | sed 's/^/    /'
    fi
done < <(find driver -name '*.h' -type f | sort)
echo "driver headers on their own against the real headers: $headers checked"
exit $failed
