#!/usr/bin/env bash
# The end-to-end cases of one tool/driver pair: pair-cases.sh OSTREL MCU-SIM, with WINHOST_ROOT
# set. Prints a transcript (each run's options, console output, exit status and the records it
# appended, without their time stamps) that is the same for the Linux and the Windows pair.
set -uo pipefail
ostrel=$1
sim=$2
log=$WINHOST_ROOT/drive_c/ProgramData/MCUInterfaceRecords.log

stamps() { sed -E 's/^(\[[A-Z]+\] +)[0-9-]+ [0-9:]+ : /\1/'; }

records() { # the records after line $1 of the log, without time stamps or carriage returns
    [ -f "$log" ] || return 0
    tail -n +$(($1 + 1)) "$log" | tr -d '\r' | stamps
}

run() { # run WORD: one ostrel run against whatever driver is up
    local before=0 status=0
    [ -f "$log" ] && before=$(wc -l <"$log")
    echo "== ostrel $1"
    timeout 60 "$ostrel" "$1" 2>&1 | tr -d '\r' | stamps || status=${PIPESTATUS[0]}
    echo "== status $status"
    records "$before"
}

with_sim() { # with_sim "OPTIONS" WORD...: the words against one mcu-sim run
    local options=$1 line
    shift
    echo "=== mcu-sim $options"
    # shellcheck disable=SC2086
    coproc SIM { exec "$sim" $options; }
    local pid=$SIM_PID
    if ! read -r -t 60 line <&"${SIM[0]}" || [ "$line" != ready ]; then
        echo "mcu-sim $options did not become ready" >&2
        kill "$pid" 2>/dev/null
        return 1
    fi
    for word in "$@"; do run "$word"; done
    kill "$pid"
    wait "$pid" 2>/dev/null
    return 0
}

echo "=== no driver"
run rbtmcu
with_sim "" rbtmcu ebtmcu rkbd ekbd
with_sim "--enable-code kbd=5 --secure-boot-flag bt=1" ebtmcu ekbd rbtmcu
with_sim "--fault key=silent" rkbd
with_sim "--fault flag=drop" rbtmcu
with_sim "--fault key=noise:3 --fault enable=delay:300" rkbd ebtmcu
with_sim "--fault key=zero-length" rbtmcu
with_sim "--fault flag=overlong:80" rkbd
with_sim "--fault enable=short:8" ekbd
with_sim "--interfaces 2" rkbd
# The longest path the tool's buffer holds, and one unit more.
with_sim "--path-length 255" ebtmcu
with_sim "--path-length 256" ebtmcu
