#pragma once
// The firmware's PHY register override record: three little-endian 32-bit fields.
#include <ntddk.h>

typedef struct _PHY_OVERRIDE {
    ULONG Kind;
    ULONG Address;
    ULONG Value;
} PHY_OVERRIDE, *PPHY_OVERRIDE;

C_ASSERT(sizeof(PHY_OVERRIDE) == 12);
