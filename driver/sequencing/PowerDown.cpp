// The power-down of D0 exit, instance by instance.
#include "frame/Trace.h"
#include "sequencing/PowerDown.h"
#include "sequencing/PowerEvents.h"
#include "sequencing/RegisterAccess.h"

#include "PowerDown.tmh"

constexpr UCHAR POWER_EVENT_OPCODE_STOP = 2;
constexpr ULONG GLUE_EVT_ENABLE_HS_WAKE = 0x20;    // bit 5
constexpr ULONG GLUE_EVT_ENABLE_SS_WAKE = 0x1008;  // bits 12 and 3
constexpr ULONG GLUE_EVT_ENABLE_WAKE_ALL = 0x1028; // both
constexpr ULONG GLUE_IRQ_ENABLE_WAKE = 0x1000;     // bit 12
constexpr ULONG SS_PHY_COMMON_BIT1 = 0x2;

// Port status of every pair and the three flags the steps use.
typedef struct _POWER_DOWN_PORTS {
    BOOLEAN HsSuspended[PORT_COUNT];
    BOOLEAN SsSuspended[PORT_COUNT];
    BOOLEAN Attached[PORT_COUNT];
} POWER_DOWN_PORTS;

static VOID ReadPowerDownPorts(PFILTER_EXTENSION Context, const INSTANCE_LAYOUT* Layout,
                               POWER_DOWN_PORTS* Ports) {
    RtlZeroMemory(Ports, sizeof(*Ports));
    for (ULONG pair = 0; pair < Layout->PairCount; ++pair) {
        PORT_PAIR_STATUS status = ReadPortPairStatus(Context, InstancePort(Layout, pair));
        Ports->HsSuspended[pair] = HsPortSuspended(status.HsPortsc);
        Ports->SsSuspended[pair] = SsPortSuspended(status.SsPortsc);
        Ports->Attached[pair] = PortConnected(status.HsPortsc) || PortConnected(status.SsPortsc);
    }
}

static VOID WriteBack(PVOID Block, ULONG Offset) {
    WriteRegister(Block, Offset, ReadRegister(Block, Offset));
}

// "Primary" and "Secondary" after their PHY steps.
static VOID ArmSingleWakeEvents(PFILTER_EXTENSION Context, const PORT_LAYOUT* Port) {
    PVOID controller = Context->ControllerBase;

    WriteBack(controller, Port->Glue.EventStatus);
    ModifyRegister(controller, Port->Glue.EventEnable, GLUE_EVT_ENABLE_HS_WAKE,
                   GLUE_EVT_ENABLE_HS_WAKE);
    if (Context->SsPhyFailed == 0) {
        ModifyRegister(controller, Port->Glue.EventEnable, GLUE_EVT_ENABLE_SS_WAKE,
                       GLUE_EVT_ENABLE_SS_WAKE);
    }
    WriteBack(controller, Port->Glue.IrqStatus);
    ModifyRegister(controller, GLUE_IRQ_ENABLE, GLUE_IRQ_ENABLE_WAKE, GLUE_IRQ_ENABLE_WAKE);
}

// A Multiport pair with nothing attached or a suspended port; a powered-down SS PHY cannot
// report a wake.
static VOID ArmMultiportPairWakeEvents(PFILTER_EXTENSION Context, const PORT_LAYOUT* Port,
                                       const PORT_PAIR_STATE* State) {
    PVOID controller = Context->ControllerBase;

    WriteBack(controller, Port->Glue.EventStatus);
    ModifyRegister(controller, Port->Glue.EventEnable,
                   State->SsPhyOff == 1 ? GLUE_EVT_ENABLE_HS_WAKE : GLUE_EVT_ENABLE_WAKE_ALL,
                   GLUE_EVT_ENABLE_WAKE_ALL);
    WriteBack(controller, Port->Glue.IrqStatus);
}

static NTSTATUS PowerDownSingle(PFILTER_EXTENSION Context, const INSTANCE_LAYOUT* Layout,
                                WDF_POWER_DEVICE_STATE TargetState) {
    const PORT_LAYOUT* port = InstancePort(Layout, 0);
    const BOOLEAN d3Final = TargetState == WdfPowerDeviceD3Final;
    POWER_DOWN_PORTS ports;

    ReadPowerDownPorts(Context, Layout, &ports);
    if (!SuspendHsPhy(Context, TargetState, ports.HsSuspended) && !d3Final) {
        return STATUS_UNSUCCESSFUL;
    }
    if (Context->SsPhyFailed == 0 &&
        !PowerDownSsPhy(Context, TargetState, ports.SsSuspended, ports.Attached)) {
        return STATUS_SUCCESS;
    }
    if (!d3Final) {
        ArmSingleWakeEvents(Context, port);
    } else {
        ModifyRegister(Context->PhyBase, port->SsPhyCommon, 0x0, SS_PHY_COMMON_BIT1);
        TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_POWER, "%s: SS PHY common part bit 1 cleared",
                    port->PairName);
    }
    Context->PoweredDown = 1;
    return STATUS_SUCCESS;
}

// Every target state, D3Final included, arms the wrapper's events of the pairs that may
// wake; the Multiport PHYs have no common part.
static NTSTATUS PowerDownMultiport(PFILTER_EXTENSION Context, const INSTANCE_LAYOUT* Layout,
                                   WDF_POWER_DEVICE_STATE TargetState) {
    const BOOLEAN d3Final = TargetState == WdfPowerDeviceD3Final;
    POWER_DOWN_PORTS ports;

    ReadPowerDownPorts(Context, Layout, &ports);
    if (!SuspendHsPhy(Context, TargetState, ports.HsSuspended) && !d3Final) {
        return STATUS_UNSUCCESSFUL;
    }
    if (Context->SsPhyFailed == 0 &&
        !PowerDownSsPhy(Context, TargetState, ports.SsSuspended, ports.Attached)) {
        TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_POWER, "power-down left for a port reset");
        return STATUS_SUCCESS;
    }
    for (ULONG pair = 0; pair < Layout->PairCount; ++pair) {
        if (!ports.Attached[pair] || ports.HsSuspended[pair] || ports.SsSuspended[pair]) {
            ArmMultiportPairWakeEvents(Context, InstancePort(Layout, pair),
                                       &Context->PortPairs[pair]);
        }
    }
    ModifyRegister(Context->ControllerBase, GLUE_IRQ_ENABLE, GLUE_IRQ_ENABLE_WAKE,
                   GLUE_IRQ_ENABLE_WAKE);
    Context->PoweredDown = 1;
    return STATUS_SUCCESS;
}

NTSTATUS PowerDownController(PFILTER_EXTENSION Context, WDF_POWER_DEVICE_STATE TargetState) {
    const INSTANCE_LAYOUT* layout;
    NTSTATUS status;

    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_POWER, "entry: instance %d, to %s", Context->Instance,
                DeviceStateName(TargetState));
    ReportPortStates(Context, TargetState);
    if (!CheckPortsIdle(Context)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_POWER, "instance %d: ports busy going to %s",
                    Context->Instance, DeviceStateName(TargetState));
    }
    WritePowerEvent(3, POWER_EVENT_OPCODE_STOP, NULL, 0);

    status = LookupInstanceLayout(Context->Instance, &layout);
    if (!NT_SUCCESS(status)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_POWER, "unknown instance %d: status 0x%08X",
                    Context->Instance, status);
    } else if (Context->Instance == INSTANCE_MULTIPORT) {
        status = PowerDownMultiport(Context, layout, TargetState);
    } else {
        status = PowerDownSingle(Context, layout, TargetState);
    }
    if (!NT_SUCCESS(status)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_POWER, "instance %d to %s: status 0x%08X",
                    Context->Instance, DeviceStateName(TargetState), status);
    }
    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_POWER, "exit: instance %d, status 0x%08X, %s",
                Context->Instance, status,
                Context->PoweredDown ? "powered down" : "not powered down");
    return status;
}
