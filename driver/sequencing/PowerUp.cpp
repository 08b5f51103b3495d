// The power-up of D0 entry, instance by instance.
#include "frame/Trace.h"
#include "phy/SsPhy.h"
#include "sequencing/PortLayout.h"
#include "sequencing/PowerDown.h"
#include "sequencing/PowerEvents.h"
#include "sequencing/PowerUp.h"
#include "sequencing/RegisterAccess.h"
#include "settings/FirmwareSettings.h"

#include "PowerUp.tmh"

constexpr UCHAR POWER_EVENT_OPCODE_INFO = 0;
constexpr UCHAR POWER_EVENT_OPCODE_START = 1;
constexpr ULONG PHY_SHARED_CTL_ENABLE = 0x1;   // bit 0
constexpr ULONG GLUE_IRQ_ENABLE_WAKE = 0x1000; // bit 12

typedef struct _POWER_UP_EVENT {
    USHORT Id;
    ULONG Count;
    ULONG Values[3];
} POWER_UP_EVENT;

// Written in this order by every power-up that resumes the hardware.
static const POWER_UP_EVENT POWER_UP_EVENTS[] = {
    {5, 2, {1, 125000000, 0}},   {5, 2, {2, 125000000, 0}}, {5, 2, {3, 20000000, 0}},
    {4, 2, {5, 1, 0}},           {4, 2, {6, 1, 0}},         {6, 3, {1, 3072000, 16000}},
    {6, 3, {2, 1800000, 41100}},
};

static VOID WritePowerUpEvents(VOID) {
    for (ULONG i = 0; i < ARRAYSIZE(POWER_UP_EVENTS); ++i) {
        WritePowerEvent(POWER_UP_EVENTS[i].Id, POWER_EVENT_OPCODE_INFO, POWER_UP_EVENTS[i].Values,
                        POWER_UP_EVENTS[i].Count);
    }
}

// Shared by every instance and read-modified-written without a lock: a 1 ms low phase when
// the bit is already set, then set.
static VOID PulsePhySharedControl(PVOID PhyBlock) {
    if ((ReadRegister(PhyBlock, PHY_SHARED_CTL) & PHY_SHARED_CTL_ENABLE) != 0) {
        ModifyRegister(PhyBlock, PHY_SHARED_CTL, 0x0, PHY_SHARED_CTL_ENABLE);
        DelayMilliseconds(1);
    }
    ModifyRegister(PhyBlock, PHY_SHARED_CTL, PHY_SHARED_CTL_ENABLE, PHY_SHARED_CTL_ENABLE);
}

static VOID WriteBack(PVOID Block, ULONG Offset) {
    WriteRegister(Block, Offset, ReadRegister(Block, Offset));
}

static VOID DisarmWakeEvents(PFILTER_EXTENSION Context, const INSTANCE_LAYOUT* Layout) {
    PVOID controller = Context->ControllerBase;

    for (ULONG pair = 0; pair < Layout->PairCount; ++pair) {
        const GLUE_REGISTER_SET* glue = &InstancePort(Layout, pair)->Glue;
        WriteBack(controller, glue->EventStatus);
        WriteRegister(controller, glue->EventEnable, 0);
        WriteBack(controller, glue->IrqStatus);
    }
    ModifyRegister(controller, GLUE_IRQ_ENABLE, 0x0, GLUE_IRQ_ENABLE_WAKE);
}

static VOID ClearWakeArmed(PFILTER_EXTENSION Context, const INSTANCE_LAYOUT* Layout) {
    for (ULONG pair = 0; pair < Layout->PairCount; ++pair) {
        Context->PortPairs[pair].HsWakeArmed = 0;
        Context->PortPairs[pair].SsWakeArmed = 0;
    }
}

// A Multiport SS PHY that the power-down switched off is programmed again. A failure leaves
// the instance on USB 2.0 until the next bring-up.
static VOID ReprogramSsPhy(PFILTER_EXTENSION Context, ULONG Pair) {
    const ULONG phy = PortNumber(Context->Instance, Pair);
    NTSTATUS status = SsPhyInitPort(phy, Context->ControllerBase, Context->ClockResetBase,
                                    Context->PhyBase, Context->PhyOverrides);
    if (!NT_SUCCESS(status)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_POWER, "SS PHY %u programmed again: status 0x%08X",
                    phy, status);
        Context->SsPhyFailed = 1;
    } else {
        TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_POWER, "SS PHY %u programmed again", phy);
    }
    Context->PortPairs[Pair].SsPhyOff = 0;
}

// A Multiport power-down abandoned for a port reset leaves PoweredDown at 0, but pair 0's SS
// PHY may already be off by then. The controller then runs without that PHY until a complete
// power-down and power-up, so such a D0 entry resumes as after a completed power-down.
static BOOLEAN SsPhyLeftOff(PFILTER_EXTENSION Context, const INSTANCE_LAYOUT* Layout) {
    for (ULONG pair = 0; pair < Layout->PairCount; ++pair) {
        if (Context->PortPairs[pair].SsPhyOff == 1) {
            return TRUE;
        }
    }
    return FALSE;
}

static VOID PowerUpSingle(PFILTER_EXTENSION Context, const INSTANCE_LAYOUT* Layout) {
    DisarmWakeEvents(Context, Layout);
    WritePowerUpEvents();
    ResumeHsPhy(Context);
    if (Context->SsPhyFailed == 0) {
        ResumeSsPhy(Context);
    }
    WritePowerEvent(2, POWER_EVENT_OPCODE_START, NULL, 0);
    Context->PoweredDown = 0;
    ClearWakeArmed(Context, Layout);
}

static VOID PowerUpMultiport(PFILTER_EXTENSION Context, const INSTANCE_LAYOUT* Layout) {
    DisarmWakeEvents(Context, Layout);
    WritePowerUpEvents();
    ResumeHsPhy(Context);
    if (Context->SsPhyFailed == 0) {
        if (Context->PortPairs[0].SsPhyOff == 1) {
            if (Context->Mprd == 1) {
                NTSTATUS status = SetGpioLine(Context, 1);
                if (!NT_SUCCESS(status)) {
                    TraceEvents(TRACE_LEVEL_ERROR, TRACE_POWER, "GPIO line high: status 0x%08X",
                                status);
                }
            }
            ReprogramSsPhy(Context, 0);
        }
        if (Context->PortPairs[1].SsPhyOff == 1) {
            ReprogramSsPhy(Context, 1);
        }
        // Even after a failed re-programming: the other PHY is still to be resumed.
        ResumeSsPhy(Context);
    }
    WritePowerEvent(2, POWER_EVENT_OPCODE_START, NULL, 0);
    ClearWakeArmed(Context, Layout);
    Context->PoweredDown = 0;
}

VOID DisarmPowerDownWakeEvents(PFILTER_EXTENSION Context) {
    const INSTANCE_LAYOUT* layout;

    if (NT_SUCCESS(LookupInstanceLayout(Context->Instance, &layout))) {
        DisarmWakeEvents(Context, layout);
        TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_POWER,
                    "instance %d: powered down without a power loss, wake events disarmed",
                    Context->Instance);
    }
}

NTSTATUS PowerUpController(PFILTER_EXTENSION Context, WDF_POWER_DEVICE_STATE PreviousState) {
    const INSTANCE_LAYOUT* layout;
    NTSTATUS status;

    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_POWER, "entry: instance %d, from %s", Context->Instance,
                DeviceStateName(PreviousState));
    PulsePhySharedControl(Context->PhyBase);

    status = LookupInstanceLayout(Context->Instance, &layout);
    if (!NT_SUCCESS(status)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_POWER, "unknown instance %d: status 0x%08X",
                    Context->Instance, status);
    } else if (Context->PoweredDown == 0 && !SsPhyLeftOff(Context, layout)) {
        TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_POWER, "instance %d: nothing to resume",
                    Context->Instance);
    } else if (Context->Instance == INSTANCE_MULTIPORT) {
        if (Context->PoweredDown == 0) {
            TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_POWER,
                        "instance %d: SS PHY left off by an abandoned power-down, resumed",
                        Context->Instance);
        }
        PowerUpMultiport(Context, layout);
    } else {
        PowerUpSingle(Context, layout);
    }
    ReportPortAttachment(Context);
    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_POWER, "exit: instance %d, status 0x%08X",
                Context->Instance, status);
    return status;
}
