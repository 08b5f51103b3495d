#!/usr/bin/env bash
# The real Windows build of Ostrel: cross-build with mingw-w64 (x86_64, static), check the
# export and the runtime imports, syntax-check every tool source for ARM64 Windows, and run
# the Windows test programs under 64-bit Wine in a throw-away prefix.
set -euo pipefail
cd "$(dirname "$0")/.."

# WINDOWS_BUILD_DIR lets a developer keep a build of their own (default: the preset's).
build=${WINDOWS_BUILD_DIR:-build/windows}
stage() { echo "--- $*"; }
fail() { echo "windows-tests: $*" >&2; exit 1; }

stage "cross-build (mingw-w64 x86_64)"
cmake --preset windows -B "$build" >/dev/null
cmake --build "$build" -j2
exe=$build/tool/ostrel.exe

stage "export and imports of ostrel.exe"
dump=$(x86_64-w64-mingw32-objdump -p "$exe")
# The export name table lists "[ordinal] name"; the name must be undecorated.
grep -Eq '^\s*\[\s*[0-9]+\] GetDriverVersion$' <<<"$dump" || fail "GetDriverVersion is not exported undecorated"
if grep -Ei 'DLL Name: (libstdc\+\+|libgcc|libwinpthread)' <<<"$dump"; then
    fail "ostrel.exe needs mingw runtime DLLs (link it statically)"
fi
echo "GetDriverVersion exported; no mingw runtime DLLs imported"

stage "ARM64 Windows syntax check of the tool"
gcc_include=$(ls -d /usr/lib/gcc/x86_64-w64-mingw32/*-posix/include | sort -V | tail -1)
arm64=(clang++ --target=aarch64-w64-mingw32 -std=c++20 -nostdlibinc -nostdinc++
    -isystem "$gcc_include/c++" -isystem "$gcc_include/c++/x86_64-w64-mingw32"
    -isystem /usr/share/mingw-w64/include -DUNICODE -D_UNICODE
    -Wall -Wextra -Werror -Itool -I"$build/tool/generated" -fsyntax-only)
count=0
while IFS= read -r source; do
    "${arm64[@]}" "$source" || fail "$source does not compile for ARM64 Windows"
    count=$((count + 1))
done < <(find tool -name '*.cpp' | sort)
echo "$count tool sources compile for aarch64-w64-mingw32"

stage "Wine suite"
export WINEPREFIX=$PWD/$build/wineprefix WINEDEBUG=-all WINEARCH=win64
# No Mono or Gecko installer prompts in a headless prefix.
export WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$WINEPREFIX"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
wineboot -i >/dev/null 2>&1 || fail "cannot create the Wine prefix"
wine --version 2>/dev/null

suite=$WINEPREFIX/drive_c/ostrel
mkdir -p "$suite"
cp "$exe" "$build"/tests/windows/command-line-tests.exe \
    "$build"/tests/windows/version-export-tests.exe \
    "$build"/tests/conformance/conformance-tests.exe "$suite"/
out=$build/wine-output
mkdir -p "$out"

# run NAME ARGS...: a test program under Wine (from $suite, or from $folder when that is set),
# its output kept in $out/NAME.txt
run() {
    local name=$1
    shift
    if wine "${folder:-$suite}/$name.exe" "$@" >"$out/$name.txt" 2>&1; then
        tr -d '\r' <"$out/$name.txt" | tail -1
    else
        tr -d '\r' <"$out/$name.txt"
        fail "$name failed"
    fi
}

# The same table of Win32 cases that ctest runs against the stand-in; each case Wine does not
# honour is skipped with its reason, which the output lists.
run conformance-tests
tr -d '\r' <"$out/conformance-tests.txt" | grep '^skip' || true

run command-line-tests

# The test-only configuration manager's own cases, in a folder of their own: beside the other
# programs, it would stand in for Wine's cfgmgr32, which command-line-tests expects.
mkdir -p "$suite/cfgmgr32"
cp "$build"/tests/wine/cfgmgr32-tests.exe "$build"/tests/wine/cfgmgr32.dll "$suite/cfgmgr32/"
folder=$suite/cfgmgr32 WINEDLLOVERRIDES="cfgmgr32=n;mscoree,mshtml=" run cfgmgr32-tests

# What a Linux shell sees of the same process: -1 is exit status 255, and the records land
# in the prefix's C:\ProgramData with CRLF line endings.
status=0
wine "$suite/ostrel.exe" foo >"$out/usage.txt" 2>&1 || status=$?
[ "$status" -eq 255 ] || fail "ostrel.exe foo ended with $status, expected 255"
log=$WINEPREFIX/drive_c/ProgramData/MCUInterfaceRecords.log
[ -s "$log" ] || fail "no record log at $log"
grep -q $'Get Key Error!\r$' "$log" || fail "the record log lacks CRLF records"
echo "exit status 255 for an unknown word; records in drive_c/ProgramData with CRLF"

key='HKLM\SOFTWARE\WOW6432Node\Microsoft\Windows\CurrentVersion\MCUSoftware'
run version-export-tests absent
wine reg add "$key" /v MCUSoftwareVersion /t REG_SZ /d 2.4.1 /f >/dev/null 2>&1
run version-export-tests present 2.4.1
wine reg delete "$key" /f >/dev/null 2>&1
run version-export-tests absent

# The same end-to-end cases against both pairs: the Linux ostrel and mcu-sim on the stand-in,
# and ostrel.exe and mcu-sim.exe under Wine through the launchers (the prefix is the host root).
stage "end-to-end cases: Linux pair and Windows pair"
host=${HOST_BUILD_DIR:-build/dev}
cmake --preset dev >/dev/null
cmake --build "$host" -j2 --target ostrel mcu-sim version-caller winhost-reg >/dev/null
linux_root=$(mktemp -d "${TMPDIR:-/tmp}/ostrel-pair-XXXXXX")
linux_pair=("$host/tool/ostrel" "$host/sim/mcu/mcu-sim" "$host/tests/wine/version-caller"
    "$host/platform/win32/reg/winhost-reg")
windows_pair=(scripts/wine/ostrel scripts/wine/mcu-sim scripts/wine/version-caller scripts/wine/reg)
# The Linux pair runs first: beside it, the Windows pair's answers would compete for the
# processor with the exchanges' two-second wait.
WINHOST_ROOT=$linux_root tests/wine/pair-cases.sh "${linux_pair[@]}" >"$out/pair-linux.txt" ||
    fail "the Linux pair did not run its cases"
windows_cases() {
    WINHOST_ROOT=$WINEPREFIX WINDOWS_BUILD_DIR=$build tests/wine/pair-cases.sh \
        "${windows_pair[@]}" >"$out/pair-windows.txt" || fail "the Windows pair did not run its cases"
    # A driver that closes its files fails the pending read with 1167; a closed pipe can only
    # fail it with 233 (ERROR_PIPE_NOT_CONNECTED). That one code is the pipe's, not the tool's.
    sed -i 's/^\(\[ERROR\] *ReadFile failed - error:\)233$/\11167/' "$out/pair-windows.txt"
}
windows_cases
rm -rf "$linux_root"
if ! diff -u "$out/pair-linux.txt" "$out/pair-windows.txt" >"$out/pair.diff"; then
    cat "$out/pair.diff"
    # Under Wine on a loaded machine an answer can miss the tool's two-second wait (a pipe
    # server thread that is not scheduled in time). When such a time-out is among the
    # differences, the Windows pair runs its cases once more and must then agree entirely;
    # without one, any difference fails at once.
    added=$(grep -E '^\+[^+]' "$out/pair.diff" || true)
    if grep -q 'Timeout While Waiting Response' <<<"$added"; then
        echo "windows-tests: a time-out only under Wine (above); the Windows pair runs again"
        mv "$out/pair.diff" "$out/pair-first-run.diff"
        windows_cases
        diff -u "$out/pair-linux.txt" "$out/pair-windows.txt" || fail "the pairs differ (above)"
    else
        fail "the pairs differ (above)"
    fi
fi
echo "$(grep -c '^== status' "$out/pair-linux.txt") runs alike on both pairs"
# Opens that a pipe cannot refuse as a device does are refused at start, not served otherwise.
for options in "--deny-open 32" "--deny-open 5 --allow-opens 1"; do
    # shellcheck disable=SC2086
    if WINHOST_ROOT=$WINEPREFIX WINDOWS_BUILD_DIR=$build timeout 30 scripts/wine/mcu-sim $options \
        >/dev/null 2>"$out/refused.txt"; then
        fail "mcu-sim.exe $options did not refuse to start"
    fi
    grep -q 'a named pipe' "$out/refused.txt" || fail "mcu-sim.exe $options: $(cat "$out/refused.txt")"
done
echo "mcu-sim.exe refuses the opens that a pipe cannot refuse as a device does"

# The exchange against a driver that answers at once, as a ratio to its 50 ms wait: printed for
# both pairs, never judged (the machine's load decides the time).
stage "exchange ratio: Linux pair and Windows pair"
cmake --build "$host" -j2 --target exchange-ratio >/dev/null
ratio() { # ratio LABEL ROOT MCU-SIM EXCHANGE-RATIO: one run of the exchanges against the driver
    local line
    coproc DRIVER { WINHOST_ROOT=$2 WINDOWS_BUILD_DIR=$build exec "$3"; }
    local pid=$DRIVER_PID
    if ! read -r -t 60 line <&"${DRIVER[0]}" || [ "$line" != ready ]; then
        fail "$1: mcu-sim is not ready"
    fi
    line=$(WINHOST_ROOT=$2 WINDOWS_BUILD_DIR=$build "$4" 20) || fail "$1: $line"
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    echo "$1: $line"
}
linux_root=$(mktemp -d "${TMPDIR:-/tmp}/ostrel-ratio-XXXXXX")
ratio "Linux pair" "$linux_root" "$host/sim/mcu/mcu-sim" "$host/bench/exchange/exchange-ratio"
rm -rf "$linux_root"
ratio "Windows pair" "$WINEPREFIX" scripts/wine/mcu-sim scripts/wine/exchange-ratio
echo "windows tests: ok"
