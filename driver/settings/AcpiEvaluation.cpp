// Evaluation of a named ACPI object through the ACPI driver below the filter, the device's
// default I/O target.
#include "settings/FirmwareSettings.h"

#include "frame/Trace.h"
#include "settings/AcpiOutputCursor.h"

#include "AcpiEvaluation.tmh"

_Use_decl_annotations_ NTSTATUS EvaluateAcpiObject(WDFDEVICE Device, PVOID Input, ULONG InputSize,
                                                   PVOID Output, ULONG OutputSize,
                                                   PULONG BytesReturned) {
    WDF_MEMORY_DESCRIPTOR inputDescriptor;
    WDF_MEMORY_DESCRIPTOR outputDescriptor;
    ULONG_PTR returned = 0;
    WDFIOTARGET target;
    NTSTATUS status;

    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_ACPI, "entry, %u input bytes, %u output bytes",
                InputSize, OutputSize);

    *BytesReturned = 0;
    if (Input == NULL || InputSize == 0) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_ACPI, "no input");
        return STATUS_INVALID_PARAMETER;
    }
    target = WdfDeviceGetIoTarget(Device);
    if (target == NULL) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_ACPI, "no default I/O target");
        return STATUS_INVALID_DEVICE_STATE;
    }

    WDF_MEMORY_DESCRIPTOR_INIT_BUFFER(&inputDescriptor, Input, InputSize);
    WDF_MEMORY_DESCRIPTOR_INIT_BUFFER(&outputDescriptor, Output, OutputSize);
    status = WdfIoTargetSendIoctlSynchronously(
        target, NULL, IOCTL_ACPI_EVAL_METHOD_EX, &inputDescriptor,
        Output != NULL ? &outputDescriptor : NULL, NULL, &returned);
    if (!NT_SUCCESS(status)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_ACPI, "evaluation failed, status 0x%08X", status);
        return status;
    }
    // Only what fits the output counts; without an output nothing was returned.
    if (returned > OutputSize || Output == NULL) {
        returned = Output == NULL ? 0 : OutputSize;
    }
    if (returned < sizeof(ULONG) ||
        AcpiReadUlong(static_cast<const UCHAR*>(Output)) != ACPI_EVAL_OUTPUT_BUFFER_SIGNATURE) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_ACPI, "output of %u bytes without its signature",
                    static_cast<ULONG>(returned));
        return STATUS_ACPI_INVALID_DATA;
    }
    *BytesReturned = static_cast<ULONG>(returned);
    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_ACPI, "exit, %u bytes returned", *BytesReturned);
    return STATUS_SUCCESS;
}

_Use_decl_annotations_ NTSTATUS EvaluateAcpiObjectByName(WDFDEVICE Device, PVOID Input,
                                                         ULONG InputSize, PVOID Output,
                                                         ULONG OutputSize) {
    ULONG returned;

    return EvaluateAcpiObject(Device, Input, InputSize, Output, OutputSize, &returned);
}
