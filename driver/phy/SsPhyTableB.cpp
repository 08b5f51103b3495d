// Table B of the super-speed PHYs: SS PHY 2 offsets, SS PHY 3 the same moved by
// 0x1000, one value array for both.
#include "phy/SsPhyTableB.h"
#include "phy/RegisterTable.h"

// clang-format off
static constexpr ULONG SsPhy2TableBOffsets[] = {
    0xB840,         // 0
    0xB094,         // 1
    0xB1BC,         // 2
    0xB158,         // 3
    0xB0BC,         // 4
    0xB0CC,         // 5
    0xB0D0,         // 6
    0xB0D4,         // 7
    0xB1AC,         // 8
    0xB1B0,         // 9
    0xB074,         // 10
    0xB07C,         // 11
    0xB084,         // 12
    0xB110,         // 13
    0xB0B0,         // 14
    0xB0AC,         // 15
    0xB0A4,         // 16
    0xB050,         // 17
    0xB11C,         // 18
    0xB118,         // 19
    0xB16C,         // 20
    0xB0C4,         // 21
    0xB0D8,         // 22
    0xB0DC,         // 23
    0xB0E0,         // 24
    0xB0B8,         // 25
    0xB0B4,         // 26
    0xB078,         // 27
    0xB080,         // 28
    0xB088,         // 29
    0xB1B4,         // 30
    0xB1B8,         // 31
    0xB060,         // 32
    0xB010,         // 33
    0xB01C,         // 34
    0xB020,         // 35
    0xB030,         // 36
    0xB034,         // 37
    0xB024,         // 38
    0xB028,         // 39
    0xB10C,         // 40
    0xB580,         // 41
    0xB57C,         // 42
    0xB578,         // 43
    0xB574,         // 44
    0xB570,         // 45
    0xB594,         // 46
    0xB590,         // 47
    0xB58C,         // 48
    0xB588,         // 49
    0xB584,         // 50
    0xB444,         // 51
    0xB44C,         // 52
    0xB450,         // 53
    0xB454,         // 54
    0xB458,         // 55
    0xB430,         // 56
    0xB43C,         // 57
    0xB440,         // 58
    0xB434,         // 59
    0xB408,         // 60
    0xB4D4,         // 61
    0xB4D8,         // 62
    0xB4EC,         // 63
    0xB4F0,         // 64
    0xB4F4,         // 65
    0xB5B4,         // 66
    0xB510,         // 67
    0xB514,         // 68
    0xB51C,         // 69
    0xB524,         // 70
    0xB4FC,         // 71
    0xB4F8,         // 72
    0xB5B8,         // 73
    0xB414,         // 74
    0xB5BC,         // 75
    0xB4DC,         // 76
    0xB29C,         // 77
    0xB284,         // 78
    0xB288,         // 79
    0xB304,         // 80
    0xB23C,         // 81
    0xB240,         // 82
    0xB8C4,         // 83
    0xB8C8,         // 84
    0xB8CC,         // 85
    0xB8D8,         // 86
    0xB990,         // 87
    0xB994,         // 88
    0xB988,         // 89
    0xBE38,         // 90
    0xBE18,         // 91
    0xB9B0,         // 92
    0xB9C0,         // 93
    0xB9C4,         // 94
    0xB9DC,         // 95
    0xB9EC,         // 96
    0xB8DC,         // 97
    0xB9D0,         // 98
    PHY_TABLE_END,  // 99
};

static const UCHAR TableBValues[] = {
    0x01,           // 0
    0x1A,           // 1
    0x11,           // 2
    0x01,           // 3
    0x82,           // 4
    0xAB,           // 5
    0xEA,           // 6
    0x02,           // 7
    0xCA,           // 8
    0x1E,           // 9
    0x02,           // 10
    0x16,           // 11
    0x36,           // 12
    0x24,           // 13
    0x34,           // 14
    0x14,           // 15
    0x04,           // 16
    0x0A,           // 17
    0x02,           // 18
    0x24,           // 19
    0x08,           // 20
    0x82,           // 21
    0xAB,           // 22
    0xEA,           // 23
    0x02,           // 24
    0x82,           // 25
    0x34,           // 26
    0x06,           // 27
    0x16,           // 28
    0x36,           // 29
    0xCA,           // 30
    0x1E,           // 31
    0x20,           // 32
    0x01,           // 33
    0x31,           // 34
    0x01,           // 35
    0xDE,           // 36
    0x07,           // 37
    0xDE,           // 38
    0x07,           // 39
    0x02,           // 40
    0x86,           // 41
    0x7F,           // 42
    0xFF,           // 43
    0x3F,           // 44
    0xFF,           // 45
    0xB3,           // 46
    0x0B,           // 47
    0x5C,           // 48
    0xDC,           // 49
    0xDC,           // 50
    0x99,           // 51
    0x04,           // 52
    0x08,           // 53
    0x05,           // 54
    0x05,           // 55
    0x2F,           // 56
    0xFF,           // 57
    0x0F,           // 58
    0x7F,           // 59
    0x0A,           // 60
    0x54,           // 61
    0x0F,           // 62
    0x0F,           // 63
    0x4A,           // 64
    0x0A,           // 65
    0x04,           // 66
    0x47,           // 67
    0x80,           // 68
    0x04,           // 69
    0x0E,           // 70
    0x00,           // 71
    0xC0,           // 72
    0x38,           // 73
    0x06,           // 74
    0x0C,           // 75
    0x1F,           // 76
    0x12,           // 77
    0xD5,           // 78
    0xC2,           // 79
    0x40,           // 80
    0x11,           // 81
    0x02,           // 82
    0xD0,           // 83
    0x07,           // 84
    0x20,           // 85
    0x13,           // 86
    0xE7,           // 87
    0x03,           // 88
    0xAA,           // 89
    0x07,           // 90
    0xF8,           // 91
    0x0A,           // 92
    0x88,           // 93
    0x13,           // 94
    0x4B,           // 95
    0x10,           // 96
    0x21,           // 97
    0x0C,           // 98
    0x00,           // 99
};
// clang-format on

C_ASSERT(sizeof(SsPhy2TableBOffsets) / sizeof(SsPhy2TableBOffsets[0]) ==
         sizeof(TableBValues) / sizeof(TableBValues[0]));
C_ASSERT(sizeof(TableBValues) / sizeof(TableBValues[0]) == SS_PHY_TABLE_B_COUNT);
C_ASSERT(SsPhy2TableBOffsets[SS_PHY_TABLE_B_COUNT - 1] == PHY_TABLE_END);

static constexpr PHY_TABLE_OFFSETS<SS_PHY_TABLE_B_COUNT> SsPhy3TableBOffsets =
    PhyTableShifted(SsPhy2TableBOffsets, 0x1000);

const ULONG* SsPhyTableBOffsets(ULONG Phy) {
    switch (Phy) {
    case 2:
        return SsPhy2TableBOffsets;
    case 3:
        return SsPhy3TableBOffsets.Offset;
    default:
        return NULL;
    }
}

const UCHAR* SsPhyTableBValues(VOID) {
    return TableBValues;
}
