// The register table writer.
#include "phy/RegisterTable.h"
#include "frame/Trace.h"
#include "sequencing/RegisterAccess.h"

#include "RegisterTable.tmh"

VOID PhyWriteTable(PVOID Block, const ULONG* Offsets, const UCHAR* Values, ULONG Start,
                   ULONG Count) {
    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_PHY, "entry: rows %u to %u", Start, Count);
    if (Offsets == NULL || Values == NULL || Count == 0) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_PHY, "no table to write (count %u)", Count);
        return;
    }
    for (ULONG i = Start; i < Count; ++i) {
        if (Offsets[i] == PHY_TABLE_END) {
            break;
        }
        if (Offsets[i] == PHY_TABLE_SKIP) {
            continue;
        }
        WriteRegister(Block, Offsets[i], Values[i]);
    }
    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_PHY, "exit");
}
