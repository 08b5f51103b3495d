// Evaluation of the firmware's PHY override method through the ACPI driver below the filter.
// The output buffer grows from InitialSize to four times InitialSize while the ACPI driver
// answers that the output does not fit.
#include "settings/FirmwareSettings.h"

#include "frame/PoolTag.h"
#include "frame/Trace.h"

#include "PhyOverrideReader.tmh"

namespace {

// The four characters of the name in memory order.
VOID BuildEvalInput(_Out_ PACPI_EVAL_INPUT_BUFFER Input, _In_ PCSTR MethodName) {
    RtlZeroMemory(Input, sizeof(*Input));
    Input->Signature = ACPI_EVAL_INPUT_BUFFER_SIGNATURE;
    for (ULONG i = 0; i < sizeof(Input->MethodName) && MethodName[i] != '\0'; i++) {
        Input->MethodName[i] = static_cast<UCHAR>(MethodName[i]);
    }
}

BOOLEAN OutputTooSmall(_In_ NTSTATUS Status) {
    return Status == STATUS_BUFFER_TOO_SMALL || Status == STATUS_BUFFER_OVERFLOW;
}

} // namespace

_Use_decl_annotations_ NTSTATUS ReadPhyOverrides(WDFDEVICE Device, PCSTR MethodName,
                                                 ULONG InitialSize) {
    ACPI_EVAL_INPUT_BUFFER input;
    WDF_MEMORY_DESCRIPTOR inputDescriptor;
    WDF_MEMORY_DESCRIPTOR outputDescriptor;
    PACPI_EVAL_OUTPUT_BUFFER output = NULL;
    ULONG_PTR returned = 0;
    WDFIOTARGET target;
    ULONG size = 0;
    NTSTATUS status = STATUS_SUCCESS;

    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_ACPI, "entry");

    if (MethodName == NULL || InitialSize == 0 ||
        InitialSize > MAXULONG / PHY_OVERRIDE_READ_ATTEMPTS) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_ACPI, "no method name or no usable initial size");
        return STATUS_INVALID_PARAMETER;
    }
    BuildEvalInput(&input, MethodName);

    target = WdfDeviceGetIoTarget(Device);
    if (target == NULL) {
        TraceEvents(TRACE_LEVEL_WARNING, TRACE_ACPI, "no default I/O target, nothing read");
        return STATUS_SUCCESS;
    }

    for (ULONG attempt = 0; attempt < PHY_OVERRIDE_READ_ATTEMPTS; attempt++) {
        size = InitialSize * (attempt + 1);
        // Non-paged: the resume from hibernation reads the overrides inside D0 entry.
        output = static_cast<PACPI_EVAL_OUTPUT_BUFFER>(
            ExAllocatePool2(POOL_FLAG_NON_PAGED, size, PELVANE_POOL_TAG));
        if (output == NULL) {
            TraceEvents(TRACE_LEVEL_ERROR, TRACE_ACPI, "no pool for %u output bytes", size);
            return STATUS_INSUFFICIENT_RESOURCES;
        }
        WDF_MEMORY_DESCRIPTOR_INIT_BUFFER(&inputDescriptor, &input, sizeof(input));
        WDF_MEMORY_DESCRIPTOR_INIT_BUFFER(&outputDescriptor, output, size);
        status =
            WdfIoTargetSendIoctlSynchronously(target, NULL, IOCTL_ACPI_EVAL_METHOD,
                                              &inputDescriptor, &outputDescriptor, NULL, &returned);
        if (NT_SUCCESS(status)) {
            break;
        }
        ExFreePoolWithTag(output, PELVANE_POOL_TAG);
        output = NULL;
        TraceEvents(TRACE_LEVEL_WARNING, TRACE_ACPI, "%u output bytes: status 0x%08X", size,
                    status);
        if (!OutputTooSmall(status) || attempt + 1 == PHY_OVERRIDE_READ_ATTEMPTS) {
            TraceEvents(TRACE_LEVEL_ERROR, TRACE_ACPI, "evaluation failed, status 0x%08X", status);
            return status;
        }
    }

    status = ParsePhyOverrideOutput(Device, output,
                                    returned < size ? static_cast<ULONG>(returned) : size);
    ExFreePoolWithTag(output, PELVANE_POOL_TAG);

    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_ACPI, "exit, status 0x%08X", status);
    return status;
}
