// The firmware's PHY overrides, applied pass by pass.
#include "phy/PhyOverrides.h"
#include "frame/Trace.h"
#include "phy/PhyOverride.h"
#include "sequencing/PortLayout.h"
#include "sequencing/RegisterAccess.h"
#include "sequencing/RegisterMap.h"

#include "PhyOverrides.tmh"

// The controller-block registers that a super-speed pass accepts.
constexpr ULONG CONTROLLER_OVERRIDE_FIRST = 0xD060;
constexpr ULONG CONTROLLER_OVERRIDE_LAST = 0xD06C;

static BOOLEAN ReadOverride(WDFOBJECT Item, PHY_OVERRIDE* Record) {
    SIZE_T size = 0;
    PVOID buffer = WdfMemoryGetBuffer(static_cast<WDFMEMORY>(Item), &size);

    if (buffer == NULL || size < sizeof(PHY_OVERRIDE)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_PHY, "override record of %u bytes skipped",
                    static_cast<ULONG>(size));
        return FALSE;
    }
    RtlCopyMemory(Record, buffer, sizeof(PHY_OVERRIDE));
    return TRUE;
}

static BOOLEAN InPhyBlock(ULONG Address) {
    return Address >= PHY_PHYSICAL_BASE && Address < PHY_PHYSICAL_BASE + PHY_LENGTH;
}

// The controller-block offset that a super-speed pass of Instance writes the record to, or 0.
static ULONG ControllerOverrideOffset(LONG Instance, ULONG Address) {
    const INSTANCE_LAYOUT* layout;

    if (!NT_SUCCESS(LookupInstanceLayout(Instance, &layout)) ||
        Address < layout->ControllerPhysical) {
        return 0;
    }
    ULONG offset = Address - layout->ControllerPhysical;
    if (offset < CONTROLLER_OVERRIDE_FIRST || offset > CONTROLLER_OVERRIDE_LAST) {
        return 0;
    }
    return offset;
}

static VOID ApplyOverride(LONG Instance, PVOID ControllerBlock, PVOID PhyBlock,
                          const PHY_OVERRIDE* Record, ULONG WindowStart, ULONG WindowEnd,
                          ULONG Phase) {
    ULONG address = Record->Address;

    // Firmware data: only register writes, only whole aligned registers.
    if (Record->Kind != PHY_OVERRIDE_KIND_REGISTER_WRITE || (address & 0x3) != 0) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_PHY, "override kind %u at 0x%08X skipped",
                    Record->Kind, address);
        return;
    }
    if (InPhyBlock(address)) {
        if (address >= WindowStart && address < WindowEnd) {
            TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_PHY, "override 0x%08X := 0x%08X", address,
                        Record->Value);
            WriteRegister(PhyBlock, address - static_cast<ULONG>(PHY_PHYSICAL_BASE), Record->Value);
        }
        return;
    }
    if (Phase != PHY_OVERRIDE_PHASE_SS) {
        return;
    }
    ULONG offset = ControllerOverrideOffset(Instance, address);
    if (offset != 0) {
        TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_PHY, "controller override 0x%08X := 0x%08X",
                    address, Record->Value);
        WriteRegister(ControllerBlock, offset, Record->Value);
    }
}

NTSTATUS PhyApplyOverrides(LONG Instance, PVOID ControllerBlock, PVOID PhyBlock,
                           WDFCOLLECTION Overrides, ULONG WindowStart, ULONG WindowEnd,
                           ULONG Phase) {
    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_PHY, "window 0x%08X-0x%08X, phase %u", WindowStart,
                WindowEnd, Phase);
    if (Overrides == NULL) {
        return STATUS_SUCCESS;
    }
    // An 8-bit walk: it ends at the first missing item or after the last index it can hold.
    for (UCHAR i = 0; i < PHY_OVERRIDE_MAX_RECORDS; ++i) {
        WDFOBJECT item = WdfCollectionGetItem(Overrides, i);
        PHY_OVERRIDE record;

        if (item == NULL) {
            break;
        }
        if (ReadOverride(item, &record)) {
            ApplyOverride(Instance, ControllerBlock, PhyBlock, &record, WindowStart, WindowEnd,
                          Phase);
        }
    }
    return STATUS_SUCCESS;
}
