// D0 entry and D0 exit. The power-up and power-down sequences build on the register
// primitives; until they are in place the callbacks only check their context.
#include "frame/Driver.h"

#include "PowerTransitions.tmh"

_Use_decl_annotations_ NTSTATUS EvtDeviceD0Entry(WDFDEVICE Device,
                                                 WDF_POWER_DEVICE_STATE PreviousState) {
    PFILTER_EXTENSION extension = GetFilterExtension(Device);

    if (extension == NULL) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_POWER, "no device context");
        return STATUS_SUCCESS;
    }
    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_POWER, "from D-state %d", PreviousState);
    return STATUS_SUCCESS;
}

_Use_decl_annotations_ NTSTATUS EvtDeviceD0Exit(WDFDEVICE Device,
                                                WDF_POWER_DEVICE_STATE TargetState) {
    PFILTER_EXTENSION extension = GetFilterExtension(Device);

    if (extension == NULL) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_POWER, "no device context");
        return STATUS_SUCCESS;
    }
    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_POWER, "to D-state %d, system power action %d",
                TargetState, WdfDeviceGetSystemPowerAction(Device));
    return STATUS_SUCCESS;
}
