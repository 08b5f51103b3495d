// Prepare and release hardware. Finding and mapping the controller's register blocks comes
// with the controller bring-up; until then the callbacks only check their context.
#include "frame/Driver.h"

#include "HardwareResources.tmh"

#ifdef ALLOC_PRAGMA
#pragma alloc_text(PAGE, EvtDevicePrepareHardware)
#pragma alloc_text(PAGE, EvtDeviceReleaseHardware)
#endif

_Use_decl_annotations_ NTSTATUS EvtDevicePrepareHardware(WDFDEVICE Device,
                                                         WDFCMRESLIST ResourcesRaw,
                                                         WDFCMRESLIST ResourcesTranslated) {
    PFILTER_EXTENSION extension = GetFilterExtension(Device);

    UNREFERENCED_PARAMETER(ResourcesRaw);
    UNREFERENCED_PARAMETER(ResourcesTranslated);
    PAGED_CODE();

    if (extension == NULL) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_HARDWARE, "no device context");
        return STATUS_INVALID_PARAMETER;
    }
    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_HARDWARE, "%u translated resources",
                WdfCmResourceListGetCount(ResourcesTranslated));
    return STATUS_SUCCESS;
}

_Use_decl_annotations_ NTSTATUS EvtDeviceReleaseHardware(WDFDEVICE Device,
                                                         WDFCMRESLIST ResourcesTranslated) {
    PFILTER_EXTENSION extension = GetFilterExtension(Device);

    UNREFERENCED_PARAMETER(ResourcesTranslated);
    PAGED_CODE();

    if (extension == NULL) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_HARDWARE, "no device context");
        return STATUS_INVALID_PARAMETER;
    }
    extension->Device = Device;
    extension->Gen1 = 0;
    extension->Mprd = 0;
    extension->Mpdp = 0;
    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_HARDWARE, "released");
    return STATUS_SUCCESS;
}
