// The PHYs out of suspend and low power at power-up.
#include "frame/Trace.h"
#include "phy/HsPhy.h"
#include "sequencing/PortLayout.h"
#include "sequencing/PowerDown.h"
#include "sequencing/PowerUp.h"
#include "sequencing/RegisterAccess.h"

#include "PhyResume.tmh"

constexpr ULONG GLUE_EVT_HS_RESUME = 0x20;         // bit 5
constexpr ULONG GUSB3PIPECTL_LOW_POWER = 0x400000; // bit 22

VOID ResumeHsPhy(PFILTER_EXTENSION Context) {
    const INSTANCE_LAYOUT* layout;
    PVOID controller = Context->ControllerBase;

    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_POWER, "entry: instance %d", Context->Instance);
    if (!NT_SUCCESS(LookupInstanceLayout(Context->Instance, &layout))) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_POWER, "unknown instance %d", Context->Instance);
        TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_POWER, "exit: nothing resumed");
        return;
    }
    for (ULONG pair = 0; pair < layout->PairCount; ++pair) {
        const PORT_LAYOUT* port = InstancePort(layout, pair);
        ModifyRegister(controller, port->Glue.EventStatus, GLUE_EVT_HS_RESUME, GLUE_EVT_HS_RESUME);
    }
    if (Context->Instance == INSTANCE_MULTIPORT) {
        // The second HS port still looking for a device lost its PHY settings while suspended.
        ULONG link = PortLinkState(ReadRegister(controller, InstancePort(layout, 1)->HsPortsc));
        if (link == PORT_LINK_RX_DETECT || link == PORT_LINK_POLLING) {
            HsPhyInitPort(3, controller, Context->ClockResetBase, Context->PhyBase,
                          Context->PhyOverrides);
            TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_POWER,
                        "HS port 2 in link state %u: HS PHY 3 programmed again", link);
        }
    }
    for (ULONG pair = 0; pair < layout->PairCount; ++pair) {
        const PORT_LAYOUT* port = InstancePort(layout, pair);
        ModifyRegister(controller, GUSB2PHYCFG(port->CoreIndex), 0x0, GUSB2PHYCFG_SUSPEND_ENABLE);
    }
    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_POWER, "exit: instance %d", Context->Instance);
}

VOID ResumeSsPhy(PFILTER_EXTENSION Context) {
    const INSTANCE_LAYOUT* layout;
    PVOID controller = Context->ControllerBase;
    PVOID phy = Context->PhyBase;

    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_POWER, "entry: instance %d", Context->Instance);
    if (!NT_SUCCESS(LookupInstanceLayout(Context->Instance, &layout))) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_POWER, "unknown instance %d", Context->Instance);
        TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_POWER, "exit: nothing resumed");
        return;
    }
    for (ULONG pair = 0; pair < layout->PairCount; ++pair) {
        WriteRegister(phy, InstancePort(layout, pair)->SsPhyLowPowerControl, 1);
    }
    for (ULONG pair = 0; pair < layout->PairCount; ++pair) {
        ModifyRegister(controller, GUSB3PIPECTL(InstancePort(layout, pair)->CoreIndex), 0x0,
                       GUSB3PIPECTL_LOW_POWER);
    }
    for (ULONG pair = 0; pair < layout->PairCount; ++pair) {
        ModifyRegister(phy, InstancePort(layout, pair)->SsPhyWakeDetectControl, 0x0,
                       SS_PHY_WAKE_DETECT_MASK);
    }
    ClearSsPhyEvents(Context);
    for (ULONG pair = 0; pair < layout->PairCount; ++pair) {
        ModifyRegister(controller, GUSB3PIPECTL(InstancePort(layout, pair)->CoreIndex), 0x0,
                       GUSB3PIPECTL_SUSPEND_ENABLE);
    }
    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_POWER, "exit: instance %d", Context->Instance);
}
