#!/usr/bin/env bash
# Nothing that D0 entry or D0 exit can reach may be pageable: the power-up can run before
# paging is available again. The call graph comes from the driver library's machine code
# (every call, jump and address taken, so a callback registered on the way counts as
# reached); the pageable functions are those that an alloc_text pragma of the sources puts in
# a PAGE section. Fails when one is reached.
# usage: check-resident-d0.sh LIBRARY SOURCE_DIR...
set -euo pipefail
library="$1"
shift

pageable=$(grep -rhE '^[[:space:]]*#[[:space:]]*pragma[[:space:]]+alloc_text[[:space:]]*\([[:space:]]*PAGE' \
    "$@" | sed -E 's/^[^(]*\([^,]*,//; s/\).*$//' | tr ',' '\n' | tr -d ' \t' | sort -u)

listing=$(mktemp)
trap 'rm -f "$listing"' EXIT
objdump -dr --no-show-raw-insn -C "$library" >"$listing"

# Two passes over the listing: the functions of each archive member by address, then the
# edges from each function to every symbol its code names.
reached=$(awk -v roots="EvtDeviceD0Entry EvtDeviceD0Exit" '
    function hex(text,    i, v) {
        v = 0
        text = tolower(text)
        for (i = 1; i <= length(text); ++i) v = v * 16 + index("0123456789abcdef", substr(text, i, 1)) - 1
        return v
    }
    function base(name) { sub(/\(.*/, "", name); sub(/[+-]0x[0-9a-f]+$/, "", name); return name }
    function header(line,    name) {
        name = substr(line, index(line, "<") + 1); sub(/>:$/, "", name); return base(name)
    }
    # The function of the member whose code holds the address.
    function containing(address,    key, parts, best, start) {
        best = -1
        for (key in at) {
            split(key, parts, SUBSEP)
            if (parts[1] == member && parts[2] <= address && parts[2] + 0 > best) {
                best = parts[2] + 0; start = key
            }
        }
        return best < 0 ? "" : at[start]
    }
    /^In archive|file format/ { member = $1; next }
    NR == FNR {
        if ($0 ~ /^[0-9a-f]+ <.*>:$/) at[member, hex($1)] = header($0)
        next
    }
    /^[0-9a-f]+ <.*>:$/ { current = header($0); next }
    current == "" { next }
    match($0, /R_[A-Z0-9_]+[ \t]+/) {
        type = substr($0, RSTART, RLENGTH); target = substr($0, RSTART + RLENGTH)
        if (target ~ /^\.text/) {
            # A local function named by its section: PC-relative addends are 4 short.
            offset = target; sub(/^[^+]*\+?/, "", offset); sub(/^0x/, "", offset)
            target = containing(hex(offset) + (type ~ /PC32|PLT32/ ? 4 : 0))
        } else {
            target = base(target)
        }
        if (target != "" && target !~ /^\./) edge[current] = edge[current] " " target
        next
    }
    {
        line = $0
        while (match(line, /<[^<>]+>/)) {
            target = base(substr(line, RSTART + 1, RLENGTH - 2))
            line = substr(line, RSTART + RLENGTH)
            if (target != current && target !~ /^\./) edge[current] = edge[current] " " target
        }
    }
    END {
        n = split(roots, queue, " ")
        for (i = 1; i <= n; ++i) seen[queue[i]] = 1
        for (i = 1; i <= n; ++i) {
            m = split(edge[queue[i]], callees, " ")
            for (j = 1; j <= m; ++j) {
                if (!(callees[j] in seen)) { seen[callees[j]] = 1; queue[++n] = callees[j] }
            }
        }
        for (f in seen) print f
    }
' "$listing" "$listing" | sort -u)

# A graph that misses the bring-up or the arrival callback was not read right.
status=0
for expected in EvtDeviceD0Entry EvtDeviceD0Exit BringUpController PowerUpController \
    PowerDownController OnWakeLineArrival; do
    if ! grep -qx "$expected" <<<"$reached"; then
        echo "$expected: not found on the D0 paths of $library" >&2
        status=1
    fi
done
for function in $pageable; do
    if grep -qx "$function" <<<"$reached"; then
        echo "$function: pageable (alloc_text PAGE) but reached from D0 entry or D0 exit" >&2
        status=1
    fi
done
[ "$status" -eq 0 ] && echo "D0 paths: $(wc -l <<<"$reached") functions, none pageable"
exit "$status"
