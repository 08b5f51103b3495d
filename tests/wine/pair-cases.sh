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
# What a --trace driver reports of the requests it takes and the answers it sends.
trace=$(mktemp "${TMPDIR:-/tmp}/pair-trace-XXXXXX")
trap 'rm -f "$trace"' EXIT

# Record time stamps, and the usage text's build time (each build has its own).
stamps() { sed -E -e 's/^(\[[A-Z]+\] +)[0-9-]+ [0-9:]+ : /\1/' -e 's/^(  This Ver ).*/\1(built)/'; }

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

arguments() { # arguments ARGUMENT...: ostrel once with exactly these arguments
    run "ostrel ${*@Q}" "$ostrel" "$@"
}

versions() { # versions NAME...: GetDriverVersion for each component name
    for name in "$@"; do run "GetDriverVersion $name" "$caller" "$name"; done
}

sim_pid=
start_sim() { # start_sim OPTION...: mcu-sim up and ready
    local line
    echo "=== mcu-sim $*"
    coproc SIM { exec "$sim" "$@" 2>"$trace"; }
    sim_pid=$SIM_PID
    if ! read -r -t 60 line <&"${SIM[0]}" || [ "$line" != ready ]; then
        echo "mcu-sim $* did not become ready" >&2
        kill "$sim_pid" 2>/dev/null
        return 1
    fi
}

stop_sim() { # ends mcu-sim; prints the requests and answers it traced, without their times
    kill "$sim_pid"
    wait "$sim_pid" 2>/dev/null
    tr -d '\r' <"$trace" | sed -nE 's/^mcu-sim: [0-9.]+ ms: ((request|answer) .*)$/\1/p'
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
words rbtmcu rkbd ebtmcu ekbd
# The usage text: no word, an empty one, and words that only resemble a command.
arguments
for word in "" rbtmcu2 "rkbd " verify; do arguments "$word"; done
with_sim "" rbtmcu ebtmcu rkbd ekbd RKBD EKBD
# A second argument is ignored.
start_sim && arguments rkbd ignored && arguments ekbd foo && stop_sim
with_sim "--enable-code kbd=5 --secure-boot-flag bt=1" ebtmcu ekbd rbtmcu
with_sim "--fault key=silent" rkbd
with_sim "--fault flag=drop" rbtmcu
with_sim "--fault key=noise:3 --fault enable=delay:300" rkbd ebtmcu
with_sim "--fault key=zero-length" rbtmcu
with_sim "--fault flag=overlong:80" rkbd
with_sim "--fault enable=short:8" ekbd
with_sim "--interfaces 2" rkbd
# Opens refused as a device refuses them.
with_sim "--deny-open 5" rbtmcu ekbd
start_sim --deny-open 5 && versions BT_MCU && stop_sim
# The longest path the tool's buffer holds, and one unit more.
with_sim "--path-length 255" ebtmcu
with_sim "--path-length 256" ebtmcu

# The verify words: the version check of the Bluetooth MCU, the keys as the MCU returns them and
# the secure boot flag as it answers.
first=a0a1a2a3a4a5a6a7a8a9aaabacadaeafb0b1b2b3b4b5b6b7b8b9babbbcbdbebf
second=c0c1c2c3c4c5c6c7c8c9cacbcccdcecfd0d1d2d3d4d5d6d7d8d9dadbdcdddedf
for version in 1.0.0.14 1.0.0.15 1.0.0.13 1.0.0.150 "1.0.0.15 (B)"; do
    start_sim --version "bt=BRIDGE_MCU $version" && words rbtmcu && stop_sim
done
with_sim "--fault 0x03=zero-length" rbtmcu
with_sim "--first-key ${first:0:62}00" rbtmcu
with_sim "--second-key $first" rkbd
start_sim --second-key "" && words rkbd && stop_sim
with_sim "--second-key ${second:0:60}" rkbd
with_sim "--first-key ${first}c0" rbtmcu
for flag in "--secure-boot-flag 1" "--answer 0x64=01" "--answer 0x64=00000001" "--answer 0x64=00" \
    "--answer 0x64=00000000" "--fault 0x64=zero-length"; do
    with_sim "$flag" rkbd
done

# The enable words: the result line follows the MCU's answer.
for answer in "--enable-code 5" "--answer 0x63=02"; do with_sim "$answer" ebtmcu; done
for answer in 0x63=00000000 0x63=ffffffff 0x63=0001 0x63=silent; do
    case $answer in *silent) option=--fault ;; *) option=--answer ;; esac
    with_sim "$option $answer" ekbd
done

# Each word's frames go to its own MCU, and no other MCU's keys, flag or enable code count.
with_sim "--trace" rbtmcu rkbd ebtmcu ekbd
with_sim "--first-key 00 --second-key 00 --first-key bt=$first --second-key bt=$second" rbtmcu rkbd
with_sim "--first-key kbd=$first --second-key kbd=$second --first-key 00 --second-key 00" rkbd rbtmcu
with_sim "--secure-boot-flag kbd=1" rbtmcu rkbd
with_sim "--secure-boot-flag bt=1" rkbd rbtmcu
with_sim "--enable-code bt=7" ebtmcu ekbd
with_sim "--enable-code kbd=7" ekbd ebtmcu
# Enabling turns secure boot on for the enabled MCU only.
with_sim "--secure-boot-flag 1 --trace" rkbd ekbd rkbd rbtmcu ebtmcu rbtmcu

# GetDriverVersion: its argument and table cases, the software package's value as the registry
# holds it, and the MCU versions with the exchange's failures.
software='HKLM\SOFTWARE\WOW6432Node\Microsoft\Windows\CurrentVersion\MCUSoftware'
set_value() { # set_value TYPE DATA: the package's version value
    echo "=== MCUSoftwareVersion $1 ${#2} characters"
    "$reg" add "$software" /v MCUSoftwareVersion /t "$1" /d "$2" /f >/dev/null
}
echo "=== no driver, no software key"
run "GetDriverVersion BT_MCU 0" "$caller" BT_MCU 0
versions bt_mcu "BT_MCU " TALMER_KBD "" MCU_DRIVER KB_APP PEN_APP MCU_SOFTWARE BT_MCU
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

start_sim --trace --version "bt=BRIDGE_MCU 1.0.0.15" --version "kbd=TALMER_KBD 2.1.0.3(UK)" \
    --version "pen=PEN_KX92 3.0.2.1" --version "tp=TP_MCU 4.2.0.7" &&
    versions BT_MCU TALMER_KBD_KX71_UK TALMER_KBD_KX71 OSKEN_KBD_S OSKEN_KBD_S_UK PEN_KX92 TP &&
    stop_sim
start_sim --version "bt=BRIDGE_MCU 1.0.0.15 (B)" && versions BT_MCU && stop_sim
start_sim --version "bt=BRIDGE_MCU_1.0.0.15" && versions BT_MCU && stop_sim
start_sim --fault 0x03=silent && versions OSKEN_KBD_D && stop_sim
start_sim --fault 0x03=overlong:70 && versions BT_MCU && stop_sim
