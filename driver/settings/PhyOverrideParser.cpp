// The override records in an evaluation output. The walk trusts no length the firmware
// states: each argument's header and then its whole extent must lie inside the bytes that the
// request returned, and each element inside what is left of its package.
#include "settings/FirmwareSettings.h"

#include "frame/PoolTag.h"
#include "frame/Trace.h"
#include "phy/PhyOverride.h"
#include "settings/AcpiOutputCursor.h"

#include "PhyOverrideParser.tmh"

namespace {

// The three integers of a package, in the order of the record's fields. Returns
// STATUS_ACPI_INVALID_DATA for anything but exactly three integers filling the package.
NTSTATUS ReadPackageIntegers(_In_ const UCHAR* Elements, _In_ ULONG Remaining,
                             _Out_ ULONG Values[3]) {
    ULONG count = 0;
    ULONG offset = 0;
    USHORT type;
    USHORT dataLength;
    ULONG extent;

    while (Remaining != 0) {
        if (Remaining < ACPI_ARGUMENT_HEADER_SIZE) {
            TraceEvents(TRACE_LEVEL_ERROR, TRACE_ACPI, "element %u: header outside its package",
                        count);
            return STATUS_ACPI_INVALID_DATA;
        }
        AcpiReadArgumentHeader(Elements + offset, &type, &dataLength);
        if (type != ACPI_METHOD_ARGUMENT_INTEGER) {
            TraceEvents(TRACE_LEVEL_ERROR, TRACE_ACPI, "element %u: type %u, not an integer", count,
                        type);
            return STATUS_ACPI_INVALID_DATA;
        }
        if (count == 3) {
            TraceEvents(TRACE_LEVEL_ERROR, TRACE_ACPI, "package holds more than three integers");
            return STATUS_ACPI_INVALID_DATA;
        }
        extent = ACPI_METHOD_ARGUMENT_LENGTH(dataLength);
        if (extent > Remaining) {
            TraceEvents(TRACE_LEVEL_ERROR, TRACE_ACPI,
                        "element %u: %u bytes, %u left in its package", count, extent, Remaining);
            return STATUS_ACPI_INVALID_DATA;
        }
        Values[count] = AcpiReadUlong(Elements + offset + ACPI_ARGUMENT_HEADER_SIZE);
        count++;
        Remaining -= extent;
        offset += extent;
    }
    if (count != 3) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_ACPI, "package holds %u integers, not three", count);
        return STATUS_ACPI_INVALID_DATA;
    }
    return STATUS_SUCCESS;
}

} // namespace

_Use_decl_annotations_ NTSTATUS ParsePhyOverridePackage(WDFDEVICE Device,
                                                        PACPI_METHOD_ARGUMENT Package,
                                                        ULONG Available) {
    PFILTER_EXTENSION extension = GetFilterExtension(Device);
    const UCHAR* package = reinterpret_cast<const UCHAR*>(Package);
    WDF_OBJECT_ATTRIBUTES attributes;
    WDFMEMORY memory;
    PHY_OVERRIDE record;
    PVOID buffer;
    ULONG values[3];
    USHORT type;
    USHORT dataLength;
    NTSTATUS status;

    if (extension == NULL) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_ACPI, "no device context");
        return STATUS_INVALID_PARAMETER;
    }

    WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
    attributes.ParentObject = Device;
    // The PHY programming of D0 entry reads the records; the resume from hibernation adds them.
    status = WdfMemoryCreate(&attributes, NonPagedPoolNx, PELVANE_POOL_TAG, sizeof(PHY_OVERRIDE),
                             &memory, &buffer);
    if (!NT_SUCCESS(status)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_ACPI, "WdfMemoryCreate failed, status 0x%08X", status);
        return status;
    }

    if (Available < ACPI_ARGUMENT_HEADER_SIZE) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_ACPI, "package header outside the output");
        status = STATUS_ACPI_INVALID_DATA;
    } else {
        AcpiReadArgumentHeader(package, &type, &dataLength);
        if (dataLength > Available - ACPI_ARGUMENT_HEADER_SIZE) {
            TraceEvents(TRACE_LEVEL_ERROR, TRACE_ACPI, "package of %u bytes, %u in the output",
                        dataLength, Available - ACPI_ARGUMENT_HEADER_SIZE);
            status = STATUS_ACPI_INVALID_DATA;
        } else {
            status = ReadPackageIntegers(package + ACPI_ARGUMENT_HEADER_SIZE, dataLength, values);
        }
    }
    if (!NT_SUCCESS(status)) {
        WdfObjectDelete(memory);
        return status;
    }

    record.Kind = values[0];
    record.Address = values[1];
    record.Value = values[2];
    if (record.Kind != 0) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_ACPI,
                    "override of kind %u dropped: address 0x%08X, value 0x%08X", record.Kind,
                    record.Address, record.Value);
        WdfObjectDelete(memory);
        return STATUS_SUCCESS;
    }
    RtlCopyMemory(buffer, &record, sizeof(record));

    status = WdfCollectionAdd(extension->PhyOverrides, memory);
    if (!NT_SUCCESS(status)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_ACPI, "WdfCollectionAdd failed, status 0x%08X",
                    status);
        WdfObjectDelete(memory);
        return status;
    }
    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_ACPI, "override: address 0x%08X, value 0x%08X",
                record.Address, record.Value);
    return STATUS_SUCCESS;
}

_Use_decl_annotations_ NTSTATUS ParsePhyOverrideOutput(WDFDEVICE Device,
                                                       PACPI_EVAL_OUTPUT_BUFFER Output,
                                                       ULONG BytesReturned) {
    const UCHAR* output = reinterpret_cast<const UCHAR*>(Output);
    ULONG offset = ACPI_OUTPUT_HEADER_SIZE;
    ULONG count;
    ULONG left;
    USHORT type;
    USHORT dataLength;
    NTSTATUS status;

    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_ACPI, "entry, %u bytes", BytesReturned);

    if (BytesReturned < ACPI_OUTPUT_HEADER_SIZE ||
        AcpiReadUlong(output + FIELD_OFFSET(ACPI_EVAL_OUTPUT_BUFFER, Signature)) !=
            ACPI_EVAL_OUTPUT_BUFFER_SIGNATURE) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_ACPI, "no output header with its signature");
        return STATUS_ACPI_INVALID_DATA;
    }
    count = AcpiReadUlong(output + FIELD_OFFSET(ACPI_EVAL_OUTPUT_BUFFER, Count));

    for (ULONG i = 0; i < count; i++) {
        left = BytesReturned - offset;
        if (left < ACPI_ARGUMENT_HEADER_SIZE) {
            TraceEvents(TRACE_LEVEL_ERROR, TRACE_ACPI, "argument %u of %u outside the output", i,
                        count);
            return STATUS_ACPI_INVALID_DATA;
        }
        AcpiReadArgumentHeader(output + offset, &type, &dataLength);
        if (type != ACPI_METHOD_ARGUMENT_PACKAGE) {
            TraceEvents(TRACE_LEVEL_ERROR, TRACE_ACPI, "argument %u: type %u, not a package", i,
                        type);
            return STATUS_ACPI_INVALID_DATA;
        }
        if (ACPI_METHOD_ARGUMENT_LENGTH(dataLength) > left) {
            TraceEvents(TRACE_LEVEL_ERROR, TRACE_ACPI, "argument %u: %u bytes, %u in the output", i,
                        dataLength, left);
            return STATUS_ACPI_INVALID_DATA;
        }
        status = ParsePhyOverridePackage(
            Device, reinterpret_cast<PACPI_METHOD_ARGUMENT>(const_cast<UCHAR*>(output + offset)),
            left);
        if (!NT_SUCCESS(status)) {
            return status;
        }
        offset += ACPI_METHOD_ARGUMENT_LENGTH(dataLength);
    }

    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_ACPI, "exit, %u arguments", count);
    return STATUS_SUCCESS;
}
