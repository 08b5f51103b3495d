#pragma once
// Register map of the three blocks that the sequences touch, as byte offsets from each block's
// mapped base. Controller-block port and core registers carry the hardware's own names; glue
// registers belong to the wrapper around the core. PHY tables live with the PHY sequences.
#include <ntddk.h>

// Physical placement of the blocks.
constexpr ULONG CONTROLLER_PRIMARY_BASE = 0x0A600000;
constexpr ULONG CONTROLLER_SECONDARY_BASE = 0x0A800000;
constexpr ULONG CONTROLLER_MULTIPORT_BASE = 0x0A400000;
constexpr ULONGLONG CLOCK_RESET_PHYSICAL_BASE = 0x00100000;
constexpr ULONG CLOCK_RESET_LENGTH = 0x200000;
constexpr ULONGLONG PHY_PHYSICAL_BASE = 0x088E0000;
constexpr ULONG PHY_LENGTH = 0x14000;

//
// Controller block.
//
constexpr ULONG PortscOffset(_In_ ULONG Port) {
    return 0x420 + 0x10 * (Port - 1);
} // Port 1..4
constexpr ULONG PORTSC1 = PortscOffset(1);
constexpr ULONG PORTSC2 = PortscOffset(2);
constexpr ULONG PORTSC3 = PortscOffset(3);
constexpr ULONG PORTSC4 = PortscOffset(4);

constexpr ULONG PORTSC_CCS = 0x1;     // current connect status
constexpr ULONG PORTSC_PED = 0x2;     // port enabled; writing 1 disables
constexpr ULONG PORTSC_PR = 0x10;     // port reset
constexpr ULONG PORTSC_PLS_SHIFT = 5; // port link state, bits 8:5
constexpr ULONG PORTSC_PLS_MASK = 0x1E0;
constexpr ULONG PORTSC_PP = 0x200;       // port power
constexpr ULONG PORTSC_SPEED_SHIFT = 10; // port speed, bits 13:10
constexpr ULONG PORTSC_SPEED_MASK = 0x3C00;
constexpr ULONG PORTSC_WCE = 0x2000000; // wake on connect enable

constexpr ULONG PORT_LINK_U0 = 0;
constexpr ULONG PORT_LINK_U3 = 3;
constexpr ULONG PORT_LINK_RX_DETECT = 5;
constexpr ULONG PORT_LINK_POLLING = 7;
constexpr ULONG PORT_LINK_RESUME = 15;

constexpr ULONG GSBUSCFG1 = 0xC104;
constexpr ULONG GRXTHRCFG = 0xC10C;
constexpr ULONG GCTL = 0xC110;
constexpr ULONG GCTL_PORT_CAPABILITY_MASK = 0x3000; // port capability direction, bits 13:12
constexpr ULONG GCTL_PORT_CAPABILITY_HOST = 0x1000;
constexpr ULONG GUCTL1 = 0xC11C;
constexpr ULONG GUSB2PHYCFG(_In_ ULONG n) {
    return 0xC200 + 4 * n;
}
constexpr ULONG GUSB3PIPECTL(_In_ ULONG n) {
    return 0xC2C0 + 4 * n;
}
constexpr ULONG GUCTL3 = 0xC60C;
constexpr ULONG LINK_TIMER(_In_ ULONG n) {
    return 0xD010 + 0x80 * n;
}
constexpr ULONG LLUCTL(_In_ ULONG n) {
    return 0xD024 + 0x80 * n;
}

constexpr ULONG GUSB2PHYCFG_SUSPEND_ENABLE = 0x40;     // bit 6
constexpr ULONG GUSB3PIPECTL_SUSPEND_ENABLE = 0x20000; // bit 17
constexpr ULONG LLUCTL_FORCE_GEN1 = 0x400;             // bit 10

constexpr ULONG GLUE_GENERAL_CFG = 0xF8808;
constexpr ULONG GLUE_IRQ_ENABLE = 0xF8820;
constexpr ULONG GLUE_IRQ_STAT0 = 0xF8824;
constexpr ULONG GLUE_CTL_F8828 = 0xF8828;
constexpr ULONG GLUE_EVT_STAT0 = 0xF8858;
constexpr ULONG GLUE_EVT_ENABLE0 = 0xF885C;
constexpr ULONG GLUE_CTL_F88B4 = 0xF88B4;
constexpr ULONG GLUE_STATUS0 = 0xF88F8;
constexpr ULONG GLUE_STATUS1 = 0xF89D8;
constexpr ULONG GLUE_EVT_STAT1 = 0xF89DC;
constexpr ULONG GLUE_EVT_ENABLE1 = 0xF89E0;
constexpr ULONG GLUE_IRQ_STAT1 = 0xF89F0;

// The controller block must reach past the highest register that a sequence or an override
// window touches: GLUE_IRQ_STAT1, above the core and the overrides' 0xD060-0xD06C.
constexpr ULONG CONTROLLER_REGISTERS_END = GLUE_IRQ_STAT1 + sizeof(ULONG);

//
// Clock-and-reset block. The controller resets of each instance are in its INSTANCE_LAYOUT
// (sequencing/PortLayout.h); the high-speed PHY resets follow the port number.
//
constexpr ULONG HsPhyResetOffset(_In_ ULONG Port) {
    return 0x12000 + 4 * Port;
}

//
// PHY block. The registers of each port's PHYs are in its PORT_LAYOUT row.
//
constexpr ULONG PHY_SHARED_CTL = 0x1018; // one register for all instances

constexpr ULONG SS_PHY_WAKE_DETECT_MASK = 0x13;
