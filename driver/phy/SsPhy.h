#pragma once
// The super-speed PHY sequence. SS PHY n serves port n, as HS PHY n does. It is the only PHY
// step that can fail on the hardware's account: the PHY may never report ready.
#include <ntddk.h>
#include <wdf.h>

// Reset and gate sequence of SS PHY Phy in the clock-and-reset block.
VOID SsPhyReset(ULONG Phy, PVOID ClockResetBlock);

// The whole sequence of SS PHY Phy. STATUS_DEVICE_HARDWARE_ERROR when the PHY does not report
// ready (or does not exist); the registers written so far stay as written.
NTSTATUS SsPhyInitPort(ULONG Phy, PVOID ControllerBlock, PVOID ClockResetBlock, PVOID PhyBlock,
                       WDFCOLLECTION Overrides);

// The super-speed PHYs of an instance, in port order; the first failure ends it, so a failed
// SS PHY 2 leaves SS PHY 3 untouched. STATUS_DEVICE_HARDWARE_ERROR, with no register
// touched, for an instance other than 0, 1 or 2.
NTSTATUS SsPhyInit(LONG Instance, PVOID ControllerBlock, PVOID ClockResetBlock, PVOID PhyBlock,
                   WDFCOLLECTION Overrides);
