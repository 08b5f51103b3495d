#!/usr/bin/env bash
# The clang static analyzer over the driver's and the tool's sources, with every checker of
# clang's default set enabled and every finding an error. It needs the host build (preset dev)
# for the generated headers: the driver's WPP .tmh files and the tool's built-in keys.
# No checker is disabled.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/dev
driver_flags=(-Idriver "-I$build/driver/pelvane_driver-tmh" -Iplatform/kmdf/include)
tool_flags=(-Itool "-I$build/tool/generated" -Iplatform/win32/include)

status=0
analyze() {
    local file=$1
    shift
    if ! clang++ --analyze -Xclang -analyzer-werror -std=c++20 -DNDEBUG "$@" -o /dev/null \
        "$file"; then
        status=1
    fi
}
count=0
while IFS= read -r file; do
    analyze "$file" "${driver_flags[@]}"
    count=$((count + 1))
done < <(find driver -name '*.cpp' | sort)
while IFS= read -r file; do
    analyze "$file" "${tool_flags[@]}"
    count=$((count + 1))
done < <(find tool -name '*.cpp' | sort)

if [ "$status" -ne 0 ]; then
    echo "static analysis: findings above" >&2
    exit 1
fi
echo "static analysis: $count sources, no finding"
