// The SoC version: the DSDT names the SoC information record, which holds it. The look-up runs
// once per driver load; every instance gets its result. Two instances may look it up at the
// same time; both store the same value.
#include <ntddk.h>
#include <aux_klib.h>

#include "frame/HardwareResources.h"
#include "frame/PoolTag.h"
#include "frame/SocInfoRecord.h"
#include "frame/Trace.h"

#include "SocVersion.tmh"

constexpr ULONG ACPI_TABLE_PROVIDER = 0x41435049; // 'ACPI'
constexpr ULONG DSDT_TABLE_ID = 0x54445344;       // 'TDSD'

static volatile LONG SocVersionLookedUp;
static volatile LONG SocVersionValue;

VOID ForgetSocVersion(VOID) {
    WriteNoFence(&SocVersionValue, 0);
    WriteRelease(&SocVersionLookedUp, 0);
}

// Maps the record read-only, first its fixed part for the counts, then its whole length.
static ULONG ReadSocInfoVersion(_In_ ULONGLONG Address) {
    PHYSICAL_ADDRESS physical;
    ULONG length;
    BOOLEAN sane;

    physical.QuadPart = static_cast<LONGLONG>(Address);
    const UCHAR* fixed =
        static_cast<const UCHAR*>(MmMapIoSpaceEx(physical, SOC_INFO_FIXED_LENGTH, PAGE_READONLY));
    if (fixed == NULL) {
        TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_HARDWARE, "SoC information record not mapped");
        return 0;
    }
    sane = GetSocInfoRecordLength(fixed, SOC_INFO_FIXED_LENGTH, &length);
    MmUnmapIoSpace(const_cast<UCHAR*>(fixed), SOC_INFO_FIXED_LENGTH);
    if (!sane) {
        TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_HARDWARE, "SoC information counts out of range");
        return 0;
    }

    const UCHAR* record =
        static_cast<const UCHAR*>(MmMapIoSpaceEx(physical, length, PAGE_READONLY));
    if (record == NULL) {
        TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_HARDWARE,
                    "SoC information record of %u bytes not mapped", length);
        return 0;
    }
    ULONG version = GetSocInfoVersion(record, length);
    MmUnmapIoSpace(const_cast<UCHAR*>(record), length);
    return version;
}

static ULONG LookUpSocVersion(VOID) {
    ULONG size = 0;
    ULONG returned = 0;
    ULONGLONG address;
    BOOLEAN found;

    NTSTATUS status = AuxKlibInitialize();
    if (!NT_SUCCESS(status)) {
        TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_HARDWARE, "AuxKlibInitialize status 0x%08X", status);
        return 0;
    }
    status = AuxKlibGetSystemFirmwareTable(ACPI_TABLE_PROVIDER, DSDT_TABLE_ID, NULL, 0, &size);
    if (status != STATUS_BUFFER_TOO_SMALL || size == 0) {
        TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_HARDWARE, "DSDT size query status 0x%08X", status);
        return 0;
    }
    PUCHAR table = static_cast<PUCHAR>(ExAllocatePool2(POOL_FLAG_PAGED, size, PELVANE_POOL_TAG));
    if (table == NULL) {
        TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_HARDWARE, "no pool for a DSDT of %u bytes", size);
        return 0;
    }
    status =
        AuxKlibGetSystemFirmwareTable(ACPI_TABLE_PROVIDER, DSDT_TABLE_ID, table, size, &returned);
    found = NT_SUCCESS(status) &&
            FindSocInfoAddress(table, returned < size ? returned : size, &address);
    ExFreePoolWithTag(table, PELVANE_POOL_TAG);
    if (!found) {
        TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_HARDWARE, "no SoC information in the DSDT");
        return 0;
    }
    return ReadSocInfoVersion(address);
}

ULONG GetSocVersion(VOID) {
    ULONG version;

    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_HARDWARE, "entry");
    if (ReadAcquire(&SocVersionLookedUp) != 0) {
        version = static_cast<ULONG>(ReadNoFence(&SocVersionValue));
        TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_HARDWARE, "exit, version 0x%08X looked up before",
                    version);
        return version;
    }
    version = LookUpSocVersion();
    WriteNoFence(&SocVersionValue, static_cast<LONG>(version));
    WriteRelease(&SocVersionLookedUp, 1);
    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_HARDWARE, "exit, version 0x%08X", version);
    return version;
}
