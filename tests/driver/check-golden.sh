#!/usr/bin/env bash
# Compares one pelvane-sim run with its golden trace and prints the first divergence with the
# records around it.
#   check-golden.sh SOURCE_DIR PELVANE_SIM NAME ARGS...
set -euo pipefail
source_dir=$1
sim=$2
name=$3
shift 3
golden=$source_dir/tests/golden/$name.jsonl
if [[ ! -f $golden ]]; then
    echo "$golden: missing; run scripts/update-golden.sh" >&2
    exit 1
fi
now=$(mktemp)
trap 'rm -f "$now"' EXIT
if ! bash "$source_dir/scripts/golden-trace.sh" "$sim" "$@" >"$now"; then
    echo "pelvane-sim $* failed" >&2
    exit 1
fi
if cmp -s "$golden" "$now"; then
    exit 0
fi
awk -v golden="$golden" -v context=3 '
    FILENAME == ARGV[1] { want[FNR] = $0; wanted = FNR; next }
    { got[FNR] = $0; have = FNR }
    END {
        for (i = 1; i <= wanted || i <= have; ++i) {
            if (!(i in want) || !(i in got) || want[i] != got[i]) break
        }
        printf "%s:%d: first divergence from the golden trace\n", golden, i
        for (j = (i > context ? i - context : 1); j < i; ++j) print "  both:   " want[j]
        for (j = i; j < i + context; ++j) {
            if (j in want) print "  golden: " want[j]
        }
        if (!(i in want)) print "  golden: (ends here)"
        for (j = i; j < i + context; ++j) {
            if (j in got) print "  now:    " got[j]
        }
        if (!(i in got)) print "  now:    (ends here)"
        printf "golden %d records, now %d; if the change is intended, run scripts/update-golden.sh\n",
               wanted, have
    }' "$golden" "$now"
exit 1
