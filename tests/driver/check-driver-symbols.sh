#!/usr/bin/env bash
# Kernel rules as the linker sees them: the driver library may neither define static
# constructors nor need the C or C++ run-time (heap, exceptions, RTTI, standard library).
# memcpy and memset are fine: the kernel exports them.
set -euo pipefail
library="$1"
forbidden='_GLOBAL__sub_I|__cxa_|_Unwind_|__gxx_personality|_ZTI|_ZTS|__dynamic_cast|_Znw|_Zna|_Zdl|_Zda|_ZSt|_ZNSt|\b(malloc|calloc|realloc|free|printf|snprintf|abort|exit|pthread_[a-z_]+)\b'
hits=$(nm "$library" | grep -E "$forbidden" || true)
if [ -n "$hits" ]; then
    echo "$library uses what a kernel driver cannot:" >&2
    echo "$hits" >&2
    exit 1
fi
echo "driver symbols: ok"
