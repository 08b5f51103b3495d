#pragma once
// The high-speed (USB 2.0) PHY sequence. HS PHY n serves port n: 0 "Primary", 1 "Secondary",
// 2 and 3 the two ports of "Multiport". The sequences take the mapped blocks and the override
// list from the caller; they run at passive level and sleep.
#include <ntddk.h>
#include <wdf.h>

// Reset pulse of HS PHY Phy in the clock-and-reset block.
VOID HsPhyReset(ULONG Phy, PVOID ClockResetBlock);

// The whole sequence of HS PHY Phy, its reset pulse and firmware overrides included.
VOID HsPhyInitPort(ULONG Phy, PVOID ControllerBlock, PVOID ClockResetBlock, PVOID PhyBlock,
                   WDFCOLLECTION Overrides);

// The high-speed PHYs of an instance, in port order. STATUS_DEVICE_HARDWARE_ERROR, with no
// register touched, for an instance other than 0, 1 or 2.
NTSTATUS HsPhyInit(LONG Instance, PVOID ControllerBlock, PVOID ClockResetBlock, PVOID PhyBlock,
                   WDFCOLLECTION Overrides);

// "Primary", "Secondary", "Multi-port" or "Unknown", for diagnostics.
PCSTR PhyInstanceName(LONG Instance);
