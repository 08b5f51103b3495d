#!/usr/bin/env bash
# docs/timing.md's table of transition times must be what scripts/timing-table.sh prints now.
#   check-readme-timing.sh SOURCE_DIR PELVANE_SIM
set -euo pipefail
source_dir=$1
sim=$2
readme=$source_dir/docs/timing.md
expected=$(mktemp)
shown=$(mktemp)
trap 'rm -f "$expected" "$shown"' EXIT
bash "$source_dir/scripts/timing-table.sh" "$sim" >"$expected"
awk '/^<!-- timing-table: begin/ { inside = 1; next }
     /^<!-- timing-table: end/ { inside = 0 }
     inside' "$readme" >"$shown"
if ! diff -u --label "docs/timing.md (timing table)" --label "scripts/timing-table.sh" \
        "$shown" "$expected"; then
    echo "docs/timing.md's timing table is stale: put the output of scripts/timing-table.sh" \
         "between its timing-table markers" >&2
    exit 1
fi
