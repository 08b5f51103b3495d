#!/usr/bin/env bash
# The golden form of a pelvane-sim run: its JSON lines without the driver's diagnostics, that is
# the register accesses, sleeps, busy-waits, requests and events, in order.
#   golden-trace.sh PELVANE_SIM ARGS...
set -euo pipefail
sim=$1
shift
"$sim" --json "$@" | { grep -v '"op":"trace"' || true; }
