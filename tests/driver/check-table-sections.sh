#!/usr/bin/env bash
# Constant tables as the linker sees them: every register table and layout table of the
# driver library must be an object in read-only data, with no relocation to make it writable.
set -euo pipefail
library="$1"
tables=(
    PORT_LAYOUTS INSTANCE_LAYOUTS SS_PHY_LAYOUTS
    HsPhy0Offsets HsPhy1Offsets HsPhy2Offsets HsPhy3Offsets HsPhyValues
    SsPhy0TableAOffsets SsPhy1TableAOffsets TableAValues
    SsPhy2TableBOffsets SsPhy3TableBOffsets TableBValues
)
symbols=$(objdump -t "$library" | c++filt)
status=0
for table in "${tables[@]}"; do
    # Columns: value, flags, section, size, name.
    # A here-string, not a pipe: awk leaves at the first match, which would fail the writer
    # of a pipe with SIGPIPE under pipefail.
    line=$(awk -v name="$table" '$NF == name && $0 ~ / O / { print; exit }' <<<"$symbols")
    if [ -z "$line" ]; then
        echo "$table: not defined in $library" >&2
        status=1
        continue
    fi
    section=$(awk '{ for (i = 1; i <= NF; ++i) if ($i ~ /^\./) { print $i; exit } }' <<<"$line")
    case "$section" in
    .rodata | .rodata.*) ;;
    *)
        echo "$table: in $section, not in read-only data" >&2
        status=1
        ;;
    esac
done
[ "$status" -eq 0 ] && echo "driver tables: read-only"
exit "$status"
