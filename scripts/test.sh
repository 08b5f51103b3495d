#!/usr/bin/env bash
# Builds everything and runs every test: host build, sanitizer builds, driver header checks
# (the stand-in's rules and, when ../shared/realheaders is there, the real WDK headers).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh --all

stage() { echo; echo "=== $*"; }

stage "driver header check"
bash scripts/check-driver-headers.sh

stage "driver against the real KMDF and DDK headers, for ARM64 Windows"
bash scripts/check-driver-wdk.sh

stage "driver package: ARM64 image, imports, INF and WDK project, with planted faults"
bash scripts/driver-package-tests.sh

stage "host build and tests"
cmake --preset dev >/dev/null
cmake --build --preset dev
ctest --preset dev

stage "clang static analyzer over the driver and the tool"
bash scripts/static-analysis.sh

stage "pelvane-sim: default scenario on every controller instance"
build/dev/sim/pelvane/pelvane-sim --instance all | tail -n 3
records=$(build/dev/sim/pelvane/pelvane-sim --instance all --json | wc -l)
echo "pelvane-sim --json: $records records"

stage "AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan
# The dev stage runs 3000 seeded walks; under the sanitizers a hundred of them.
build/asan/sim/pelvane/pelvane-sim --walk --seeds 1:100 --steps 200 --instance all \
    --replay-out build/asan/walk-failed.replay | tail -n 2

stage "ThreadSanitizer build and transport tests"
cmake --preset tsan >/dev/null
cmake --build --preset tsan
ctest --preset tsan
# The driver's tests drive devices from several threads through the KMDF stand-in.
ctest --test-dir build/tsan -L driver --output-on-failure

stage "libFuzzer targets, about a minute each"
bash scripts/fuzz.sh

stage "Windows cross-build, export and ARM64 checks, Wine suite"
bash scripts/windows-tests.sh

echo
echo "all stages passed"
