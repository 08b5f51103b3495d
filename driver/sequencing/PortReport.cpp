// Port status for the power sequences: the flags derived from PORTSC and the diagnostics that
// report every pair before a power-down.
#include "frame/Trace.h"
#include "phy/HsPhy.h"
#include "sequencing/PowerDown.h"
#include "sequencing/RegisterAccess.h"

#include "PortReport.tmh"

static const PCSTR SPEED_NAMES[] = {
    "UndefSpeed",     // 0
    "FullSpeed",      // 1
    "LowSpeed",       // 2
    "HighSpeed",      // 3
    "SuperSpeed",     // 4
    "SuperSpeedPlus", // 5
};

static const PCSTR DEVICE_STATE_NAMES[] = {
    "Invalid", "D0", "D1", "D2", "D3", "D3Final", "PrepareForHibernation", "Maximum",
};

PCSTR PortSpeedName(ULONG Speed) {
    return Speed < ARRAYSIZE(SPEED_NAMES) ? SPEED_NAMES[Speed] : "Reserved";
}

PCSTR DeviceStateName(WDF_POWER_DEVICE_STATE State) {
    ULONG index = static_cast<ULONG>(State);
    return index < ARRAYSIZE(DEVICE_STATE_NAMES) ? DEVICE_STATE_NAMES[index] : "Unknown";
}

BOOLEAN HsPortSuspended(ULONG Portsc) {
    ULONG link = PortLinkState(Portsc);
    return PortConnected(Portsc) && (link == PORT_LINK_U3 || link == PORT_LINK_POLLING);
}

BOOLEAN SsPortSuspended(ULONG Portsc) {
    return PortConnected(Portsc) && PortLinkState(Portsc) == PORT_LINK_U3;
}

// The HS port first, then the SS port.
PORT_PAIR_STATUS ReadPortPairStatus(PFILTER_EXTENSION Context, const PORT_LAYOUT* Port) {
    PORT_PAIR_STATUS status;
    status.HsPortsc = ReadRegister(Context->ControllerBase, Port->HsPortsc);
    status.SsPortsc = ReadRegister(Context->ControllerBase, Port->SsPortsc);
    return status;
}

static BOOLEAN PairSuspended(const PORT_PAIR_STATUS* Status) {
    return HsPortSuspended(Status->HsPortsc) || SsPortSuspended(Status->SsPortsc);
}

static BOOLEAN PairBusy(const PORT_PAIR_STATUS* Status) {
    BOOLEAN attached = PortConnected(Status->HsPortsc) || PortConnected(Status->SsPortsc);
    return attached && !PairSuspended(Status);
}

VOID ReportPortStates(PFILTER_EXTENSION Context, WDF_POWER_DEVICE_STATE TargetState) {
    const INSTANCE_LAYOUT* layout;

    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_POWER, "entry: instance %d, to %s", Context->Instance,
                DeviceStateName(TargetState));
    if (!NT_SUCCESS(LookupInstanceLayout(Context->Instance, &layout))) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_POWER, "unknown instance %d", Context->Instance);
        TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_POWER, "exit: no ports");
        return;
    }
    for (ULONG pair = 0; pair < layout->PairCount; ++pair) {
        const PORT_LAYOUT* port = InstancePort(layout, pair);
        PORT_PAIR_STATUS status = ReadPortPairStatus(Context, port);

        TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_POWER, "%s: HS link %u %s, SS link %u %s, %s",
                    port->PairName, PortLinkState(status.HsPortsc),
                    PortSpeedName(PortSpeed(status.HsPortsc)), PortLinkState(status.SsPortsc),
                    PortSpeedName(PortSpeed(status.SsPortsc)),
                    PairSuspended(&status) ? "suspended" : "not suspended");

        // The second Multiport HS port left in Resume loses its PHY settings: program it again
        // before the power-down suspends it.
        if (Context->Instance == INSTANCE_MULTIPORT && pair == 1 && !PairSuspended(&status) &&
            TargetState != WdfPowerDeviceD3Final &&
            PortLinkState(status.HsPortsc) == PORT_LINK_RESUME) {
            HsPhyInitPort(3, Context->ControllerBase, Context->ClockResetBase, Context->PhyBase,
                          Context->PhyOverrides);
            TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_POWER,
                        "%s: HS port in Resume, HS PHY 3 programmed again", port->PairName);
        }
    }
    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_POWER, "exit: instance %d", Context->Instance);
}

BOOLEAN CheckPortsIdle(PFILTER_EXTENSION Context) {
    const INSTANCE_LAYOUT* layout;
    ULONG busy = 0;
    BOOLEAN idle;

    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_POWER, "entry: instance %d", Context->Instance);
    if (!NT_SUCCESS(LookupInstanceLayout(Context->Instance, &layout))) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_POWER, "unknown instance %d", Context->Instance);
        TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_POWER, "exit: idle");
        return TRUE;
    }
    for (ULONG pair = 0; pair < layout->PairCount; ++pair) {
        PORT_PAIR_STATUS status = ReadPortPairStatus(Context, InstancePort(layout, pair));
        busy += PairBusy(&status) ? 1 : 0;
    }
    // Multiport is busy only when both of its pairs are.
    idle = busy < layout->PairCount;
    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_POWER, "exit: %u of %u pairs busy, %s", busy,
                layout->PairCount, idle ? "idle" : "busy");
    return idle;
}

VOID ReportPortAttachment(PFILTER_EXTENSION Context) {
    const INSTANCE_LAYOUT* layout;

    if (!NT_SUCCESS(LookupInstanceLayout(Context->Instance, &layout))) {
        return;
    }
    for (ULONG pair = 0; pair < layout->PairCount; ++pair) {
        const PORT_LAYOUT* port = InstancePort(layout, pair);
        PORT_PAIR_STATUS status = ReadPortPairStatus(Context, port);

        TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_POWER, "%s: HS link %u %s, SS link %u %s, %s",
                    port->PairName, PortLinkState(status.HsPortsc),
                    PortSpeedName(PortSpeed(status.HsPortsc)), PortLinkState(status.SsPortsc),
                    PortSpeedName(PortSpeed(status.SsPortsc)),
                    PortConnected(status.HsPortsc) || PortConnected(status.SsPortsc)
                        ? "attached"
                        : "nothing attached");
    }
}
