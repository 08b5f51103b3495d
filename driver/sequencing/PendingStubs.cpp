// TEMPORARY stand-ins for routines of the driver frame and the firmware settings, so that the
// power sequences link before those land. Delete with PendingStubs.h.
#include "sequencing/PendingStubs.h"
#include "frame/Trace.h"

#include "PendingStubs.tmh"

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
