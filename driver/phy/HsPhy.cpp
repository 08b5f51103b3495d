// The high-speed PHY sequence and its per-instance entry point.
#include "phy/HsPhy.h"
#include "frame/Trace.h"
#include "phy/HsPhyTable.h"
#include "phy/PhyOverrides.h"
#include "phy/RegisterTable.h"
#include "sequencing/PortLayout.h"
#include "sequencing/RegisterAccess.h"
#include "sequencing/RegisterMap.h"

#include "HsPhy.tmh"

constexpr ULONG HS_PHY_WINDOW_SIZE = 0x100;

PCSTR PhyInstanceName(LONG Instance) {
    switch (Instance) {
    case INSTANCE_PRIMARY:
        return "Primary";
    case INSTANCE_SECONDARY:
        return "Secondary";
    case INSTANCE_MULTIPORT:
        return "Multi-port";
    default:
        return "Unknown";
    }
}

VOID HsPhyReset(ULONG Phy, PVOID ClockResetBlock) {
    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_PHY, "HS PHY %u reset: entry", Phy);
    if (Phy >= HS_PHY_COUNT) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_PHY, "no HS PHY %u", Phy);
        return;
    }
    ULONG reset = HsPhyResetOffset(Phy);

    ModifyRegister(ClockResetBlock, reset, 0x1, 0x1);
    DelayMicroseconds(10);
    ModifyRegister(ClockResetBlock, reset, 0x0, 0x1);
    DelayMicroseconds(10);
    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_PHY, "HS PHY %u reset: exit", Phy);
}

VOID HsPhyInitPort(ULONG Phy, PVOID ControllerBlock, PVOID ClockResetBlock, PVOID PhyBlock,
                   WDFCOLLECTION Overrides) {
    if (Phy >= HS_PHY_COUNT) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_PHY, "no HS PHY %u", Phy);
        return;
    }
    const ULONG b = HsPhyBase(Phy);
    const ULONG window = static_cast<ULONG>(PHY_PHYSICAL_BASE) + b;

    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_PHY, "HS PHY %u: entry", Phy);
    HsPhyReset(Phy, ClockResetBlock);
    ModifyRegister(PhyBlock, b + 0x94, 0x2, 0x2);
    ModifyRegister(PhyBlock, b + 0x50, 0x2, 0x2);
    ModifyRegister(PhyBlock, b + 0x54, 0x0, 0x70);
    ModifyRegister(PhyBlock, b + 0x58, 0x20, 0x20);
    ModifyRegister(PhyBlock, b + 0xA0, 0x2, 0x3);
    ModifyRegister(PhyBlock, b + 0x58, 0x10, 0x10);
    ModifyRegister(PhyBlock, b + 0x60, 0x1, 0x1);
    PhyWriteTable(PhyBlock, HsPhyTableOffsets(Phy), HsPhyTableValues(), 0, HS_PHY_TABLE_COUNT);
    PhyApplyOverrides(PORT_LAYOUTS[Phy].Instance, ControllerBlock, PhyBlock, Overrides, window,
                      window + HS_PHY_WINDOW_SIZE, PHY_OVERRIDE_PHASE_HS);
    ModifyRegister(PhyBlock, b + 0x5C, 0x1, 0x1);
    ModifyRegister(PhyBlock, b + 0x50, 0x0, 0x1);
    ModifyRegister(PhyBlock, b + 0x84, 0x0, 0x10);
    ModifyRegister(PhyBlock, b + 0x84, 0x0, 0x40);
    ModifyRegister(PhyBlock, b + 0x54, 0x0, 0x3);
    ModifyRegister(PhyBlock, b + 0x80, 0x0, 0xFF);
    ModifyRegister(PhyBlock, b + 0x64, 0x8, 0x8);
    ModifyRegister(PhyBlock, b + 0x64, 0x4, 0x4);
    ModifyRegister(PhyBlock, b + 0x3C, 0x1, 0x1);
    ModifyRegister(PhyBlock, b + 0x50, 0x0, 0x2);
    ModifyRegister(PhyBlock, b + 0x64, 0x0, 0x8);
    DelayMicroseconds(20);
    ModifyRegister(PhyBlock, b + 0x94, 0x0, 0x2);
    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_PHY, "HS PHY %u: exit", Phy);
}

NTSTATUS HsPhyInit(LONG Instance, PVOID ControllerBlock, PVOID ClockResetBlock, PVOID PhyBlock,
                   WDFCOLLECTION Overrides) {
    const INSTANCE_LAYOUT* layout;
    NTSTATUS status = LookupInstanceLayout(Instance, &layout);

    if (!NT_SUCCESS(status)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_PHY, "HS PHYs of instance %d (%s): status 0x%08X",
                    Instance, PhyInstanceName(Instance), status);
        return status;
    }
    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_PHY, "HS PHYs of %s: entry", PhyInstanceName(Instance));
    for (ULONG pair = 0; pair < layout->PairCount; ++pair) {
        HsPhyInitPort(layout->FirstPort + pair, ControllerBlock, ClockResetBlock, PhyBlock,
                      Overrides);
    }
    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_PHY, "HS PHYs of %s: exit", PhyInstanceName(Instance));
    return STATUS_SUCCESS;
}
