#!/usr/bin/env bash
# Planted faults for scripts/check-wdk-project.py: a copy of package/Pelvane.vcxproj, altered,
# must fail with the fault it plants; the untouched project must pass.
set -uo pipefail
cd "$(dirname "$0")/../.."
t=$(mktemp -d "${TMPDIR:-/tmp}/pelvane-wdk-faults.XXXXXX") && trap 'rm -rf "$t"' EXIT
failed=0
check() { python3 scripts/check-wdk-project.py "$1" .; }
if out=$(check package/Pelvane.vcxproj); then echo "ok   untouched project"; else
    echo "FAIL untouched project:"; sed 's/^/    /' <<<"$out"; failed=1; fi

# plant NAME REGEX SED-SCRIPT (the copy sits in package/ so that its relative paths hold)
plant() {
    local name=$1 regex=$2 copy=package/.planted-$$.vcxproj
    sed "$3" package/Pelvane.vcxproj >"$copy"
    if cmp -s package/Pelvane.vcxproj "$copy"; then echo "FAIL $name: the edit changed nothing"; failed=1
    elif out=$(check "$copy"); then echo "FAIL $name: the check passed"; failed=1
    elif ! grep -qE "$regex" <<<"$out"; then
        echo "FAIL $name: no fault matching /$regex/ in:"; sed 's/^/    /' <<<"$out"; failed=1
    else echo "ok   $name"; fi
    rm -f "$copy"
}
plant "source missing from the project" 'driver/frame/DeviceAdd.cpp is in the tree but not in the project' \
    '/ClCompile Include="..\\driver\\frame\\DeviceAdd.cpp"/d'
plant "header missing from the project" 'driver/frame/Trace.h is in the tree but not in the project' \
    '/ClInclude Include="..\\driver\\frame\\Trace.h"/d'
plant "source that the tree lacks" 'driver/frame/Gone.cpp is a ClCompile item' \
    's/DeviceAdd.cpp" \/>/DeviceAdd.cpp" \/><ClCompile Include="..\\driver\\frame\\Gone.cpp" \/>/'
plant "Linux link stub in the WDK build" 'Linux link.s own' \
    's/DeviceAdd.cpp" \/>/DeviceAdd.cpp" \/><ClCompile Include="stub\\FxDriverEntry.cpp" \/>/'
plant "user-mode manifest code" 'GenerateKernelModeLoggingMacros' \
    's/<GenerateKernelModeLoggingMacros>true/<GenerateKernelModeLoggingMacros>false/'
plant "another KMDF version" 'KMDF_VERSION_MINOR' 's/<KMDF_VERSION_MINOR>15/<KMDF_VERSION_MINOR>33/'
plant "WPP off" 'setting WppEnabled' 's/<WppEnabled>true/<WppEnabled>false/'
plant "x64 configuration" 'platforms' 's/<Platform>ARM64<\/Platform>/<Platform>x64<\/Platform>/'
exit $failed
