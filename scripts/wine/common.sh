# Shared by the Wine launchers: the Windows build, and WINHOST_ROOT as the Wine prefix, so that
# C:\ProgramData is $WINHOST_ROOT/drive_c/ProgramData as with the stand-in.
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${WINDOWS_BUILD_DIR:-$repo/build/windows}
case $build in /*) ;; *) build=$repo/$build ;; esac
root=${WINHOST_ROOT:-.winhost}
mkdir -p "$root"
WINEPREFIX=$(cd "$root" && pwd)
export WINEPREFIX WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
fi
programs=$WINEPREFIX/drive_c/ostrel-wine
mkdir -p "$programs"
