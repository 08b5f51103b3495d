#pragma once
// Pool tag of every allocation the driver makes: the bytes 'U', 'X', 'H', 'F' in memory order.
#include <ntddk.h>

constexpr ULONG PELVANE_POOL_TAG = 0x46485855;
