// Requests to the platform's wake-line service at power-down.
#include "frame/Trace.h"
#include "frame/WakeLineArrival.h"
#include "sequencing/PowerDown.h"

#include "WakeLineRequests.tmh"

// The constant second member of every request.
constexpr ULONG WAKE_LINE_ENABLE = 1;

static VOID SendWakeLineRequests(PFILTER_EXTENSION Context);

static NTSTATUS ConfigureLine(PFILTER_EXTENSION Context, ULONG Line, ULONG Mode) {
    WAKE_LINE_REQUEST request;

    request.LineNumber = Line;
    request.Enable = WAKE_LINE_ENABLE;
    request.Mode = Mode;
    return Context->WakeLineInterface.ConfigureWakeLine(request);
}

VOID RequestWakeLines(PFILTER_EXTENSION Context) {
    // The service may be unbound at any moment: the calls hold run-down protection, which
    // unbinding waits for, and are made only while the interface is ready.
    if (!ExAcquireRundownProtection(&Context->WakeLineRundown)) {
        return;
    }
    if (WakeInterfaceIsReady(Context)) {
        SendWakeLineRequests(Context);
    }
    ExReleaseRundownProtection(&Context->WakeLineRundown);
}

static VOID SendWakeLineRequests(PFILTER_EXTENSION Context) {
    const INSTANCE_LAYOUT* layout;
    NTSTATUS status;

    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_WAKE, "entry: instance %d", Context->Instance);
    if (!NT_SUCCESS(LookupInstanceLayout(Context->Instance, &layout))) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_WAKE, "unknown instance %d", Context->Instance);
        TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_WAKE, "exit: no request");
        return;
    }
    if (Context->WakeLineInterface.ConfigureWakeLine == NULL) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_WAKE, "the service's interface has no routine");
        TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_WAKE, "exit: no request");
        return;
    }
    for (ULONG pair = 0; pair < Context->PortPairCount && pair < layout->PairCount; ++pair) {
        const PORT_LAYOUT* port = InstancePort(layout, pair);
        const PORT_PAIR_STATE* state = &Context->PortPairs[pair];

        status = ConfigureLine(Context, port->WakeLineB, state->LineBMode);
        if (!NT_SUCCESS(status)) {
            TraceEvents(TRACE_LEVEL_ERROR, TRACE_WAKE, "%s: line 0x%X mode %u, status 0x%08X",
                        port->PairName, port->WakeLineB, state->LineBMode, status);
        }
        status = ConfigureLine(Context, port->WakeLineA, state->LineAMode);
        if (!NT_SUCCESS(status)) {
            TraceEvents(TRACE_LEVEL_ERROR, TRACE_WAKE, "%s: line 0x%X mode %u, status 0x%08X",
                        port->PairName, port->WakeLineA, state->LineAMode, status);
        }
    }
    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_WAKE, "exit: instance %d", Context->Instance);
}
