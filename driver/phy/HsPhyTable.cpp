// The high-speed PHY register table.
#include "phy/HsPhyTable.h"
#include "phy/RegisterTable.h"

// Offsets relative to the PHY's base.
static constexpr ULONG HsPhyTableRelative[] = {
    0x6C, // 0
    0x70, // 1
    0x74, // 2
    0x78, // 3
};

static const UCHAR HsPhyValues[] = {
    0x61, // 0
    0x43, // 1
    0x2E, // 2
    0x03, // 3
};

C_ASSERT(sizeof(HsPhyTableRelative) / sizeof(HsPhyTableRelative[0]) == HS_PHY_TABLE_COUNT);
C_ASSERT(sizeof(HsPhyValues) / sizeof(HsPhyValues[0]) == HS_PHY_TABLE_COUNT);

static constexpr PHY_TABLE_OFFSETS<HS_PHY_TABLE_COUNT> HsPhy0Offsets =
    PhyTableShifted(HsPhyTableRelative, HsPhyBase(0));
static constexpr PHY_TABLE_OFFSETS<HS_PHY_TABLE_COUNT> HsPhy1Offsets =
    PhyTableShifted(HsPhyTableRelative, HsPhyBase(1));
static constexpr PHY_TABLE_OFFSETS<HS_PHY_TABLE_COUNT> HsPhy2Offsets =
    PhyTableShifted(HsPhyTableRelative, HsPhyBase(2));
static constexpr PHY_TABLE_OFFSETS<HS_PHY_TABLE_COUNT> HsPhy3Offsets =
    PhyTableShifted(HsPhyTableRelative, HsPhyBase(3));

const ULONG* HsPhyTableOffsets(ULONG Phy) {
    switch (Phy) {
    case 0:
        return HsPhy0Offsets.Offset;
    case 1:
        return HsPhy1Offsets.Offset;
    case 2:
        return HsPhy2Offsets.Offset;
    case 3:
        return HsPhy3Offsets.Offset;
    default:
        return NULL;
    }
}

const UCHAR* HsPhyTableValues(VOID) {
    return HsPhyValues;
}
