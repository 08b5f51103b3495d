// Driver entry and unload.
#include "frame/Driver.h"
#include "frame/EventProvider.h"
#include "frame/HardwareResources.h"

#include "Driver.tmh"

#ifdef ALLOC_PRAGMA
#pragma alloc_text(INIT, DriverEntry)
#pragma alloc_text(PAGE, EvtDriverUnload)
#endif

_Use_decl_annotations_ NTSTATUS DriverEntry(PDRIVER_OBJECT DriverObject,
                                            PUNICODE_STRING RegistryPath) {
    WDF_DRIVER_CONFIG config;
    NTSTATUS status;

    WPP_INIT_TRACING(DriverObject, RegistryPath);
    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_DRIVER, "entry");
    ForgetSocVersion();

    // A provider that cannot be registered costs the power events, not the driver.
    status = RegisterEventProvider();
    if (!NT_SUCCESS(status)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_DRIVER, "EtwRegister failed, status 0x%08X", status);
    }

    WDF_DRIVER_CONFIG_INIT(&config, EvtDriverDeviceAdd);
    config.EvtDriverUnload = EvtDriverUnload;

    status = WdfDriverCreate(DriverObject, RegistryPath, WDF_NO_OBJECT_ATTRIBUTES, &config,
                             WDF_NO_HANDLE);
    if (!NT_SUCCESS(status)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_DRIVER, "WdfDriverCreate failed, status 0x%08X",
                    status);
        UnregisterEventProvider();
        WPP_CLEANUP(DriverObject);
        return status;
    }

    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_DRIVER, "exit, status 0x%08X", status);
    return status;
}

_Use_decl_annotations_ VOID EvtDriverUnload(WDFDRIVER Driver) {
    PAGED_CODE();

    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_DRIVER, "unload");
    UnregisterEventProvider();
    WPP_CLEANUP(WdfDriverWdmGetDriverObject(Driver));
}
