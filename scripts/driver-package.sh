#!/usr/bin/env bash
# Builds the driver package in build/driver-package/: Pelvane.sys (ARM64 kernel image, linked as a
# WDK build links a KMDF driver), Pelvane.pdb, Pelvane.inf, a test-signed copy of the image and the
# test certificate that it verifies against. Every check of the package runs on the way; the script
# fails on the first that does not hold.
#
# Needs ../shared/realheaders (REALHEADERS names another folder) for the KMDF and DDK headers.
# Installs clang-16, llvm-16, lld-16 and osslsigncode (Wine and mingw-w64 come from scripts/deps.sh) from Debian when they are missing.
# Env: RELEASE=1  a release build, which refuses placeholder hardware IDs in the INF.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
start=$SECONDS

realheaders=${REALHEADERS:-../shared/realheaders}
[ -f "$realheaders/check-driver" ] || { echo "driver package: $realheaders/check-driver is absent"; exit 1; }
realheaders=$(cd "$realheaders" && pwd)

need() { command -v clang++-16 && command -v lld-link-16 && command -v llvm-dlltool-16 &&
    command -v llvm-rc-16 && command -v osslsigncode && command -v openssl &&
    [ -f /usr/x86_64-w64-mingw32/lib/libntoskrnl.a ]; } >/dev/null 2>&1
if ! need; then
    log=${TMPDIR:-/tmp}/driver-package-apt.log
    { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang-16 llvm-16 \
        lld-16 osslsigncode openssl mingw-w64-x86-64-dev; } >"$log" 2>&1 ||
        { echo "driver package: could not install the tools (see $log)"; exit 1; }
fi

out=$root/build/driver-package
work=$root/build/driver-package.work
rm -rf "$out" "$work" && mkdir -p "$out" "$work"/{objs,libs,exports}

# The real-header check prepares patched KMDF and DDK headers in its work folder, which the
# compiles below reuse. It also proves that every source compiles as a WDK build sees it.
checker=$realheaders
if [ ! -w "$realheaders/kmdf-1.15/wdf.h" ]; then
    cp -r "$realheaders" "$work/realheaders" && chmod -R u+w "$work/realheaders"
    checker=$work/realheaders
fi
export REALHEADERS_TMP=$work/headers
EXTRA_GAPS=$root/scripts/wdk-gaps.h bash "$checker/check-driver" driver >"$work/check-driver.txt" ||
    { cat "$work/check-driver.txt"; echo "driver package: the sources do not compile as a WDK build sees them"; exit 1; }
H=$REALHEADERS_TMP

# The WDK's compiler flags for a KMDF driver, in clang's terms: Microsoft's ABI and kernel mode,
# /GS cookies, CodeView for the PDB.
cflags=(--target=aarch64-pc-windows-msvc -fgnuc-version=4.2.1 -Xclang -fms-kernel
    -fstack-protector-strong -gcodeview -O2 -fms-extensions -std=c++17 -fno-exceptions -fno-rtti
    -Wall -Wextra -Werror
    # Raised in the driver's own lines by KMDF's WDF_DECLARE_CONTEXT_TYPE macros, which MSVC accepts.
    -Wno-duplicate-decl-specifier -Wno-writable-strings
    -DALLOC_PRAGMA=1 -DWINNT=1 -DKMDF_VERSION_MAJOR=1 -DKMDF_VERSION_MINOR=15
    "-DWDF_TYPE_DEFAULT_SECTION_NAME=\".rdata\""
    -D__INTRINSIC_DEFINED_InterlockedBitTestAndSet -D__INTRINSIC_DEFINED_InterlockedBitTestAndReset
    -I "$root/driver" -I "$H/tmh" -isystem "$H/wrap" -isystem "$H/kmdf" -isystem "$H/ddk"
    -isystem /usr/share/mingw-w64/include -idirafter "$H/fallback")
{ printf '%q ' clang++-16 -c "${cflags[@]}"; echo '"$@"'; } >"$work/cc"
export CC_SCRIPT=$work/cc OBJS=$work/objs ROOT=$root
mapfile -t srcs < <({ find driver -name '*.cpp'; find package/stub -name '*.cpp'; } | sort)
printf '%s\n' "${srcs[@]}" | xargs -P "${JOBS:-2}" -I{} bash -c \
    'f={}; bash "$CC_SCRIPT" "$ROOT/$f" -o "$OBJS/${f//\//_}.obj"' ||
    { echo "driver package: a source does not compile for the ARM64 image"; exit 1; }
llvm-rc-16 /nologo /I /usr/share/mingw-w64/include /fo "$work/Pelvane.res" package/Pelvane.rc

# Import libraries from the reviewed lists, and the two independent export tables they are
# checked against.
for def in package/imports/*.def; do
    llvm-dlltool-16 -m arm64 -d "$def" -l "$work/libs/$(basename "$def" .def).lib"
done
llvm-nm-16 /usr/x86_64-w64-mingw32/lib/libntoskrnl.a 2>/dev/null | awk '$2=="I"||$2=="T"{print $3}' |
    sed 's/^__imp_//' | sort -u >"$work/exports/ntoskrnl.mingw"
llvm-nm-16 /usr/x86_64-w64-mingw32/lib/libhal.a 2>/dev/null | awk '$2=="I"||$2=="T"{print $3}' |
    sed 's/^__imp_//' | sort -u >"$work/exports/hal.mingw"
wine_dlls=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
for dll in ntoskrnl.exe hal.dll; do
    [ -f "$wine_dlls/$dll" ] || continue
    llvm-readobj-16 --coff-exports "$wine_dlls/$dll" | sed -n 's/^ *Name: //p' | sort -u \
        >"$work/exports/${dll%%.*}.wine"
done

llvm-nm-16 "$work"/objs/*.obj 2>/dev/null | awk 'NF>=3 && $2!="U"{print $3}' | sort -u >"$work/defined.txt"
llvm-nm-16 -u "$work"/objs/*.obj 2>/dev/null | awk '$1=="U"{print $2}' | sed 's/^__imp_//' | sort -u |
    comm -23 - "$work/defined.txt" >"$work/needed.txt"
python3 scripts/check-driver-image.py imports --needed "$work/needed.txt" \
    --defs package/imports --exports "$work/exports"

lld-link-16 /nologo /machine:arm64 /driver:wdm /subsystem:native,10.00 /entry:FxDriverEntry \
    /nodefaultlib /release /section:INIT,ERD /merge:_PAGE=PAGE /opt:ref /opt:icf \
    /debug /pdb:"$out/Pelvane.pdb" /pdbaltpath:Pelvane.pdb /map:"$work/Pelvane.map" \
    /out:"$out/Pelvane.sys" "$work"/objs/*.obj "$work/Pelvane.res" "$work"/libs/*.lib

python3 scripts/check-driver-image.py image "$out/Pelvane.sys" --map "$work/Pelvane.map" \
    --sources driver --defs package/imports

# A test signature, with a certificate made here: a test machine trusts the .cer and runs with
# test signing on.
openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=Pelvane Test Signing" \
    -addext "extendedKeyUsage=codeSigning" -keyout "$work/test.key" -out "$work/test.pem" 2>/dev/null
openssl x509 -in "$work/test.pem" -outform DER -out "$out/PelvaneTest.cer"
osslsigncode sign -certs "$work/test.pem" -key "$work/test.key" -h sha256 -n Pelvane \
    -in "$out/Pelvane.sys" -out "$out/Pelvane-testsigned.sys" >"$work/sign.txt"
osslsigncode verify -CAfile "$work/test.pem" -in "$out/Pelvane-testsigned.sys" >"$work/verify.txt" 2>&1 ||
    { cat "$work/verify.txt"; echo "driver package: the test signature does not verify"; exit 1; }
python3 scripts/check-driver-image.py checksum "$out/Pelvane-testsigned.sys"

# The INF, read by Wine's setupapi through a small Windows program, and its hardware IDs.
x86_64-w64-mingw32-g++ -std=c++20 -municode -static -O1 -Wall -Wextra -Werror \
    -o "$work/InfCheck.exe" package/infcheck/InfCheck.cpp -lsetupapi
cp package/Pelvane.inf "$out/Pelvane.inf"
bash scripts/check-inf.sh "$work/InfCheck.exe" "$out/Pelvane.inf"
python3 scripts/check-driver-image.py minversion "$out/Pelvane.inf" --defs package/imports
python3 scripts/check-driver-image.py hwids "$out/Pelvane.inf" --release "${RELEASE:-0}"

python3 scripts/check-wdk-project.py package/Pelvane.vcxproj .

echo "driver package: build/driver-package/ ($(ls "$out" | tr '\n' ' ')) in $((SECONDS - start)) s"
