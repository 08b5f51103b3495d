// Events pending in the super-speed PHYs, cleared before a power-down and on resume.
#include "frame/Trace.h"
#include "sequencing/PowerDown.h"
#include "sequencing/RegisterAccess.h"

#include "SsPhyEvents.tmh"

constexpr ULONG SS_PHY_EVENT_BUSY = 0x4;      // bit 2
constexpr ULONG SS_PHY_EVENTS_PENDING = 0x3;  // bits 1:0
constexpr ULONG SS_PHY_EVENT_BUSY_POLLS = 10; // 100 us sleeps
constexpr ULONG SS_PHY_EVENT_PASSES = 10;

// Neither bound is a failure: after the last pass the sequence goes on.
static VOID ClearPhyEvents(PVOID PhyBlock, const PORT_LAYOUT* Port) {
    ULONG passes = 0;
    ULONG status;

    do {
        ULONG polls = 0;
        do {
            status = ReadRegister(PhyBlock, Port->SsPhyEventStatus);
            DelayMicroseconds(100);
            ++polls;
        } while ((status & SS_PHY_EVENT_BUSY) != 0 && polls < SS_PHY_EVENT_BUSY_POLLS);
        WriteRegister(PhyBlock, Port->SsPhyEventClear, 1);
        DelayMicroseconds(100);
        WriteRegister(PhyBlock, Port->SsPhyEventClear, 0);
        status = ReadRegister(PhyBlock, Port->SsPhyEventStatus);
        ++passes;
    } while ((status & SS_PHY_EVENTS_PENDING) != 0 && passes < SS_PHY_EVENT_PASSES);
    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_POWER, "%s: SS PHY events after %u passes: 0x%X",
                Port->PairName, passes, status & SS_PHY_EVENTS_PENDING);
}

VOID ClearSsPhyEvents(PFILTER_EXTENSION Context) {
    const INSTANCE_LAYOUT* layout;

    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_POWER, "entry: instance %d", Context->Instance);
    if (!NT_SUCCESS(LookupInstanceLayout(Context->Instance, &layout))) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_POWER, "unknown instance %d", Context->Instance);
        TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_POWER, "exit: no PHY");
        return;
    }
    for (ULONG pair = 0; pair < layout->PairCount; ++pair) {
        ClearPhyEvents(Context->PhyBase, InstancePort(layout, pair));
    }
    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_POWER, "exit: instance %d", Context->Instance);
}
