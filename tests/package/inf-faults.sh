#!/usr/bin/env bash
# Planted faults for the INF checks: each altered copy of package/Pelvane.inf must fail Wine's
# setupapi check (or the hardware ID check) with the fault it plants. Uses the InfCheck.exe of
# the last scripts/driver-package.sh run, building the package when it is absent.
set -uo pipefail
cd "$(dirname "$0")/../.."
exe=build/driver-package.work/InfCheck.exe
[ -f "$exe" ] || bash scripts/driver-package.sh >/dev/null || exit 1
t=$(mktemp -d "${TMPDIR:-/tmp}/pelvane-inf-faults.XXXXXX") && trap 'rm -rf "$t"' EXIT
inf=package/Pelvane.inf
failed=0

# plant NAME REGEX SED-SCRIPT: the INF altered by SED-SCRIPT fails, printing a line matching REGEX.
plant() {
    local name=$1 regex=$2 file=$t/$(tr ' ' _ <<<"$1").inf
    sed "$3" "$inf" >"$file"
    cmp -s "$inf" "$file" && { echo "FAIL $name: the edit changed nothing"; failed=1; return; }
    if out=$(bash scripts/check-inf.sh "$exe" "$file"); then
        echo "FAIL $name: the check passed"; failed=1
    elif ! grep -qE "$regex" <<<"$out"; then
        echo "FAIL $name: no fault matching /$regex/ in:"; sed 's/^/    /' <<<"$out"; failed=1
    else
        echo "ok   $name"
    fi
}

if out=$(bash scripts/check-inf.sh "$exe" "$inf"); then echo "ok   untouched INF"; else
    echo "FAIL untouched INF:"; sed 's/^/    /' <<<"$out"; failed=1; fi

plant "missing INF section" 'section \[Pelvane_WdfSection\], named in Pelvane_Filter.NT.Wdf, is missing' \
    '/^\[Pelvane_WdfSection\]/,+1d'
plant "missing decorated install section" 'section \[Pelvane_Filter.NT.Filters\] is missing' \
    's/^\[Pelvane_Filter.NT.Filters\]/[Pelvane_Filter.NT.Filterz]/'
plant "missing models section" 'section \[Pelvane.NTARM64.10.0...19041\], named in \[Manufacturer\]' \
    's/^\[Pelvane.NTARM64.10.0...19041\]/[Pelvane.NTARM64]/'
plant "syntax error" 'does not parse: .* at line 56' 's/^\[Pelvane_Service\]/[Pelvane_Service/'
plant "missing string" 'string %DiskName% \(line 26\) is not in \[Strings\]' '/^DiskName/d'
plant "copied file without a source" 'file Pelvane.sys of \[Pelvane_CopyFiles\] is not in \[SourceDisksFiles\]' \
    '/^Pelvane.sys = 1/d'
plant "filter installed as the function driver" 'makes Pelvane the function driver' \
    's/AddService = Pelvane, 0,/AddService = Pelvane, 0x2,/'
plant "no PnpLockdown" '\[Version\] has no PnpLockdown' '/^PnpLockdown/d'

# The INF must not offer the image to a Windows older than its newest import.
if out=$(python3 scripts/check-driver-image.py minversion "$inf" --defs package/imports); then
    sed 's/NTARM64.10.0...19041/NTARM64.10.0...17763/g' "$inf" >"$t/old.inf"
    if out=$(python3 scripts/check-driver-image.py minversion "$t/old.inf" --defs package/imports) ||
        ! grep -q 'allows Windows older than 10.0.19041' <<<"$out"; then
        echo "FAIL minimum Windows version: an INF for 1809 passes"; failed=1
    else echo "ok   minimum Windows version"; fi
else echo "FAIL minimum Windows version: the untouched INF fails:"; sed 's/^/    /' <<<"$out"; failed=1; fi

# Placeholder hardware IDs pass a development build and fail a release; real ones pass both.
check=scripts/check-driver-image.py
release=$(python3 $check hwids "$inf" --release 1) && release=accepted
if ! python3 $check hwids "$inf" >/dev/null || ! grep -q 'Controller0.HwId is still a placeholder' <<<"$release"; then
    echo "FAIL placeholder hardware IDs: a release accepts them"; failed=1
else
    sed 's/PLACEHOLDER_USB_CONTROLLER_/PLV0000/' "$inf" >"$t/filled.inf"
    if python3 $check hwids "$t/filled.inf" --release 1 >/dev/null; then echo "ok   placeholder hardware IDs"; else
        echo "FAIL placeholder hardware IDs: real IDs refused"; failed=1; fi
fi
exit $failed
