// Framework driver object.
#include "State.h"

using namespace kmdf;

NTSTATUS WdfDriverCreate(PDRIVER_OBJECT DriverObject, PCUNICODE_STRING RegistryPath,
                         PWDF_OBJECT_ATTRIBUTES DriverAttributes, PWDF_DRIVER_CONFIG DriverConfig,
                         WDFDRIVER* Driver) {
    SwitchPoint("WdfDriverCreate");
    auto& s = Current();
    if (DriverObject == nullptr || RegistryPath == nullptr || DriverConfig == nullptr ||
        DriverConfig->Size != sizeof(WDF_DRIVER_CONFIG)) {
        BugCheck("WdfDriverCreate: bad arguments");
    }
    if (s.driver != nullptr) {
        BugCheck("WdfDriverCreate: called twice");
    }
    NTSTATUS status = InjectedFailure("WdfDriverCreate");
    if (!NT_SUCCESS(status)) {
        return status;
    }
    auto* d = new DriverObjectImpl;
    d->config = *DriverConfig;
    d->wdm = DriverObject;
    Attach(d, DriverAttributes, nullptr, "WdfDriverCreate");
    s.driver = d;
    if (Driver != nullptr) {
        *Driver = reinterpret_cast<WDFDRIVER>(static_cast<Object*>(d));
    }
    return STATUS_SUCCESS;
}

WDFDRIVER WdfGetDriver(VOID) {
    SwitchPoint("WdfGetDriver");
    auto& s = Current();
    return reinterpret_cast<WDFDRIVER>(static_cast<Object*>(s.driver));
}

PDRIVER_OBJECT WdfDriverWdmGetDriverObject(WDFDRIVER Driver) {
    SwitchPoint("WdfDriverWdmGetDriverObject");
    return LookupAs<DriverObjectImpl>(Driver, ObjectKind::Driver, "WdfDriverWdmGetDriverObject")
        ->wdm;
}
