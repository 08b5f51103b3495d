// The firmware's one-byte platform switches and the flags of the device context they set.
#include "settings/FirmwareSettings.h"

#include <ntstrsafe.h>

#include "frame/PoolTag.h"
#include "frame/Trace.h"
#include "settings/AcpiOutputCursor.h"

#include "AcpiFlags.tmh"

namespace {

typedef struct _ACPI_FLAG_ROW {
    CHAR Name[5];
    ULONG Offset;          // of the flag in FILTER_EXTENSION
    BOOLEAN KeepOnBadByte; // a byte other than 0 or 1 leaves the flag as it was
} ACPI_FLAG_ROW;

const ACPI_FLAG_ROW AcpiFlagRows[] = {
    {"GEN1", FIELD_OFFSET(FILTER_EXTENSION, Gen1), FALSE},
    {"MPRD", FIELD_OFFSET(FILTER_EXTENSION, Mprd), FALSE},
    {"MPDP", FIELD_OFFSET(FILTER_EXTENSION, Mpdp), FALSE},
    {"CCVL", FIELD_OFFSET(FILTER_EXTENSION, Ccvl), TRUE},
};

const ACPI_FLAG_ROW* FindFlagRow(_In_ PCSTR Name) {
    for (ULONG i = 0; i < ARRAYSIZE(AcpiFlagRows); i++) {
        ULONG c = 0;
        while (c < sizeof(AcpiFlagRows[i].Name) && AcpiFlagRows[i].Name[c] == Name[c] &&
               Name[c] != '\0') {
            c++;
        }
        if (c < sizeof(AcpiFlagRows[i].Name) && AcpiFlagRows[i].Name[c] == Name[c]) {
            return &AcpiFlagRows[i];
        }
    }
    return NULL;
}

VOID StoreFlag(_In_ PFILTER_EXTENSION Extension, _In_ const ACPI_FLAG_ROW* Row, _In_ UCHAR Byte) {
    PUCHAR flag = reinterpret_cast<PUCHAR>(Extension) + Row->Offset;

    if (Byte == 0 || Byte == 1) {
        *flag = Byte;
        TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_ACPI, "%s = %u", Row->Name, Byte);
        return;
    }
    TraceEvents(TRACE_LEVEL_WARNING, TRACE_ACPI, "%s answered 0x%02X, neither 0 nor 1", Row->Name,
                Byte);
    if (!Row->KeepOnBadByte) {
        *flag = 0;
    }
}

// Evaluates the switch and takes its byte; both buffers are freed here on every path.
NTSTATUS EvaluateFlag(_In_ WDFDEVICE Device, _In_ PCSTR Name, _Out_ PUCHAR Byte) {
    PACPI_EVAL_INPUT_BUFFER_EX input;
    PACPI_EVAL_OUTPUT_BUFFER output;
    ULONG returned;
    NTSTATUS status;

    // Non-paged: the resume from hibernation reads the switches inside D0 entry.
    input = static_cast<PACPI_EVAL_INPUT_BUFFER_EX>(
        ExAllocatePool2(POOL_FLAG_NON_PAGED, sizeof(ACPI_EVAL_INPUT_BUFFER_EX), PELVANE_POOL_TAG));
    if (input == NULL) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_ACPI, "no pool for the input");
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    RtlZeroMemory(input, sizeof(*input));
    input->Signature = ACPI_EVAL_INPUT_BUFFER_SIGNATURE_EX;
    status = RtlStringCbPrintfA(input->MethodName, sizeof(input->MethodName), "%s", Name);
    if (!NT_SUCCESS(status)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_ACPI, "name does not fit, status 0x%08X", status);
        ExFreePoolWithTag(input, PELVANE_POOL_TAG);
        return status;
    }

    output = static_cast<PACPI_EVAL_OUTPUT_BUFFER>(
        ExAllocatePool2(POOL_FLAG_NON_PAGED, ACPI_FLAG_OUTPUT_SIZE, PELVANE_POOL_TAG));
    if (output == NULL) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_ACPI, "no pool for the output");
        ExFreePoolWithTag(input, PELVANE_POOL_TAG);
        return STATUS_INSUFFICIENT_RESOURCES;
    }

    status =
        EvaluateAcpiObject(Device, input, sizeof(*input), output, ACPI_FLAG_OUTPUT_SIZE, &returned);
    if (NT_SUCCESS(status)) {
        status = ParseAcpiFlagOutput(output, returned, Byte);
    }
    ExFreePoolWithTag(output, PELVANE_POOL_TAG);
    ExFreePoolWithTag(input, PELVANE_POOL_TAG);
    return status;
}

} // namespace

_Use_decl_annotations_ NTSTATUS ParseAcpiFlagOutput(PACPI_EVAL_OUTPUT_BUFFER Output,
                                                    ULONG BytesReturned, PUCHAR Value) {
    const UCHAR* output = reinterpret_cast<const UCHAR*>(Output);
    const ULONG argument = ACPI_OUTPUT_HEADER_SIZE;
    USHORT type;
    USHORT dataLength;

    if (BytesReturned < ACPI_OUTPUT_HEADER_SIZE ||
        AcpiReadUlong(output + FIELD_OFFSET(ACPI_EVAL_OUTPUT_BUFFER, Count)) != 1 ||
        BytesReturned < argument + ACPI_ARGUMENT_HEADER_SIZE) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_ACPI, "not exactly one argument");
        return STATUS_ACPI_INVALID_DATA;
    }
    AcpiReadArgumentHeader(output + argument, &type, &dataLength);
    if (type != ACPI_METHOD_ARGUMENT_BUFFER || dataLength != 1 ||
        BytesReturned < argument + ACPI_ARGUMENT_HEADER_SIZE + 1) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_ACPI, "argument of type %u and %u bytes", type,
                    dataLength);
        return STATUS_ACPI_INVALID_DATA;
    }
    *Value = output[argument + ACPI_ARGUMENT_HEADER_SIZE];
    return STATUS_SUCCESS;
}

_Use_decl_annotations_ NTSTATUS ReadAcpiFlag(WDFDEVICE Device, PCSTR Name) {
    PFILTER_EXTENSION extension = GetFilterExtension(Device);
    const ACPI_FLAG_ROW* row;
    UCHAR byte = 0;
    NTSTATUS status;

    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_ACPI, "entry");

    if (extension == NULL) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_ACPI, "no device context");
        return STATUS_INVALID_PARAMETER;
    }
    row = Name != NULL ? FindFlagRow(Name) : NULL;
    if (row == NULL) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_ACPI, "not a platform switch");
        return STATUS_INVALID_PARAMETER;
    }

    status = EvaluateFlag(Device, row->Name, &byte);
    if (!NT_SUCCESS(status)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_ACPI, "%s not read, status 0x%08X", row->Name, status);
        return status;
    }
    StoreFlag(extension, row, byte);

    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_ACPI, "exit");
    return STATUS_SUCCESS;
}
