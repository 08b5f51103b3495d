#!/usr/bin/env bash
# Prints the Markdown table of docs/timing.md: the start, the
# resume from sleep and the resume from hibernation of each instance, run alone in the cycle
# scenario, with exact sleeps and with sleeps ending on a system clock tick of 15.625, 1 and
# 0.5 ms, as pelvane-sim --estimates measures them.
#
#   scripts/timing-table.sh [PELVANE_SIM]     (default build/dev/sim/pelvane/pelvane-sim)
set -euo pipefail
cd "$(dirname "$0")/.."
sim=${1:-build/dev/sim/pelvane/pelvane-sim}

echo "| Instance | Transition | Exact (ms) | 15.625 ms tick (ms) | 1 ms tick (ms) | 0.5 ms tick (ms) |"
echo "|---|---|---:|---:|---:|---:|"
for instance in primary secondary multiport; do
    "$sim" --scenario cycle --cycles 1 --instance "$instance" --estimates | awk -v instance="$instance" '
        /^transition times in ms/ { table = 1; next }
        !table || $1 != instance { next }
        {
            name = ""
            for (i = 2; i <= NF - 4; ++i) name = name (i > 2 ? " " : "") $i
            row = $(NF - 3) " | " $(NF - 2) " | " $(NF - 1) " | " $NF
            if (name == "start" && !start) start = row
            if (name == "D0 entry from sleep" && !sleep) sleep = row
            if (name == "D0 entry from hibernation" && !hibernation) hibernation = row
        }
        END {
            if (!start || !sleep || !hibernation) {
                print "timing-table: no times for " instance > "/dev/stderr"
                exit 1
            }
            print "| " instance " | start | " start " |"
            print "| " instance " | resume from sleep | " sleep " |"
            print "| " instance " | resume from hibernation | " hibernation " |"
        }'
done
