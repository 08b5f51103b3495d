#pragma once
// The high-speed PHY register table: the same four writes for HS PHY 0 to 3, each at its own
// base. Written with a count of HS_PHY_TABLE_COUNT; it has no end marker.
#include <ntddk.h>

constexpr ULONG HS_PHY_COUNT = 4;
constexpr ULONG HS_PHY_TABLE_COUNT = 4;

// PHY-block offset of HS PHY Phy's registers.
constexpr ULONG HsPhyBase(ULONG Phy) {
    return 0x2000 + 0x1000 * Phy;
}

// The offsets of HS PHY Phy (NULL for a PHY that does not exist) and the shared values.
const ULONG* HsPhyTableOffsets(ULONG Phy);
const UCHAR* HsPhyTableValues(VOID);
