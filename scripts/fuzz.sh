#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz", clang) and runs each for a bounded time,
# FUZZ_SECONDS (default 60), starting from the seeds in tests/fuzz/seeds. A finding fails the
# script and leaves its reproducer in build/fuzz/findings.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}
build=${FUZZ_BUILD_DIR:-build/fuzz}
targets=(version_text_fuzz response_fuzz acpi_output_fuzz sosi_fuzz)

cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$build/findings"
for target in "${targets[@]}"; do
    seeds=tests/fuzz/seeds/${target%_fuzz}
    corpus=$build/corpus/$target
    mkdir -p "$corpus"
    echo "--- $target for ${seconds}s"
    if ! WINHOST_ROOT=$root "$build/tests/fuzz/$target" "$corpus" "$seeds" \
        -max_total_time="$seconds" -timeout=10 -print_final_stats=0 \
        -artifact_prefix="$build/findings/$target-" >"$build/$target.log" 2>&1; then
        tail -40 "$build/$target.log"
        echo "fuzz: $target found a fault (reproducer in $build/findings)" >&2
        exit 1
    fi
    grep -E '^#[0-9]+.*DONE|Done [0-9]+ runs' "$build/$target.log" | tail -1 || true
done
echo "fuzz: no finding"
