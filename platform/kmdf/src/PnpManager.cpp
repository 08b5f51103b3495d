// The Plug and Play manager's side: driver load and unload, device add, start, power
// transitions, stop and remove. The callbacks of one device are serialised by its lock.
#include "DeviceInit.h"

namespace kmdf {

namespace {

class ActorScope {
  public:
    ActorScope(Hardware& hw, int instance) : hw_(hw) { hw_.SetActor(instance); }
    ~ActorScope() { hw_.SetActor(-1); }

  private:
    Hardware& hw_;
};

DeviceNode& Node(Machine::State& s, DeviceId id) {
    std::lock_guard guard(s.lock);
    auto it = s.devices.find(id);
    if (it == s.devices.end() || it->second->device == nullptr) {
        BugCheck("PnP manager: no such device");
    }
    return *it->second;
}

WDFCMRESLIST MakeResourceList(const std::vector<CM_PARTIAL_RESOURCE_DESCRIPTOR>& list,
                              DeviceImpl* device) {
    auto* r = new ResourceListImpl;
    r->descriptors = list;
    Attach(r, nullptr, device, "PnP manager");
    return reinterpret_cast<WDFCMRESLIST>(static_cast<Object*>(r));
}

void DropResourceList(WDFCMRESLIST list) {
    DeleteObject(static_cast<Object*>((void*)list));
}

WDFDEVICE Handle(DeviceImpl* d) {
    return reinterpret_cast<WDFDEVICE>(static_cast<Object*>(d));
}

NTSTATUS ReleaseHardware(DeviceNode& n) {
    NTSTATUS status = STATUS_SUCCESS;
    if (n.device->callbacks.EvtDeviceReleaseHardware != nullptr) {
        // The record's books are taken once the resource list has gone again.
        CallbackScope scope("EvtDeviceReleaseHardware", n.device->id);
        WDFCMRESLIST translated = MakeResourceList(n.spec.translated, n.device);
        status = scope.Returned(
            n.device->callbacks.EvtDeviceReleaseHardware(Handle(n.device), translated));
        DropResourceList(translated);
    }
    n.hardwarePrepared = false;
    return status;
}

} // namespace

NTSTATUS Machine::LoadDriver(PDRIVER_INITIALIZE entry, const std::wstring& registryPath) {
    auto& s = *state_;
    if (s.driver != nullptr) {
        BugCheck("LoadDriver: the driver is loaded already");
    }
    s.registryPath = registryPath;
    s.wdmDriver.DriverInit = entry;
    s.wdmDriver.RegistryPath.Buffer = s.registryPath.data();
    s.wdmDriver.RegistryPath.Length = static_cast<USHORT>(s.registryPath.size() * sizeof(WCHAR));
    s.wdmDriver.RegistryPath.MaximumLength = s.wdmDriver.RegistryPath.Length;
    UNICODE_STRING path = s.wdmDriver.RegistryPath;
    NTSTATUS status;
    {
        CallbackScope scope("DriverEntry", 0);
        status = scope.Returned(entry(&s.wdmDriver, &path));
    }
    if (!NT_SUCCESS(status) && s.driver != nullptr) {
        // A failed driver entry is not followed by unload; the framework drops its objects.
        DeleteObject(s.driver);
        s.driver = nullptr;
    }
    return status;
}

bool Machine::DriverLoaded() const {
    return state_->driver != nullptr;
}

void Machine::UnloadDriver() {
    auto& s = *state_;
    if (s.driver == nullptr) {
        return;
    }
    std::vector<DeviceId> ids;
    {
        std::lock_guard guard(s.lock);
        for (auto& [id, node] : s.devices) {
            if (node->device != nullptr) {
                ids.push_back(id);
            }
        }
    }
    for (DeviceId id : ids) {
        RemoveDevice(id);
    }
    WDFDRIVER driver = reinterpret_cast<WDFDRIVER>(static_cast<Object*>(s.driver));
    if (s.driver->config.EvtDriverUnload != nullptr) {
        CallbackScope scope("EvtDriverUnload", 0);
        s.driver->config.EvtDriverUnload(driver);
    }
    DeleteObject(s.driver);
    s.driver = nullptr;
}

NTSTATUS Machine::AddDevice(const DeviceSpec& spec, DeviceId* id) {
    auto& s = *state_;
    if (s.driver == nullptr || s.driver->config.EvtDriverDeviceAdd == nullptr) {
        BugCheck("AddDevice: no driver with a device-add callback is loaded");
    }
    DeviceNode* node;
    DeviceId newId;
    {
        std::lock_guard guard(s.lock);
        newId = s.nextDevice++;
        auto owned = std::make_unique<DeviceNode>();
        owned->spec = spec;
        node = owned.get();
        s.devices[newId] = std::move(owned);
    }
    WDFDEVICE_INIT init;
    init.node = node;
    PWDFDEVICE_INIT pinit = &init;
    ActorScope actor(*s.hardware, spec.instance);
    NTSTATUS status;
    {
        CallbackScope scope("EvtDriverDeviceAdd", newId);
        status = scope.Returned(s.driver->config.EvtDriverDeviceAdd(
            reinterpret_cast<WDFDRIVER>(static_cast<Object*>(s.driver)), pinit));
    }
    if (NT_SUCCESS(status) && init.created == nullptr) {
        BugCheck("device add returned success without creating a device");
    }
    if (!NT_SUCCESS(status)) {
        // The framework does not attach the filter; whatever was created goes with it.
        if (init.created != nullptr) {
            DeleteObject(init.created);
        }
        std::lock_guard guard(s.lock);
        s.devices.erase(newId);
        return status;
    }
    node->device = init.created;
    init.created->id = newId;
    if (id != nullptr) {
        *id = newId;
    }
    return status;
}

WDFDEVICE Machine::Device(DeviceId id) const {
    return Handle(Node(*state_, id).device);
}

bool Machine::DeviceStarted(DeviceId id) const {
    return Node(*state_, id).hardwarePrepared;
}

NTSTATUS Machine::StartDevice(DeviceId id) {
    DeviceNode& n = Node(*state_, id);
    std::lock_guard serial(n.callbackLock);
    if (n.hardwarePrepared) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    ActorScope actor(*state_->hardware, n.spec.instance);
    n.device->action = PowerActionNone;
    NTSTATUS status = STATUS_SUCCESS;
    if (n.device->callbacks.EvtDevicePrepareHardware != nullptr) {
        CallbackScope scope("EvtDevicePrepareHardware", id);
        WDFCMRESLIST raw = MakeResourceList(n.spec.raw, n.device);
        WDFCMRESLIST translated = MakeResourceList(n.spec.translated, n.device);
        status = scope.Returned(
            n.device->callbacks.EvtDevicePrepareHardware(Handle(n.device), raw, translated));
        DropResourceList(raw);
        DropResourceList(translated);
    }
    n.hardwarePrepared = true;
    if (!NT_SUCCESS(status)) {
        // A failed prepare hardware is followed by release hardware.
        ReleaseHardware(n);
        return status;
    }
    if (n.device->callbacks.EvtDeviceD0Entry != nullptr) {
        CallbackScope scope("EvtDeviceD0Entry", id);
        status = scope.Returned(
            n.device->callbacks.EvtDeviceD0Entry(Handle(n.device), WdfPowerDeviceD3Final));
    }
    if (!NT_SUCCESS(status)) {
        ReleaseHardware(n);
        return status;
    }
    n.inD0 = true;
    return status;
}

NTSTATUS Machine::ExitD0(DeviceId id, WDF_POWER_DEVICE_STATE target, POWER_ACTION action) {
    DeviceNode& n = Node(*state_, id);
    std::lock_guard serial(n.callbackLock);
    if (!n.inD0) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    ActorScope actor(*state_->hardware, n.spec.instance);
    n.device->action = action;
    NTSTATUS status = STATUS_SUCCESS;
    if (n.device->callbacks.EvtDeviceD0Exit != nullptr) {
        CallbackScope scope("EvtDeviceD0Exit", id);
        status = scope.Returned(n.device->callbacks.EvtDeviceD0Exit(Handle(n.device), target));
    }
    n.inD0 = false;
    n.lastTarget = target;
    return status;
}

NTSTATUS Machine::EnterD0(DeviceId id, POWER_ACTION action) {
    DeviceNode& n = Node(*state_, id);
    std::lock_guard serial(n.callbackLock);
    if (n.inD0 || !n.hardwarePrepared) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    ActorScope actor(*state_->hardware, n.spec.instance);
    n.device->action = action;
    NTSTATUS status = STATUS_SUCCESS;
    if (n.device->callbacks.EvtDeviceD0Entry != nullptr) {
        CallbackScope scope("EvtDeviceD0Entry", id);
        status =
            scope.Returned(n.device->callbacks.EvtDeviceD0Entry(Handle(n.device), n.lastTarget));
    }
    n.inD0 = NT_SUCCESS(status);
    return status;
}

NTSTATUS Machine::StopDevice(DeviceId id) {
    DeviceNode& n = Node(*state_, id);
    if (n.inD0) {
        ExitD0(id, WdfPowerDeviceD3Final, PowerActionNone);
    }
    std::lock_guard serial(n.callbackLock);
    if (!n.hardwarePrepared) {
        return STATUS_SUCCESS;
    }
    ActorScope actor(*state_->hardware, n.spec.instance);
    n.device->action = PowerActionNone;
    return ReleaseHardware(n);
}

void Machine::RemoveDevice(DeviceId id) {
    DeviceNode& n = Node(*state_, id);
    StopDevice(id);
    std::lock_guard serial(n.callbackLock);
    DeleteObject(n.device);
    n.device = nullptr;
}

} // namespace kmdf
