#pragma once
// The registers of each super-speed PHY that its sequence writes directly, by PHY number.
// SS PHY 0 and 1 are of the kind programmed from Table A and have a common part outside the
// table region; SS PHY 2 and 3 are programmed from Table B and have none.
#include <ntddk.h>

constexpr ULONG SS_PHY_COUNT = 4;

// A register the PHY does not have.
constexpr ULONG SS_PHY_NO_REGISTER = 0;

typedef enum _SS_PHY_KIND { SsPhyKindA, SsPhyKindB } SS_PHY_KIND;

typedef struct _SS_PHY_LAYOUT {
    SS_PHY_KIND Kind;
    LONG Instance;     // the controller instance the PHY belongs to
    ULONG WindowStart; // physical; the override window is [WindowStart, WindowStart + 0x1000)
    // PHY block.
    ULONG CommonReset;   // common-part register written 0 before the start (kind A)
    ULONG CommonControl; // common-part register, bit 0 set after the reset (kind A)
    ULONG SoftReset;     // written 0 before the start
    ULONG Start;         // written 3
    ULONG Status;        // bit 6 reads 0 when the PHY is ready
    // Clock-and-reset block, bit 0 of each; unused entries are SS_PHY_NO_REGISTER.
    ULONG Gate;
    ULONG ResetsSet[2];   // set at the start, in this order
    ULONG ResetsClear[2]; // cleared at the end, in this order
} SS_PHY_LAYOUT;

// Indexed by PHY number, 0 to SS_PHY_COUNT - 1.
extern const SS_PHY_LAYOUT SS_PHY_LAYOUTS[SS_PHY_COUNT];
