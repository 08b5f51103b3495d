// Power events.
#include "sequencing/PowerEvents.h"
#include "frame/EventProvider.h"
#include "frame/Trace.h"

#include <evntrace.h>

#include "PowerEvents.tmh"

// The longest payload any power event carries.
constexpr ULONG POWER_EVENT_MAX_VALUES = 3;

VOID WritePowerEvent(USHORT Id, UCHAR Opcode, const ULONG* Values, ULONG Count) {
    EVENT_DESCRIPTOR descriptor;
    EVENT_DATA_DESCRIPTOR data[POWER_EVENT_MAX_VALUES];

    if (!EventProviderEnabled()) {
        return;
    }
    if (Count > POWER_EVENT_MAX_VALUES || (Count != 0 && Values == NULL)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_POWER, "power event %u with %u values not written", Id,
                    Count);
        return;
    }
    EventDescCreate(&descriptor, Id, 0, 0, TRACE_LEVEL_INFORMATION, 0, Opcode, 0);
    for (ULONG i = 0; i < Count; ++i) {
        EventDataDescCreate(&data[i], &Values[i], sizeof(ULONG));
    }
    NTSTATUS status = EtwWriteTransfer(PelvaneEventProvider.RegHandle, &descriptor, NULL, NULL,
                                       Count, Count != 0 ? data : NULL);
    if (!NT_SUCCESS(status)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_POWER, "power event %u: status 0x%08X", Id, status);
    }
}
