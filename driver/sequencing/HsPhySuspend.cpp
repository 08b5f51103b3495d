// High-speed part of the power-down: each HS PHY put to suspend, pulsed when a suspended
// device may wake the system through it, and reset at D3Final.
#include "frame/Trace.h"
#include "sequencing/PowerDown.h"
#include "sequencing/RegisterAccess.h"

#include "HsPhySuspend.tmh"

// Status polls: 10 us busy-waits, at most this many.
constexpr ULONG GLUE_STATUS_POLL_ATTEMPTS = 300;
constexpr ULONG GLUE_STATUS_HS_SUSPENDED_BUSY = 0x10; // bit 4
constexpr ULONG GLUE_EVT_HS_WAKE = 0x30;              // bits 5:4
constexpr ULONG GLUE_EVT_ENABLE_HS_WAKE = 0x20;       // bit 5
constexpr ULONG HS_PHY_CONTROL_PULSE = 0x1;           // bit 0

constexpr ULONG WAKE_MODE_NONE = 0;
constexpr ULONG WAKE_MODE_IDLE = 1;
constexpr ULONG WAKE_MODE_SUSPENDED = 2;

// TRUE when the pair's glue status confirmed the suspend within the bound.
static BOOLEAN WaitForHsSuspend(PFILTER_EXTENSION Context, const PORT_LAYOUT* Port) {
    ULONG attempts = 0;

    while ((ReadRegister(Context->ControllerBase, Port->Glue.Status) &
            GLUE_STATUS_HS_SUSPENDED_BUSY) != 0) {
        if (attempts == GLUE_STATUS_POLL_ATTEMPTS) {
            return FALSE;
        }
        StallMicroseconds(10);
        ++attempts;
    }
    return TRUE;
}

// A suspended device keeps its wake path: the wrapper's HS wake events and a pulse of the
// PHY's control bit.
static VOID ArmHsWake(PFILTER_EXTENSION Context, const PORT_LAYOUT* Port) {
    ModifyRegister(Context->ControllerBase, Port->Glue.EventStatus, GLUE_EVT_HS_WAKE,
                   GLUE_EVT_HS_WAKE);
    if (Context->Instance == INSTANCE_PRIMARY) {
        // Only the "Primary" wrapper needs its HS wake event enabled here.
        ModifyRegister(Context->ControllerBase, Port->Glue.EventEnable, GLUE_EVT_ENABLE_HS_WAKE,
                       GLUE_EVT_ENABLE_HS_WAKE);
    }
    ModifyRegister(Context->PhyBase, Port->HsPhyControl, HS_PHY_CONTROL_PULSE,
                   HS_PHY_CONTROL_PULSE);
    StallMicroseconds(100);
    ModifyRegister(Context->PhyBase, Port->HsPhyControl, 0x0, HS_PHY_CONTROL_PULSE);
}

// D3Final: the HS PHY resets, as each port needs them. The first Multiport port is reset
// together with the second.
static VOID ResetHsPhyForD3Final(PFILTER_EXTENSION Context, ULONG PortNumber) {
    PVOID clockReset = Context->ClockResetBase;

    switch (PortNumber) {
    case 0:
        ModifyRegister(clockReset, HsPhyResetOffset(0), 0x1, 0x1);
        StallMicroseconds(100);
        ModifyRegister(clockReset, HsPhyResetOffset(0), 0x0, 0x1);
        break;
    case 1:
        ModifyRegister(clockReset, HsPhyResetOffset(1), 0x1, 0x1);
        StallMicroseconds(100);
        ModifyRegister(clockReset, HsPhyResetOffset(1), 0x0, 0x1);
        StallMicroseconds(100);
        break;
    case 2:
        break;
    case 3:
        ModifyRegister(clockReset, HsPhyResetOffset(2), 0x1, 0x1);
        ModifyRegister(clockReset, HsPhyResetOffset(3), 0x1, 0x1);
        StallMicroseconds(100);
        ModifyRegister(clockReset, HsPhyResetOffset(2), 0x0, 0x1);
        ModifyRegister(clockReset, HsPhyResetOffset(3), 0x0, 0x1);
        break;
    default:
        break;
    }
}

BOOLEAN SuspendHsPhy(PFILTER_EXTENSION Context, WDF_POWER_DEVICE_STATE TargetState,
                     const BOOLEAN* HsSuspended) {
    const INSTANCE_LAYOUT* layout;
    const BOOLEAN d3Final = TargetState == WdfPowerDeviceD3Final;

    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_POWER, "entry: instance %d, to %s", Context->Instance,
                DeviceStateName(TargetState));
    if (!NT_SUCCESS(LookupInstanceLayout(Context->Instance, &layout))) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_POWER, "unknown instance %d", Context->Instance);
        TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_POWER, "exit: nothing suspended");
        return TRUE;
    }
    for (ULONG pair = 0; pair < layout->PairCount; ++pair) {
        const PORT_LAYOUT* port = InstancePort(layout, pair);
        PPORT_PAIR_STATE state = &Context->PortPairs[pair];

        ModifyRegister(Context->ControllerBase, GUSB2PHYCFG(port->CoreIndex),
                       GUSB2PHYCFG_SUSPEND_ENABLE, GUSB2PHYCFG_SUSPEND_ENABLE);
        if (!WaitForHsSuspend(Context, port)) {
            TraceEvents(TRACE_LEVEL_ERROR, TRACE_POWER,
                        "%s: HS PHY suspend not confirmed after %u polls, to %s", port->PairName,
                        GLUE_STATUS_POLL_ATTEMPTS, DeviceStateName(TargetState));
            if (Context->Instance != INSTANCE_MULTIPORT && !d3Final) {
                TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_POWER, "exit: HS PHY not suspended");
                return FALSE;
            }
        }
        if (HsSuspended[pair]) {
            ArmHsWake(Context, port);
            state->LineBMode = WAKE_MODE_SUSPENDED;
            state->LineAMode = WAKE_MODE_SUSPENDED;
            state->HsWakeArmed = 1;
        } else {
            state->LineBMode = WAKE_MODE_IDLE;
            state->LineAMode = WAKE_MODE_IDLE;
        }
        if (d3Final) {
            ResetHsPhyForD3Final(Context, PortNumber(Context->Instance, pair));
            state->LineBMode = WAKE_MODE_NONE;
            state->LineAMode = WAKE_MODE_NONE;
        }
    }

    // The service may be bound or unbound at any moment: it is asked for all pairs or none,
    // and not at all while none is bound.
    if (!d3Final) {
        RequestWakeLines(Context);
    }
    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_POWER, "exit: instance %d suspended", Context->Instance);
    return TRUE;
}
