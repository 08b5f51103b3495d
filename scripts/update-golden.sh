#!/usr/bin/env bash
# Writes every golden trace of tests/golden/CASES again from the current driver and simulator,
# so that an intended change shows up as a diff of tests/golden/ in review.
#   scripts/update-golden.sh [PELVANE_SIM]     (default build/dev/sim/pelvane/pelvane-sim)
set -euo pipefail
cd "$(dirname "$0")/.."
sim=${1:-build/dev/sim/pelvane/pelvane-sim}
while read -r name args; do
    [[ -z $name || $name == \#* ]] && continue
    # shellcheck disable=SC2086 # the arguments are words
    bash scripts/golden-trace.sh "$sim" $args >"tests/golden/$name.jsonl"
    echo "tests/golden/$name.jsonl: $(wc -l <"tests/golden/$name.jsonl") records"
done <tests/golden/CASES
