#!/usr/bin/env bash
# Planted faults for the image and import checks: each variant must fail its check with the
# fault it plants, and the untouched package must pass. Reuses the objects, libraries and export
# tables of the last scripts/driver-package.sh run (build/driver-package.work), building it when
# absent.
set -uo pipefail
cd "$(dirname "$0")/../.."
work=build/driver-package.work
[ -f "$work/Pelvane.map" ] || bash scripts/driver-package.sh >/dev/null || exit 1
t=$(mktemp -d "${TMPDIR:-/tmp}/pelvane-image-faults.XXXXXX") && trap 'rm -rf "$t"' EXIT
check=scripts/check-driver-image.py
failed=0

# expect NAME REGEX CMD...: CMD fails, and prints a line matching REGEX.
expect() {
    local name=$1 regex=$2; shift 2
    if out=$("$@" 2>&1); then
        echo "FAIL $name: the check passed"; failed=1
    elif ! grep -qE "$regex" <<<"$out"; then
        echo "FAIL $name: no fault matching /$regex/ in:"; sed 's/^/    /' <<<"$out"; failed=1
    else
        echo "ok   $name"
    fi
}
passes() {
    local name=$1; shift
    if out=$("$@" 2>&1); then echo "ok   $name"; else echo "FAIL $name:"; sed 's/^/    /' <<<"$out"; failed=1; fi
}

link() { # link OUT OBJDIR EXTRA...
    local o=$1 objs=$2; shift 2
    lld-link-16 /nologo /machine:arm64 /driver:wdm /subsystem:native,10.00 /entry:FxDriverEntry \
        /nodefaultlib /release /section:INIT,ERD /merge:_PAGE=PAGE /opt:ref /opt:icf /debug \
        /pdb:"$o.pdb" /pdbaltpath:Pelvane.pdb /map:"$o.map" /out:"$o" "$objs"/*.obj \
        "$work/Pelvane.res" "$work"/libs/*.lib "$@" >/dev/null
}
image() { python3 $check image "$1" --map "$1.map" --sources driver --defs package/imports; }
imports() { python3 $check imports --needed "$1" --defs "$2" --exports "$work/exports"; }

link "$t/good.sys" "$work/objs" && passes "untouched image" image "$t/good.sys"
passes "untouched import lists" imports "$work/needed.txt" package/imports

link "$t/wx.sys" "$work/objs" /section:.data,ERW &&
    expect "writable executable section" 'section \.data is writable and executable' image "$t/wx.sys"

# A build without ALLOC_PRAGMA leaves the pageable callback in .text.
mkdir -p "$t/objs" && cp "$work"/objs/*.obj "$t/objs/" &&
    bash "$work/cc" -UALLOC_PRAGMA driver/frame/DeviceAdd.cpp -o "$t/objs/driver_frame_DeviceAdd.cpp.obj" &&
    link "$t/nopage.sys" "$t/objs" &&
    expect "pageable function missing from PAGE" 'EvtDriverDeviceAdd is in alloc_text\(PAGE\) but in \.text' image "$t/nopage.sys"

# Imports: a routine in the wrong DLL's list, a name no list holds, a listed name in neither
# export table.
cp -r package/imports "$t/wrongdll"
sed -i '/^KeQueryPerformanceCounter/d' "$t/wrongdll/hal.def" && echo KeQueryPerformanceCounter >>"$t/wrongdll/ntoskrnl.def"
expect "import from the wrong DLL" 'KeQueryPerformanceCounter is listed for ntoskrnl but hal exports it' \
    imports "$work/needed.txt" "$t/wrongdll"
{ cat "$work/needed.txt"; echo KeBugCheckEx; } >"$t/needed-more.txt"
expect "import no list holds" 'need KeBugCheckEx, which no reviewed import list holds' imports "$t/needed-more.txt" package/imports
cp -r package/imports "$t/unmarked" && sed -i 's/^MmMapIoSpaceEx.*/MmMapIoSpaceEx/' "$t/unmarked/ntoskrnl.def"
expect "newer import not marked" 'MmMapIoSpaceEx \(ntoskrnl\) is in neither export table' imports "$work/needed.txt" "$t/unmarked"
cp -r package/imports "$t/madeup" && echo IoPelvaneInvented >>"$t/madeup/ntoskrnl.def"
expect "import that no DLL exports" 'IoPelvaneInvented \(ntoskrnl\) is in neither' imports "$work/needed.txt" "$t/madeup"

# The image imports a routine that its DLL's list lacks (an import library out of step).
cp -r package/imports "$t/short" && sed -i '/^KeSetEvent/d' "$t/short/ntoskrnl.def"
expect "image import missing from its list" 'imports KeSetEvent from ntoskrnl.exe, whose reviewed list lacks it' \
    python3 $check image "$t/good.sys" --map "$t/good.sys.map" --sources driver --defs "$t/short"

python3 - "$t/good.sys" "$t/badsum.sys" <<'PY'
import sys; d = bytearray(open(sys.argv[1], "rb").read()); d[-1] ^= 0xFF; open(sys.argv[2], "wb").write(d)
PY
expect "stale checksum" '^FAULT: checksum' python3 $check checksum "$t/badsum.sys"

exit $failed
