#pragma once
// Table B, the register table of the super-speed PHYs of the second kind (SS PHY 2 and 3):
// 99 writes and the end marker, written with a count of SS_PHY_TABLE_B_COUNT.
#include <ntddk.h>

constexpr ULONG SS_PHY_TABLE_B_COUNT = 100;

// The offsets of SS PHY 2 or 3 (NULL for any other PHY) and the values they share.
const ULONG* SsPhyTableBOffsets(ULONG Phy);
const UCHAR* SsPhyTableBValues(VOID);
