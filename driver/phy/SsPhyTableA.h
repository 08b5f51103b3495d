#pragma once
// Table A, the register table of the super-speed PHYs of the first kind (SS PHY 0 and 1):
// a skip entry, 143 writes and the end marker, written with a count of SS_PHY_TABLE_A_COUNT.
#include <ntddk.h>

constexpr ULONG SS_PHY_TABLE_A_COUNT = 145;

// The offsets of SS PHY 0 or 1 (NULL for any other PHY) and the values they share.
const ULONG* SsPhyTableAOffsets(ULONG Phy);
const UCHAR* SsPhyTableAValues(VOID);
