// The I/O target on the device's GPIO connection, opened through the resource hub by the
// connection's ID.
#include <ntddk.h>
#include <wdf.h>
// <reshub.h> uses FORCEINLINE, NTSTATUS and the safe string routines without including them.
#include <ntstrsafe.h>
#define RESHUB_USE_HELPER_ROUTINES
#include <reshub.h>

#include "frame/Driver.h"
#include "frame/HardwareResources.h"

#include "GpioTarget.tmh"

constexpr ULONG GPIO_PATH_BUFFER_BYTES = 200;

WDFIOTARGET OpenGpioTarget(_In_ WDFDEVICE Device) {
    PFILTER_EXTENSION extension = GetFilterExtension(Device);
    WCHAR pathBuffer[GPIO_PATH_BUFFER_BYTES / sizeof(WCHAR)];
    UNICODE_STRING path;
    WDF_OBJECT_ATTRIBUTES attributes;
    WDF_IO_TARGET_OPEN_PARAMS openParams;
    WDFIOTARGET target;
    NTSTATUS status;

    if (extension == NULL) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_HARDWARE, "no device context");
        return NULL;
    }
    if (extension->GpioConnectionIdLow == 0 && extension->GpioConnectionIdHigh == 0) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_HARDWARE, "no GPIO connection ID");
        return NULL;
    }

    RtlInitEmptyUnicodeString(&path, pathBuffer, sizeof(pathBuffer));
    status = RESOURCE_HUB_CREATE_PATH_FROM_ID(&path, extension->GpioConnectionIdLow,
                                              extension->GpioConnectionIdHigh);
    if (!NT_SUCCESS(status)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_HARDWARE,
                    "GPIO resource hub path not built, status 0x%08X", status);
        return NULL;
    }

    WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
    attributes.ParentObject = Device;
    status = WdfIoTargetCreate(Device, &attributes, &target);
    if (!NT_SUCCESS(status)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_HARDWARE, "WdfIoTargetCreate failed, status 0x%08X",
                    status);
        return NULL;
    }

    WDF_IO_TARGET_OPEN_PARAMS_INIT_OPEN_BY_NAME(&openParams, &path, GENERIC_READ | GENERIC_WRITE);
    status = WdfIoTargetOpen(target, &openParams);
    if (!NT_SUCCESS(status)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_HARDWARE,
                    "GPIO target WdfIoTargetOpen failed, status 0x%08X", status);
        WdfObjectDelete(target);
        return NULL;
    }
    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_HARDWARE, "GPIO target open");
    return target;
}
