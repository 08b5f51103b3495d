// Framework device object, its initialisation record and its default I/O target.
#include "DeviceInit.h"

using namespace kmdf;

VOID WdfFdoInitSetFilter(PWDFDEVICE_INIT DeviceInit) {
    SwitchPoint("WdfFdoInitSetFilter");
    if (DeviceInit == nullptr) {
        BugCheck("WdfFdoInitSetFilter: no device init");
    }
    DeviceInit->filter = true;
}

VOID WdfDeviceInitSetPnpPowerEventCallbacks(PWDFDEVICE_INIT DeviceInit,
                                            PWDF_PNPPOWER_EVENT_CALLBACKS PnpPowerEventCallbacks) {
    SwitchPoint("WdfDeviceInitSetPnpPowerEventCallbacks");
    if (DeviceInit == nullptr || PnpPowerEventCallbacks == nullptr ||
        PnpPowerEventCallbacks->Size != sizeof(WDF_PNPPOWER_EVENT_CALLBACKS)) {
        BugCheck("WdfDeviceInitSetPnpPowerEventCallbacks: bad arguments");
    }
    DeviceInit->callbacks = *PnpPowerEventCallbacks;
    DeviceInit->callbacksSet = true;
}

NTSTATUS WdfDeviceCreate(PWDFDEVICE_INIT* DeviceInit, PWDF_OBJECT_ATTRIBUTES DeviceAttributes,
                         WDFDEVICE* Device) {
    SwitchPoint("WdfDeviceCreate");
    if (DeviceInit == nullptr || *DeviceInit == nullptr || Device == nullptr) {
        BugCheck("WdfDeviceCreate: bad arguments");
    }
    PWDFDEVICE_INIT init = *DeviceInit;
    if (init->created != nullptr) {
        BugCheck("WdfDeviceCreate: the init record was used already");
    }
    NTSTATUS status = InjectedFailure("WdfDeviceCreate");
    if (!NT_SUCCESS(status)) {
        return status;
    }
    auto& s = Current();
    if (DeviceAttributes != nullptr && DeviceAttributes->ParentObject != nullptr) {
        BugCheck("WdfDeviceCreate: a device's parent is the driver");
    }
    auto* d = new DeviceImpl;
    d->instance = init->node->spec.instance;
    d->callbacks = init->callbacks;
    d->filter = init->filter;
    // A filter takes the pageability of the device below it.
    d->wdm.Flags = init->node->spec.lowerPowerPageable ? DO_POWER_PAGABLE : 0;
    {
        // Devices of different instances are added from different threads.
        std::lock_guard guard(s.lock);
        d->wdm.Name = std::wstring(L"\\Device\\Filter") + std::to_wstring(s.nextDevice);
    }
    Attach(d, DeviceAttributes, s.driver, "WdfDeviceCreate");

    auto* target = new IoTargetImpl;
    target->isDefault = true;
    target->open = true;
    target->endpoint = init->node->spec.lowerDevice;
    Attach(target, nullptr, d, "WdfDeviceCreate");
    d->defaultTarget = target;

    init->created = d;
    *DeviceInit = nullptr; // the framework owns the init record now
    *Device = reinterpret_cast<WDFDEVICE>(static_cast<Object*>(d));
    return STATUS_SUCCESS;
}

WDFIOTARGET WdfDeviceGetIoTarget(WDFDEVICE Device) {
    SwitchPoint("WdfDeviceGetIoTarget");
    auto* d = LookupAs<DeviceImpl>(Device, ObjectKind::Device, "WdfDeviceGetIoTarget");
    if (d->defaultTarget == nullptr || d->defaultTarget->endpoint == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<WDFIOTARGET>(static_cast<Object*>(d->defaultTarget));
}

POWER_ACTION WdfDeviceGetSystemPowerAction(WDFDEVICE Device) {
    SwitchPoint("WdfDeviceGetSystemPowerAction");
    return LookupAs<DeviceImpl>(Device, ObjectKind::Device, "WdfDeviceGetSystemPowerAction")
        ->action;
}

PDEVICE_OBJECT WdfDeviceWdmGetDeviceObject(WDFDEVICE Device) {
    SwitchPoint("WdfDeviceWdmGetDeviceObject");
    return &LookupAs<DeviceImpl>(Device, ObjectKind::Device, "WdfDeviceWdmGetDeviceObject")->wdm;
}

ULONG WdfCmResourceListGetCount(WDFCMRESLIST List) {
    SwitchPoint("WdfCmResourceListGetCount");
    auto* r =
        LookupAs<ResourceListImpl>(List, ObjectKind::ResourceList, "WdfCmResourceListGetCount");
    return static_cast<ULONG>(r->descriptors.size());
}

PCM_PARTIAL_RESOURCE_DESCRIPTOR WdfCmResourceListGetDescriptor(WDFCMRESLIST List, ULONG Index) {
    SwitchPoint("WdfCmResourceListGetDescriptor");
    auto* r = LookupAs<ResourceListImpl>(List, ObjectKind::ResourceList,
                                         "WdfCmResourceListGetDescriptor");
    if (Index >= r->descriptors.size()) {
        return nullptr;
    }
    return &r->descriptors[Index];
}
