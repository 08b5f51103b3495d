// TEMPORARY stand-ins for routines of the driver frame and the firmware settings, so that the
// power sequences link before those land. Delete with PendingStubs.h.
#include "sequencing/PendingStubs.h"
#include "frame/Trace.h"

#include "PendingStubs.tmh"

NTSTATUS SetGpioLine(PFILTER_EXTENSION Context, UCHAR Value) {
    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_ACPI, "pending: GPIO line %u", Value);
    return Context->GpioTarget != NULL ? STATUS_SUCCESS : STATUS_INVALID_DEVICE_STATE;
}

WDFIOTARGET OpenGpioTarget(WDFDEVICE Device) {
    UNREFERENCED_PARAMETER(Device);
    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_HARDWARE, "pending: GPIO target");
    return NULL;
}

NTSTATUS RegisterWakeLineArrival(PFILTER_EXTENSION Context) {
    if (Context == NULL) {
        return STATUS_INVALID_PARAMETER;
    }
    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_WAKE, "pending: wake-line registration");
    return STATUS_SUCCESS;
}

BOOLEAN WakeInterfaceIsReady(PFILTER_EXTENSION Context) {
    return __atomic_load_n(&Context->WakeInterfaceReady, __ATOMIC_ACQUIRE) == 1;
}
