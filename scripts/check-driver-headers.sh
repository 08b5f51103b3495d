#!/usr/bin/env bash
# The driver builds with the WDK: it may include only kernel, framework and its own headers.
# Fails when anything under driver/ includes a C or C++ standard library header or a POSIX one.
set -euo pipefail
cd "$(dirname "$0")/.."

forbidden='^\s*#\s*include\s*<(algorithm|array|atomic|bit|cassert|cctype|cerrno|chrono|cinttypes|climits|cmath|condition_variable|cstdarg|cstddef|cstdint|cstdio|cstdlib|cstring|ctime|deque|exception|filesystem|fstream|functional|iomanip|ios|iosfwd|iostream|istream|iterator|limits|list|map|memory|mutex|new|optional|ostream|queue|set|span|sstream|stack|stdexcept|string|string_view|system_error|thread|tuple|type_traits|typeinfo|unordered_map|unordered_set|utility|variant|vector|assert\.h|ctype\.h|errno\.h|inttypes\.h|limits\.h|math\.h|stdarg\.h|stdbool\.h|stddef\.h|stdint\.h|stdio\.h|stdlib\.h|string\.h|time\.h|unistd\.h|pthread\.h|fcntl\.h|dlfcn\.h|signal\.h|sys/[a-z_]+\.h|poll\.h|semaphore\.h)>'

hits=$(grep -rnE "$forbidden" driver/ || true)
if [ -n "$hits" ]; then
    echo "driver/ includes standard library or POSIX headers:" >&2
    echo "$hits" >&2
    exit 1
fi
# One-way layering: the PHY sequences take blocks and the override list as parameters and
# know neither the callbacks' hub header nor the device context.
hits=$(grep -rnE '^\s*#\s*include\s*"frame/(Driver|FilterExtension)\.h"' driver/phy/ || true)
if [ -n "$hits" ]; then
    echo "driver/phy/ includes the callbacks' header or the device context:" >&2
    echo "$hits" >&2
    exit 1
fi
echo "driver headers: ok"
