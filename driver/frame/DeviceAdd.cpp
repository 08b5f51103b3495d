// Device add: the stack's device becomes a filter device with its context and the empty
// PHY override list. No queue, no interface, no interrupt: I/O passes through untouched.
#include "frame/Driver.h"
#include "frame/WakeLineArrival.h"

#include "DeviceAdd.tmh"

#ifdef ALLOC_PRAGMA
#pragma alloc_text(PAGE, EvtDriverDeviceAdd)
#endif

_Use_decl_annotations_ NTSTATUS EvtDriverDeviceAdd(WDFDRIVER Driver, PWDFDEVICE_INIT DeviceInit) {
    WDF_PNPPOWER_EVENT_CALLBACKS pnpPowerCallbacks;
    WDF_OBJECT_ATTRIBUTES attributes;
    PFILTER_EXTENSION extension;
    WDFDEVICE device;
    NTSTATUS status;

    UNREFERENCED_PARAMETER(Driver);
    PAGED_CODE();

    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_DEVICE, "entry");

    WdfFdoInitSetFilter(DeviceInit);

    WDF_PNPPOWER_EVENT_CALLBACKS_INIT(&pnpPowerCallbacks);
    pnpPowerCallbacks.EvtDeviceD0Entry = EvtDeviceD0Entry;
    pnpPowerCallbacks.EvtDeviceD0Exit = EvtDeviceD0Exit;
    pnpPowerCallbacks.EvtDevicePrepareHardware = EvtDevicePrepareHardware;
    pnpPowerCallbacks.EvtDeviceReleaseHardware = EvtDeviceReleaseHardware;
    WdfDeviceInitSetPnpPowerEventCallbacks(DeviceInit, &pnpPowerCallbacks);

    WDF_OBJECT_ATTRIBUTES_INIT_CONTEXT_TYPE(&attributes, FILTER_EXTENSION);
    status = WdfDeviceCreate(&DeviceInit, &attributes, &device);
    if (!NT_SUCCESS(status)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_DEVICE, "WdfDeviceCreate failed, status 0x%08X",
                    status);
        return status;
    }

    extension = GetFilterExtension(device);
    extension->Device = device;
    KeInitializeEvent(&extension->WakeLineArrivalLock, SynchronizationEvent, TRUE);
    ExInitializeRundownProtection(&extension->WakeLineRundown);

    // The override list lives as long as the device; the firmware fills it at bring-up.
    WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
    attributes.ParentObject = device;
    status = WdfCollectionCreate(&attributes, &extension->PhyOverrides);
    if (!NT_SUCCESS(status)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_DEVICE, "WdfCollectionCreate failed, status 0x%08X",
                    status);
        return status;
    }
    status = CreateWakeLineWorkItem(extension);
    if (!NT_SUCCESS(status)) {
        return status;
    }

    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_DEVICE, "exit, status 0x%08X", status);
    return status;
}
