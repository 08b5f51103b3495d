#!/usr/bin/env bash
# The end-to-end cases of one tool/driver pair: pair-cases.sh OSTREL MCU-SIM VERSION-CALLER REG,
# with WINHOST_ROOT set (REG is winhost-reg or Windows' reg). Prints a transcript (each run's
# options, console output, exit status and the records it appended, without their time stamps)
# that is the same for the Linux and the Windows pair.
set -uo pipefail
ostrel=$1
sim=$2
caller=$3
reg=$4
log=$WINHOST_ROOT/drive_c/ProgramData/MCUInterfaceRecords.log

stamps() { sed -E 's/^(\[[A-Z]+\] +)[0-9-]+ [0-9:]+ : /\1/'; }

records() { # the records after line $1 of the log, without time stamps or carriage returns
    [ -f "$log" ] || return 0
    tail -n +$(($1 + 1)) "$log" | tr -d '\r' | stamps
}

run() { # run LABEL COMMAND...: one run against whatever driver is up
    local label=$1 before=0 status=0
    shift
    [ -f "$log" ] && before=$(wc -l <"$log")
    echo "== $label"
    timeout 60 "$@" 2>&1 | tr -d '\r' | stamps || status=${PIPESTATUS[0]}
    echo "== status $status"
    records "$before"
}

words() { # words WORD...: ostrel once with each word
    for word in "$@"; do run "ostrel $word" "$ostrel" "$word"; done
}

versions() { # versions NAME...: GetDriverVersion for each component name
    for name in "$@"; do run "GetDriverVersion $name" "$caller" "$name"; done
}

sim_pid=
start_sim() { # start_sim OPTION...: mcu-sim up and ready
    local line
    echo "=== mcu-sim $*"
    coproc SIM { exec "$sim" "$@"; }
    sim_pid=$SIM_PID
    if ! read -r -t 60 line <&"${SIM[0]}" || [ "$line" != ready ]; then
        echo "mcu-sim $* did not become ready" >&2
        kill "$sim_pid" 2>/dev/null
        return 1
    fi
}

stop_sim() {
    kill "$sim_pid"
    wait "$sim_pid" 2>/dev/null
}

with_sim() { # with_sim "OPTIONS" WORD...: the words against one mcu-sim run
    local options=$1
    shift
    # shellcheck disable=SC2086
    start_sim $options || return 1
    words "$@"
    stop_sim
}

echo "=== no driver"
words rbtmcu
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

# GetDriverVersion: its argument and table cases, the software package's value as the registry
# holds it, and the MCU versions with the exchange's failures.
software='HKLM\SOFTWARE\WOW6432Node\Microsoft\Windows\CurrentVersion\MCUSoftware'
set_value() { # set_value TYPE DATA: the package's version value
    echo "=== MCUSoftwareVersion $1 ${#2} characters"
    "$reg" add "$software" /v MCUSoftwareVersion /t "$1" /d "$2" /f >/dev/null
}
echo "=== no driver, no software key"
run "GetDriverVersion BT_MCU 0" "$caller" BT_MCU 0
versions bt_mcu MCU_DRIVER PEN_APP MCU_SOFTWARE BT_MCU
"$reg" add "$software" /v OtherValue /t REG_SZ /d 1.0 /f >/dev/null
versions MCU_SOFTWARE
set_value REG_SZ 2.4.1
versions MCU_SOFTWARE
# 63 characters fit the version text and 64 do not; 200 fit the 512-byte read and 256 do not.
for size in 63 64 200 255 256; do
    set_value REG_SZ "$(printf '9%.0s' $(seq "$size"))"
    versions MCU_SOFTWARE
done
# The type is not examined: the DWORD 0x37 reads as the text "7".
set_value REG_DWORD 0x37
versions MCU_SOFTWARE
"$reg" delete "$software" /f >/dev/null

start_sim --version "bt=BRIDGE_MCU 1.0.0.15" --version "kbd=TALMER_KBD 2.1.0.3(UK)" \
    --version "pen=PEN_KX92 3.0.2.1" --version "tp=TP_MCU 4.2.0.7" &&
    versions BT_MCU TALMER_KBD_KX71_UK TALMER_KBD_KX71 OSKEN_KBD_S PEN_KX92 TP && stop_sim
start_sim --version "bt=BRIDGE_MCU 1.0.0.15 (B)" && versions BT_MCU && stop_sim
start_sim --version "bt=BRIDGE_MCU_1.0.0.15" && versions BT_MCU && stop_sim
start_sim --fault 0x03=silent && versions OSKEN_KBD_D && stop_sim
start_sim --fault 0x03=overlong:70 && versions BT_MCU && stop_sim
