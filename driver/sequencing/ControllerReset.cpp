// Controller resets, PHY programming and the first core and glue settings.
#include "sequencing/ControllerBringUp.h"
#include "frame/Trace.h"
#include "phy/HsPhy.h"
#include "phy/SsPhy.h"
#include "sequencing/PortLayout.h"
#include "sequencing/RegisterAccess.h"
#include "sequencing/RegisterMap.h"

#include "ControllerReset.tmh"

// SoC versions from this one on take the extra glue setting.
constexpr ULONG SOC_VERSION_GLUE_F88B4 = 0x20000;

static VOID PulseControllerReset(PVOID ClockResetBlock, ULONG Reset) {
    ModifyRegister(ClockResetBlock, Reset, 0x1, 0x1);
    DelayMilliseconds(1);
    ModifyRegister(ClockResetBlock, Reset, 0x0, 0x1);
    DelayMilliseconds(1);
}

// The pair's super-speed interface is moved to the USB 2.0 clock while its clock is gated.
static VOID ClockPipeFromUsb2(PVOID ControllerBlock, const GLUE_REGISTER_SET* Glue) {
    ModifyRegister(ControllerBlock, GLUE_GENERAL_CFG, Glue->PipeClockGate, Glue->PipeClockGate);
    DelayMilliseconds(1);
    ModifyRegister(ControllerBlock, GLUE_GENERAL_CFG, Glue->PipeClockSelect, Glue->PipeClockSelect);
    DelayMilliseconds(1);
    ModifyRegister(ControllerBlock, GLUE_GENERAL_CFG, 0x0, Glue->PipeClockGate);
}

static VOID ClearSsPhyOff(PFILTER_EXTENSION Context, const INSTANCE_LAYOUT* Layout) {
    if (Context->PortPairs == NULL) {
        return;
    }
    for (ULONG pair = 0; pair < Layout->PairCount && pair < Context->PortPairCount; ++pair) {
        Context->PortPairs[pair].SsPhyOff = 0;
    }
}

static VOID ConfigureCoreAndGlue(PFILTER_EXTENSION Context, const INSTANCE_LAYOUT* Layout) {
    PVOID controller = Context->ControllerBase;
    const ULONG pairs = Layout->PairCount;

    if (Context->SsPhyFailed) {
        for (ULONG pair = 0; pair < pairs; ++pair) {
            ClockPipeFromUsb2(controller, &InstancePort(Layout, pair)->Glue);
        }
    } else {
        if (Context->Instance == INSTANCE_MULTIPORT) {
            ClearSsPhyOff(Context, Layout);
        }
        for (ULONG pair = 0; pair < pairs; ++pair) {
            ModifyRegister(controller, GUSB3PIPECTL(InstancePort(Layout, pair)->CoreIndex), 0x0,
                           0x40000);
        }
    }
    ModifyRegister(controller, GCTL, 0x1, 0x1);
    for (ULONG pair = 0; pair < pairs; ++pair) {
        ModifyRegister(controller, GUSB3PIPECTL(InstancePort(Layout, pair)->CoreIndex), 0x400,
                       0x400);
    }
    for (ULONG pair = 0; pair < pairs; ++pair) {
        ModifyRegister(controller, GUSB3PIPECTL(InstancePort(Layout, pair)->CoreIndex), 0x8000000,
                       0x8000000);
    }
    for (ULONG pair = 0; pair < pairs; ++pair) {
        ModifyRegister(controller, LINK_TIMER(InstancePort(Layout, pair)->CoreIndex), 0x5, 0xFF);
    }
    for (ULONG pair = 0; pair < pairs; ++pair) {
        ModifyRegister(controller, LINK_TIMER(InstancePort(Layout, pair)->CoreIndex), 0x60000,
                       0xFF0000);
    }
    ModifyRegister(controller, GUCTL3, 0x10000, 0x10000);
    ModifyRegister(controller, GLUE_CTL_F8828, 0x2, 0x2);
    ModifyRegister(controller, GLUE_GENERAL_CFG, 0x0, 0x2);
    ModifyRegister(controller, GLUE_CTL_F8828, 0x4, 0x4);
    if (Context->SocVersion >= SOC_VERSION_GLUE_F88B4) {
        ModifyRegister(controller, GLUE_CTL_F88B4, 0x1, 0x1001);
    }
    ModifyRegister(controller, GUCTL1, 0x600000, 0xE00000);
}

NTSTATUS ResetAndInitController(PFILTER_EXTENSION Context) {
    const INSTANCE_LAYOUT* layout;
    NTSTATUS status;

    if (Context == NULL) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_HARDWARE, "no device context");
        return STATUS_INVALID_PARAMETER;
    }
    status = LookupInstanceLayout(Context->Instance, &layout);
    if (!NT_SUCCESS(status)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_HARDWARE, "unknown instance %d: status 0x%08X",
                    Context->Instance, status);
        return status;
    }
    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_HARDWARE, "instance %d: entry", Context->Instance);
    PulseControllerReset(Context->ClockResetBase, layout->ControllerResetFirst);
    PulseControllerReset(Context->ClockResetBase, layout->ControllerResetSecond);
    for (ULONG pair = 0; pair < layout->PairCount; ++pair) {
        WriteRegister(Context->PhyBase, InstancePort(layout, pair)->SsPhyLowPowerControl, 1);
    }

    status = HsPhyInit(Context->Instance, Context->ControllerBase, Context->ClockResetBase,
                       Context->PhyBase, Context->PhyOverrides);
    if (!NT_SUCCESS(status)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_HARDWARE, "instance %d: HS PHYs, status 0x%08X",
                    Context->Instance, status);
        return status;
    }

    Context->SsPhyFailed = 0;
    status = SsPhyInit(Context->Instance, Context->ControllerBase, Context->ClockResetBase,
                       Context->PhyBase, Context->PhyOverrides);
    if (!NT_SUCCESS(status)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_HARDWARE,
                    "instance %d: SS PHYs, status 0x%08X; USB 2.0 only", Context->Instance, status);
        // A failed super-speed PHY does not fail the bring-up.
        Context->SsPhyFailed = 1;
    }

    if (WPP_LEVEL_ENABLED(TRACE_HARDWARE)) {
        TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_HARDWARE, "instance %d: GLUE_STATUS0 bit 0 = %u",
                    Context->Instance, ReadRegister(Context->ControllerBase, GLUE_STATUS0) & 0x1);
    }

    ConfigureCoreAndGlue(Context, layout);
    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_HARDWARE, "instance %d: exit", Context->Instance);
    return STATUS_SUCCESS;
}
