// Super-speed part of the power-down: each SS PHY put to low power and armed for wake
// detection, or powered down. The second Multiport port may instead need a port reset, and
// the power-down is then abandoned.
#include "frame/Trace.h"
#include "sequencing/PowerDown.h"
#include "sequencing/RegisterAccess.h"
#include "settings/FirmwareSettings.h"

#include "SsPhyPowerDown.tmh"

constexpr ULONG GLUE_STATUS_POLL_ATTEMPTS = 300;     // 10 us busy-waits
constexpr ULONG PORT_RESET_POLL_ATTEMPTS = 500;      // 1 ms sleeps
constexpr ULONG GLUE_STATUS_SS_BUSY = 0x4;           // bit 2, "Primary" and "Secondary"
constexpr ULONG GLUE_STATUS_SS_BUSY_MULTIPORT = 0x2; // bit 1, either Multiport set
constexpr ULONG GUSB3PIPECTL_LOW_POWER = 0x400000;   // bit 22
constexpr ULONG SS_WAKE_DETECT_SUSPENDED = 0x3;
constexpr ULONG SS_WAKE_DETECT_IDLE = 0x11;
constexpr ULONG GLUE_EVT_SS_DONE = 0x4; // write 1 to clear
constexpr ULONG GLUE_EVT_ENABLE_PORT_RESET = 0x1028;

static VOID WaitForSsSuspend(PFILTER_EXTENSION Context, const PORT_LAYOUT* Port, ULONG Bit) {
    ULONG attempts = 0;

    while ((ReadRegister(Context->ControllerBase, Port->Glue.Status) & Bit) != 0) {
        if (attempts == GLUE_STATUS_POLL_ATTEMPTS) {
            TraceEvents(TRACE_LEVEL_ERROR, TRACE_POWER,
                        "%s: SS suspend not confirmed after %u polls", Port->PairName, attempts);
            return;
        }
        StallMicroseconds(10);
        ++attempts;
    }
}

// "Primary" and "Secondary": the PHY stays powered at D3 and is armed for a suspended device.
static VOID SingleSsPhyPowerDown(PFILTER_EXTENSION Context, const PORT_LAYOUT* Port,
                                 BOOLEAN D3Final, BOOLEAN SsSuspended) {
    PVOID controller = Context->ControllerBase;
    PVOID phy = Context->PhyBase;

    ModifyRegister(controller, GUSB3PIPECTL(0), GUSB3PIPECTL_SUSPEND_ENABLE,
                   GUSB3PIPECTL_SUSPEND_ENABLE);
    WaitForSsSuspend(Context, Port, GLUE_STATUS_SS_BUSY);
    if (!D3Final) {
        ModifyRegister(controller, GUSB3PIPECTL(0), GUSB3PIPECTL_LOW_POWER, GUSB3PIPECTL_LOW_POWER);
        if (SsSuspended) {
            Context->PortPairs[0].SsWakeArmed = 1;
            ModifyRegister(phy, Port->SsPhyWakeDetectControl, SS_WAKE_DETECT_SUSPENDED,
                           SS_PHY_WAKE_DETECT_MASK);
        } else {
            ModifyRegister(phy, Port->SsPhyWakeDetectControl, SS_WAKE_DETECT_IDLE,
                           SS_PHY_WAKE_DETECT_MASK);
        }
        WriteRegister(phy, Port->SsPhyLowPowerControl, 0);
    } else {
        ModifyRegister(phy, Port->SsPhyWakeDetectControl, SS_WAKE_DETECT_IDLE,
                       SS_PHY_WAKE_DETECT_MASK);
        WriteRegister(phy, Port->SsPhyLowPowerControl, 0);
        WriteRegister(phy, Port->SsPhyPowerControl, 0);
    }
    WriteRegister(controller, Port->Glue.EventStatus, GLUE_EVT_SS_DONE);
}

// A Multiport PHY in low power: armed for a suspended device; with nothing to wake it, powered
// down as well unless the firmware keeps the Multiport PHYs powered ("MPDP").
static VOID MultiportSsPhyLowPower(PFILTER_EXTENSION Context, const PORT_LAYOUT* Port,
                                   PPORT_PAIR_STATE State, BOOLEAN SsSuspended) {
    PVOID phy = Context->PhyBase;

    ModifyRegister(Context->ControllerBase, GUSB3PIPECTL(Port->CoreIndex), GUSB3PIPECTL_LOW_POWER,
                   GUSB3PIPECTL_LOW_POWER);
    if (SsSuspended) {
        State->SsWakeArmed = 1;
        ModifyRegister(phy, Port->SsPhyWakeDetectControl, SS_WAKE_DETECT_SUSPENDED,
                       SS_PHY_WAKE_DETECT_MASK);
        WriteRegister(phy, Port->SsPhyLowPowerControl, 0);
        return;
    }
    ModifyRegister(phy, Port->SsPhyWakeDetectControl, SS_WAKE_DETECT_IDLE, SS_PHY_WAKE_DETECT_MASK);
    WriteRegister(phy, Port->SsPhyLowPowerControl, 0);
    if (Context->Mpdp == 0) {
        WriteRegister(phy, Port->SsPhyPowerControl, 0);
        State->SsPhyOff = 1;
        TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_POWER, "%s: SS PHY powered down",
                    Port->PairName);
    } else {
        TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_POWER, "%s: SS PHY kept powered",
                    Port->PairName);
    }
}

static VOID MultiportSsPhyD3Final(PFILTER_EXTENSION Context, const PORT_LAYOUT* Port,
                                  PPORT_PAIR_STATE State) {
    PVOID phy = Context->PhyBase;

    ModifyRegister(phy, Port->SsPhyWakeDetectControl, SS_WAKE_DETECT_IDLE, SS_PHY_WAKE_DETECT_MASK);
    WriteRegister(phy, Port->SsPhyLowPowerControl, 0);
    WriteRegister(phy, Port->SsPhyPowerControl, 0);
    State->SsPhyOff = 1;
}

// Pair 0 of Multiport, when nothing is attached or its SS port is suspended.
static VOID MultiportPair0PowerDown(PFILTER_EXTENSION Context, const PORT_LAYOUT* Port,
                                    BOOLEAN D3Final, BOOLEAN SsSuspended) {
    PPORT_PAIR_STATE state = &Context->PortPairs[0];

    ModifyRegister(Context->ControllerBase, GUSB3PIPECTL(Port->CoreIndex),
                   GUSB3PIPECTL_SUSPEND_ENABLE, GUSB3PIPECTL_SUSPEND_ENABLE);
    WaitForSsSuspend(Context, Port, GLUE_STATUS_SS_BUSY_MULTIPORT);
    if (!D3Final) {
        MultiportSsPhyLowPower(Context, Port, state, SsSuspended);
    } else {
        MultiportSsPhyD3Final(Context, Port, state);
    }
    WriteRegister(Context->ControllerBase, Port->Glue.EventStatus, GLUE_EVT_SS_DONE);
    // The PHY's supply follows the GPIO line on platforms that ask for it ("MPRD").
    if (state->SsPhyOff == 1 && Context->Mprd == 1) {
        NTSTATUS status = SetGpioLine(Context, 0);
        if (!NT_SUCCESS(status)) {
            TraceEvents(TRACE_LEVEL_ERROR, TRACE_POWER, "%s: GPIO line low, status 0x%08X",
                        Port->PairName, status);
        }
    }
}

// The second SS port neither suspended nor looking for a device: reset it and leave the
// power-down, so that the controller sees the port again.
static VOID ResetSecondSsPort(PFILTER_EXTENSION Context, const PORT_LAYOUT* Port) {
    PVOID controller = Context->ControllerBase;
    ULONG attempts = 0;
    ULONG portsc;

    WriteRegister(controller, Port->Glue.EventStatus,
                  ReadRegister(controller, Port->Glue.EventStatus));
    ModifyRegister(controller, Port->Glue.EventEnable, GLUE_EVT_ENABLE_PORT_RESET,
                   GLUE_EVT_ENABLE_PORT_RESET);
    // Port reset set, the enabled bit written as 0 (a 1 would disable the port).
    ModifyRegister(controller, Port->SsPortsc, PORTSC_PR, PORTSC_PR | PORTSC_PED);
    portsc = ReadRegister(controller, Port->SsPortsc);
    while (attempts < PORT_RESET_POLL_ATTEMPTS && (portsc & PORTSC_PR) != 0) {
        DelayMilliseconds(1);
        ++attempts;
        portsc = ReadRegister(controller, Port->SsPortsc);
    }
    TraceEvents((portsc & PORTSC_PR) != 0 ? TRACE_LEVEL_ERROR : TRACE_LEVEL_INFORMATION,
                TRACE_POWER, "%s: SS port reset %s after %u polls", Port->PairName,
                (portsc & PORTSC_PR) != 0 ? "not complete" : "complete", attempts);
}

// Pair 1 of Multiport, when nothing is attached or its SS port is suspended. FALSE when the
// power-down was abandoned for a port reset.
static BOOLEAN MultiportPair1PowerDown(PFILTER_EXTENSION Context, const PORT_LAYOUT* Port,
                                       BOOLEAN D3Final, BOOLEAN SsSuspended) {
    PPORT_PAIR_STATE state = &Context->PortPairs[1];
    ULONG portsc = ReadRegister(Context->ControllerBase, Port->SsPortsc);

    ModifyRegister(Context->ControllerBase, GUSB3PIPECTL(Port->CoreIndex),
                   GUSB3PIPECTL_SUSPEND_ENABLE, GUSB3PIPECTL_SUSPEND_ENABLE);
    WaitForSsSuspend(Context, Port, GLUE_STATUS_SS_BUSY_MULTIPORT);
    if (!D3Final) {
        if (!SsSuspended && PortLinkState(portsc) != PORT_LINK_RX_DETECT) {
            TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_POWER,
                        "%s: SS link state %u, port reset instead of the power-down",
                        Port->PairName, PortLinkState(portsc));
            ResetSecondSsPort(Context, Port);
            return FALSE;
        }
        MultiportSsPhyLowPower(Context, Port, state, SsSuspended);
    } else {
        MultiportSsPhyD3Final(Context, Port, state);
    }
    WriteRegister(Context->ControllerBase, Port->Glue.EventStatus, GLUE_EVT_SS_DONE);
    return TRUE;
}

BOOLEAN PowerDownSsPhy(PFILTER_EXTENSION Context, WDF_POWER_DEVICE_STATE TargetState,
                       const BOOLEAN* SsSuspended, const BOOLEAN* Attached) {
    const INSTANCE_LAYOUT* layout;
    const BOOLEAN d3Final = TargetState == WdfPowerDeviceD3Final;

    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_POWER, "entry: instance %d, to %s", Context->Instance,
                DeviceStateName(TargetState));
    ClearSsPhyEvents(Context);
    if (!NT_SUCCESS(LookupInstanceLayout(Context->Instance, &layout))) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_POWER, "unknown instance %d", Context->Instance);
        TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_POWER, "exit: nothing powered down");
        return TRUE;
    }
    if (Context->Instance != INSTANCE_MULTIPORT) {
        SingleSsPhyPowerDown(Context, InstancePort(layout, 0), d3Final, SsSuspended[0]);
        TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_POWER, "exit: instance %d", Context->Instance);
        return TRUE;
    }
    // A Multiport pair with an active device keeps its SS PHY running.
    if (!Attached[0] || SsSuspended[0]) {
        MultiportPair0PowerDown(Context, InstancePort(layout, 0), d3Final, SsSuspended[0]);
    }
    if (!Attached[1] || SsSuspended[1]) {
        if (!MultiportPair1PowerDown(Context, InstancePort(layout, 1), d3Final, SsSuspended[1])) {
            TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_POWER, "exit: abandoned for a port reset");
            return FALSE;
        }
    }
    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_POWER, "exit: instance %d", Context->Instance);
    return TRUE;
}
