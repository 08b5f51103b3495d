#!/usr/bin/env bash
# The main job on the simulated platform: builds the host tools, starts mcu-sim (the platform's
# MCU driver with a provisioned Bluetooth and keyboard MCU) in a throw-away host root, runs the
# four command words of ostrel against it, showing each console output and exit code, shows the
# records the run appended to the log file and stops mcu-sim again. Then it runs the Pelvane
# driver on the simulated SoC: start, sleep and wake, and hibernation of every instance at once,
# with the summary of each, and draws a full power cycle as a timeline picture.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

build=build/dev
cmake --preset dev >/dev/null
cmake --build "$build" --target mcu-sim ostrel pelvane-sim

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

# Pelvane: each scenario's full trace goes to a file beside the picture; the console shows the
# summary per instance.
out=build/pelvane-sim
mkdir -p "$out"
for scenario in start sleep-wake hibernate idle-hibernate; do
    echo "== pelvane-sim --scenario $scenario --instance all (trace in $out/$scenario.txt)"
    status=0
    "$build/sim/pelvane/pelvane-sim" --scenario "$scenario" --instance all --estimates \
        >"$out/$scenario.txt" || status=$?
    sed -n '/^summary$/,$p' "$out/$scenario.txt"
    echo "== exit code $status"
done
echo "== pelvane-sim --scenario cycle --instance all --svg $out/cycle.svg"
status=0
"$build/sim/pelvane/pelvane-sim" --scenario cycle --instance all --svg "$out/cycle.svg" \
    >"$out/cycle.txt" || status=$?
tail -n 1 "$out/cycle.txt"
echo "== exit code $status; the timeline picture is $out/cycle.svg"
