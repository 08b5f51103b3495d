// The super-speed PHY sequence and its per-instance entry point.
#include "phy/SsPhy.h"
#include "frame/Trace.h"
#include "phy/HsPhy.h"
#include "phy/PhyOverrides.h"
#include "phy/RegisterTable.h"
#include "phy/SsPhyLayout.h"
#include "phy/SsPhyTableA.h"
#include "phy/SsPhyTableB.h"
#include "sequencing/PortLayout.h"
#include "sequencing/RegisterAccess.h"

#include "SsPhy.tmh"

constexpr ULONG SS_PHY_WINDOW_SIZE = 0x1000;
constexpr ULONG SS_PHY_START_COMMAND = 3;
constexpr ULONG SS_PHY_STATUS_NOT_READY = 0x40; // bit 6
constexpr ULONG SS_PHY_READY_POLLS = 4;         // status reads, each after 100 us

VOID SsPhyReset(ULONG Phy, PVOID ClockResetBlock) {
    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_PHY, "SS PHY %u reset: entry", Phy);
    if (Phy >= SS_PHY_COUNT) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_PHY, "no SS PHY %u", Phy);
        return;
    }
    const SS_PHY_LAYOUT* phy = &SS_PHY_LAYOUTS[Phy];

    ModifyRegister(ClockResetBlock, phy->Gate, 0x0, 0x1);
    for (ULONG i = 0; i < 2 && phy->ResetsSet[i] != SS_PHY_NO_REGISTER; ++i) {
        ModifyRegister(ClockResetBlock, phy->ResetsSet[i], 0x1, 0x1);
    }
    DelayMicroseconds(100);
    for (ULONG i = 0; i < 2 && phy->ResetsClear[i] != SS_PHY_NO_REGISTER; ++i) {
        ModifyRegister(ClockResetBlock, phy->ResetsClear[i], 0x0, 0x1);
    }
    DelayMicroseconds(100);
    ModifyRegister(ClockResetBlock, phy->Gate, 0x1, 0x1);
    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_PHY, "SS PHY %u reset: exit", Phy);
}

static VOID SsPhyWriteTable(ULONG Phy, PVOID PhyBlock) {
    if (SS_PHY_LAYOUTS[Phy].Kind == SsPhyKindA) {
        PhyWriteTable(PhyBlock, SsPhyTableAOffsets(Phy), SsPhyTableAValues(), 0,
                      SS_PHY_TABLE_A_COUNT);
    } else {
        PhyWriteTable(PhyBlock, SsPhyTableBOffsets(Phy), SsPhyTableBValues(), 0,
                      SS_PHY_TABLE_B_COUNT);
    }
}

// Up to four status reads, each after 100 us; the PHY is ready when bit 6 reads 0.
static NTSTATUS SsPhyWaitReady(ULONG Phy, PVOID PhyBlock) {
    ULONG status = SS_PHY_STATUS_NOT_READY;

    for (ULONG poll = 0; poll < SS_PHY_READY_POLLS; ++poll) {
        DelayMicroseconds(100);
        status = ReadRegister(PhyBlock, SS_PHY_LAYOUTS[Phy].Status);
        if ((status & SS_PHY_STATUS_NOT_READY) == 0) {
            break;
        }
    }
    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_PHY, "SS PHY %u: status bit 6 = %u", Phy,
                (status & SS_PHY_STATUS_NOT_READY) != 0);
    if ((status & SS_PHY_STATUS_NOT_READY) != 0) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_PHY, "SS PHY %u not ready", Phy);
        return STATUS_DEVICE_HARDWARE_ERROR;
    }
    return STATUS_SUCCESS;
}

NTSTATUS SsPhyInitPort(ULONG Phy, PVOID ControllerBlock, PVOID ClockResetBlock, PVOID PhyBlock,
                       WDFCOLLECTION Overrides) {
    if (Phy >= SS_PHY_COUNT) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_PHY, "no SS PHY %u", Phy);
        return STATUS_DEVICE_HARDWARE_ERROR;
    }
    const SS_PHY_LAYOUT* phy = &SS_PHY_LAYOUTS[Phy];
    const BOOLEAN kindA = phy->Kind == SsPhyKindA;

    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_PHY, "SS PHY %u: entry", Phy);
    SsPhyReset(Phy, ClockResetBlock);
    if (kindA) {
        ModifyRegister(PhyBlock, phy->CommonControl, 0x1, 0x1);
    }
    SsPhyWriteTable(Phy, PhyBlock);
    PhyApplyOverrides(phy->Instance, ControllerBlock, PhyBlock, Overrides, phy->WindowStart,
                      phy->WindowStart + SS_PHY_WINDOW_SIZE, PHY_OVERRIDE_PHASE_SS);
    if (kindA) {
        DelayMicroseconds(100);
        WriteRegister(PhyBlock, phy->CommonReset, 0);
    }
    WriteRegister(PhyBlock, phy->SoftReset, 0);
    WriteRegister(PhyBlock, phy->Start, SS_PHY_START_COMMAND);
    NTSTATUS status = SsPhyWaitReady(Phy, PhyBlock);

    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_PHY, "SS PHY %u: exit, status 0x%08X", Phy, status);
    return status;
}

NTSTATUS SsPhyInit(LONG Instance, PVOID ControllerBlock, PVOID ClockResetBlock, PVOID PhyBlock,
                   WDFCOLLECTION Overrides) {
    const INSTANCE_LAYOUT* layout;
    NTSTATUS status = LookupInstanceLayout(Instance, &layout);

    if (!NT_SUCCESS(status)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_PHY, "SS PHYs of instance %d (%s): status 0x%08X",
                    Instance, PhyInstanceName(Instance), status);
        return status;
    }
    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_PHY, "SS PHYs of %s: entry", PhyInstanceName(Instance));
    for (ULONG pair = 0; pair < layout->PairCount; ++pair) {
        status = SsPhyInitPort(layout->FirstPort + pair, ControllerBlock, ClockResetBlock, PhyBlock,
                               Overrides);
        if (!NT_SUCCESS(status)) {
            TraceEvents(TRACE_LEVEL_ERROR, TRACE_PHY, "SS PHYs of %s: SS PHY %u failed",
                        PhyInstanceName(Instance), layout->FirstPort + pair);
            return STATUS_DEVICE_HARDWARE_ERROR;
        }
    }
    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_PHY, "SS PHYs of %s: exit", PhyInstanceName(Instance));
    return STATUS_SUCCESS;
}
