// The GPIO line of the Multiport instance, driven through the GPIO target that prepare
// hardware opens on the device's GPIO connection.
#include "settings/FirmwareSettings.h"

#include <gpio.h>

#include "frame/Trace.h"

#include "GpioLine.tmh"

_Use_decl_annotations_ NTSTATUS SetGpioLine(PFILTER_EXTENSION Context, UCHAR Value) {
    WDF_MEMORY_DESCRIPTOR inputDescriptor;
    WDF_MEMORY_DESCRIPTOR outputDescriptor;
    WDF_REQUEST_SEND_OPTIONS options;
    UCHAR pins = Value;
    NTSTATUS status;

    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_ACPI, "entry, level %u", Value);

    if (Context == NULL) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_ACPI, "no device context");
        return STATUS_INVALID_PARAMETER;
    }
    if (Context->GpioTarget == NULL) {
        TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_ACPI, "no GPIO target, line left alone");
        return STATUS_SUCCESS;
    }

    // One byte, both the pin values written and the buffer the controller answers in.
    WDF_MEMORY_DESCRIPTOR_INIT_BUFFER(&inputDescriptor, &pins, sizeof(pins));
    WDF_MEMORY_DESCRIPTOR_INIT_BUFFER(&outputDescriptor, &pins, sizeof(pins));
    WDF_REQUEST_SEND_OPTIONS_INIT(&options, WDF_REQUEST_SEND_OPTION_TIMEOUT);
    WDF_REQUEST_SEND_OPTIONS_SET_TIMEOUT(&options, WDF_REL_TIMEOUT_IN_MS(GPIO_WRITE_TIMEOUT_MS));
    status = WdfIoTargetSendIoctlSynchronously(Context->GpioTarget, NULL, IOCTL_GPIO_WRITE_PINS,
                                               &inputDescriptor, &outputDescriptor, &options, NULL);
    if (!NT_SUCCESS(status)) {
        // The level of the line is uncertain now; the bring-up goes on regardless.
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_ACPI, "GPIO write of %u failed, status 0x%08X", Value,
                    status);
        return STATUS_SUCCESS;
    }
    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_ACPI, "GPIO line driven %s",
                Value != 0 ? "high" : "low");
    return STATUS_SUCCESS;
}
