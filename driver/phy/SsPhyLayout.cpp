// The super-speed PHYs' own registers.
#include "phy/SsPhyLayout.h"

// clang-format off
const SS_PHY_LAYOUT SS_PHY_LAYOUTS[SS_PHY_COUNT] = {
    // SS PHY 0, "Primary"
    {SsPhyKindA, 0, 0x088E9000,
     0x8004, 0x8008, 0x9C00, 0x9C44, 0x9C14,
     0xF058, {0x50008, SS_PHY_NO_REGISTER}, {0x50000, 0x50008}},
    // SS PHY 1, "Secondary": SS PHY 0 moved by 0x5000 in the PHY block
    {SsPhyKindA, 1, 0x088EE000,
     0xD004, 0xD008, 0xEC00, 0xEC44, 0xEC14,
     0x10058, {0x5000C, SS_PHY_NO_REGISTER}, {0x50004, 0x5000C}},
    // SS PHY 2, "Multiport" port 0
    {SsPhyKindB, 2, 0x088EB000,
     SS_PHY_NO_REGISTER, SS_PHY_NO_REGISTER, 0xB800, 0xB844, 0xB814,
     0xA6058, {0x50024, 0x5002C}, {0x50024, 0x5002C}},
    // SS PHY 3, "Multiport" port 1: SS PHY 2 moved by 0x1000 in the PHY block
    {SsPhyKindB, 2, 0x088EC000,
     SS_PHY_NO_REGISTER, SS_PHY_NO_REGISTER, 0xC800, 0xC844, 0xC814,
     0xA605C, {0x50028, 0x50030}, {0x50028, 0x50030}},
};
// clang-format on
