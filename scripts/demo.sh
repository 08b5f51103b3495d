#!/usr/bin/env bash
# The main job on the simulated platform: builds the host tools, starts mcu-sim (the platform's
# MCU driver with a provisioned Bluetooth and keyboard MCU) in a throw-away host root, runs the
# four command words of ostrel against it, showing each console output and exit code, shows the
# records the run appended to the log file and stops mcu-sim again.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

build=build/dev
cmake --preset dev >/dev/null
cmake --build "$build" --target mcu-sim ostrel

WINHOST_ROOT=$(mktemp -d "${TMPDIR:-/tmp}/ostrel-demo-XXXXXX")
export WINHOST_ROOT
sim_pid=
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$WINHOST_ROOT"
}
trap cleanup EXIT

echo "== host root: $WINHOST_ROOT"
coproc SIM { exec "$build/sim/mcu/mcu-sim"; }
sim_pid=$SIM_PID
if ! read -r -t 10 line <&"${SIM[0]}" || [ "$line" != ready ]; then
    echo "mcu-sim did not become ready" >&2
    exit 1
fi
echo "== mcu-sim (pid $sim_pid) is ready"

# mcu-sim answers with the development key pair that the tool is built with, secure boot on and
# enable code 0, so every command succeeds.
for word in rbtmcu ebtmcu rkbd ekbd; do
    echo "== ostrel $word"
    status=0
    "$build/tool/ostrel" "$word" || status=$?
    echo "== exit code $status"
done

echo "== records appended to C:\\ProgramData\\MCUInterfaceRecords.log"
cat "$WINHOST_ROOT/drive_c/ProgramData/MCUInterfaceRecords.log"
