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

// One callback of a device: recorded for the machine's books and shown to the hardware's
// trace on entry and on return, with the system power action the framework reports meanwhile.
template <typename Call>
NTSTATUS DeviceCallback(Hardware& hw, DeviceNode& n, const char* name, int state, Call call) {
    CallbackScope scope(name, n.device->id);
    // D0 entry and D0 exit of a stack that is not power pageable may run while paging I/O is
    // unavailable.
    const bool powerPath =
        std::string(name) == "EvtDeviceD0Entry" || std::string(name) == "EvtDeviceD0Exit";
    PowerPathScope paging(!powerPath || n.PowerPageable());
    CallbackTrace t{name, false, n.spec.instance, static_cast<int>(n.device->action), state, 0};
    hw.OnCallback(t);
    NTSTATUS status = scope.Returned(call());
    t.returned = true;
    t.status = status;
    hw.OnCallback(t);
    return status;
}

// Work items and target notifications find a device's node by its object under the state
// lock, from threads of their own, so the node's object changes under that lock too.
void SetNodeDevice(DeviceNode& n, DeviceImpl* device) {
    std::lock_guard guard(Current().lock);
    n.device = device;
}

NTSTATUS ReleaseHardware(Hardware& hw, DeviceNode& n) {
    NTSTATUS status = STATUS_SUCCESS;
    if (n.device->callbacks.EvtDeviceReleaseHardware != nullptr) {
        // The record's books are taken once the resource list has gone again.
        status = DeviceCallback(hw, n, "EvtDeviceReleaseHardware", -1, [&] {
            WDFCMRESLIST translated = MakeResourceList(n.spec.translated, n.device);
            NTSTATUS s = n.device->callbacks.EvtDeviceReleaseHardware(Handle(n.device), translated);
            DropResourceList(translated);
            return s;
        });
    }
    n.hardwarePrepared = false;
    return status;
}

// A failed start (prepare hardware or the first D0 entry), a failed D0 exit or a failed D0
// entry on a resume: the stack is torn down. Release hardware runs (no D0 exit after a failed
// D0 entry), and the device is gone until it is enumerated again. The caller holds the
// device's callback lock.
void TearDown(Hardware& hw, DeviceNode& n) {
    n.inD0 = false;
    n.device->action = PowerActionNone;
    ReleaseHardware(hw, n);
    DeleteObject(n.device);
    SetNodeDevice(n, nullptr);
}

bool IsShutdown(POWER_ACTION shutdownType) {
    return shutdownType == PowerActionShutdown || shutdownType == PowerActionShutdownReset ||
           shutdownType == PowerActionShutdownOff;
}

// The targets that a Dx request from above can carry: D1 to D3. D3Final is the framework's
// own, for a stop, a removal or a shutdown; so is PrepareForHibernation, which it gives the
// device on the hibernation path when the system hibernates.
bool RequestableTarget(WDF_POWER_DEVICE_STATE target) {
    switch (target) {
    case WdfPowerDeviceD1:
    case WdfPowerDeviceD2:
    case WdfPowerDeviceD3:
        return true;
    default:
        return false;
    }
}

WDF_POWER_DEVICE_STATE FrameworkTarget(const DeviceNode& n, WDF_POWER_DEVICE_STATE requested,
                                       POWER_ACTION shutdownType) {
    if (IsShutdown(shutdownType)) {
        return WdfPowerDeviceD3Final;
    }
    if (shutdownType == PowerActionHibernate && n.HibernationPath()) {
        return WdfPowerDevicePrepareForHibernation;
    }
    return requested;
}

// D0 exit of a device in D0. The caller holds the device's callback lock and has set the
// actor and the action. A failure tears the stack down.
NTSTATUS PowerDown(Hardware& hw, DeviceNode& n, WDF_POWER_DEVICE_STATE target) {
    NTSTATUS status = STATUS_SUCCESS;
    if (n.device->callbacks.EvtDeviceD0Exit != nullptr) {
        status = DeviceCallback(hw, n, "EvtDeviceD0Exit", target, [&] {
            return n.device->callbacks.EvtDeviceD0Exit(Handle(n.device), target);
        });
    }
    n.inD0 = false;
    n.lastTarget = target;
    if (!NT_SUCCESS(status)) {
        TearDown(hw, n);
    }
    return status;
}

// Prepare hardware with the device's resource lists, then D0 entry from D3Final. A failure
// of either tears the stack down. The caller holds the device's callback lock and has set the
// actor.
NTSTATUS Start(Hardware& hw, DeviceNode& n) {
    n.device->action = PowerActionNone;
    NTSTATUS status = STATUS_SUCCESS;
    if (n.device->callbacks.EvtDevicePrepareHardware != nullptr) {
        status = DeviceCallback(hw, n, "EvtDevicePrepareHardware", -1, [&] {
            WDFCMRESLIST raw = MakeResourceList(n.spec.raw, n.device);
            WDFCMRESLIST translated = MakeResourceList(n.spec.translated, n.device);
            NTSTATUS s =
                n.device->callbacks.EvtDevicePrepareHardware(Handle(n.device), raw, translated);
            DropResourceList(raw);
            DropResourceList(translated);
            return s;
        });
    }
    n.hardwarePrepared = true;
    if (!NT_SUCCESS(status)) {
        TearDown(hw, n);
        return status;
    }
    if (n.device->callbacks.EvtDeviceD0Entry != nullptr) {
        status = DeviceCallback(hw, n, "EvtDeviceD0Entry", WdfPowerDeviceD3Final, [&] {
            return n.device->callbacks.EvtDeviceD0Entry(Handle(n.device), WdfPowerDeviceD3Final);
        });
    }
    if (!NT_SUCCESS(status)) {
        TearDown(hw, n);
        return status;
    }
    n.inD0 = true;
    return status;
}

// The framework's AskParentToRemoveAndReenumerate, within the device's restart count: the
// parent reports the torn-down device gone and then present again, and the PnP manager adds
// and starts it as a new device. A failed start of the new one is not restarted again.
void Reenumerate(Machine& machine, DeviceId id) {
    auto& s = machine.GetState();
    DeviceSpec spec;
    int restarts;
    {
        std::lock_guard guard(s.lock);
        auto it = s.devices.find(id);
        if (it == s.devices.end() || it->second->device != nullptr ||
            it->second->restarts >= s.restartLimit) {
            return;
        }
        spec = it->second->spec;
        restarts = it->second->restarts + 1;
    }
    DeviceId next = 0;
    if (!NT_SUCCESS(machine.AddDevice(spec, &next))) {
        return;
    }
    {
        std::lock_guard guard(s.lock);
        s.devices[next]->restarts = restarts;
        s.reenumerated[id] = next;
    }
    machine.StartDevice(next);
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
    SetNodeDevice(*node, init.created);
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
    return DevicePresent(id) && Node(*state_, id).hardwarePrepared;
}

bool Machine::DevicePresent(DeviceId id) const {
    std::lock_guard guard(state_->lock);
    auto it = state_->devices.find(id);
    return it != state_->devices.end() && it->second->device != nullptr;
}

NTSTATUS Machine::StartDevice(DeviceId id) {
    WorkAfterReturn work{*this};
    if (!DevicePresent(id)) {
        return STATUS_INVALID_DEVICE_STATE; // torn down: gone until it is added again
    }
    DeviceNode& n = Node(*state_, id);
    Hardware& hw = *state_->hardware;
    std::lock_guard serial(n.callbackLock);
    if (n.hardwarePrepared) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    ActorScope actor(hw, n.spec.instance);
    return Start(hw, n);
}

NTSTATUS Machine::ExitD0(DeviceId id, WDF_POWER_DEVICE_STATE target, POWER_ACTION shutdownType) {
    if (!DevicePresent(id)) {
        return STATUS_INVALID_DEVICE_STATE; // torn down: gone until it is added again
    }
    if (!RequestableTarget(target)) {
        return STATUS_INVALID_PARAMETER;
    }
    DeviceNode& n = Node(*state_, id);
    Hardware& hw = *state_->hardware;
    NTSTATUS status;
    {
        std::lock_guard serial(n.callbackLock);
        if (n.device == nullptr || !n.inD0) {
            return STATUS_INVALID_DEVICE_STATE;
        }
        ActorScope actor(hw, n.spec.instance);
        // The framework keeps the shutdown type of the Dx request that arrives, and passes a
        // shutdown to the driver as D3Final.
        n.device->action = shutdownType;
        status = PowerDown(hw, n, FrameworkTarget(n, target, shutdownType));
    }
    // The PnP manager enumerates the device again only while the system is in S0: after a
    // system Dx request it would wait for the resume, which is not modelled.
    if (!NT_SUCCESS(status) && shutdownType == PowerActionNone) {
        Reenumerate(*this, id);
    }
    return status;
}

NTSTATUS Machine::EnterD0(DeviceId id) {
    WorkAfterReturn work{*this};
    if (!DevicePresent(id)) {
        return STATUS_INVALID_DEVICE_STATE; // torn down: gone until it is added again
    }
    DeviceNode& n = Node(*state_, id);
    Hardware& hw = *state_->hardware;
    NTSTATUS status = STATUS_SUCCESS;
    {
        std::lock_guard serial(n.callbackLock);
        // After D3Final (a shutdown) only a new start brings the device back.
        if (n.device == nullptr || n.inD0 || !n.hardwarePrepared ||
            n.lastTarget == WdfPowerDeviceD3Final) {
            return STATUS_INVALID_DEVICE_STATE;
        }
        ActorScope actor(hw, n.spec.instance);
        if (n.device->callbacks.EvtDeviceD0Entry != nullptr) {
            status = DeviceCallback(hw, n, "EvtDeviceD0Entry", n.lastTarget, [&] {
                return n.device->callbacks.EvtDeviceD0Entry(Handle(n.device), n.lastTarget);
            });
        }
        if (NT_SUCCESS(status)) {
            // Back in D0: the framework forgets the action once D0 entry has returned.
            n.device->action = PowerActionNone;
            n.inD0 = true;
            return status;
        }
        TearDown(hw, n);
    }
    Reenumerate(*this, id);
    return status;
}

// A D0 exit that fails here is the stop's result: the framework has torn the stack down,
// released the hardware once, and the device is gone.
NTSTATUS Machine::StopDevice(DeviceId id) {
    if (!DevicePresent(id)) {
        return STATUS_SUCCESS; // torn down after a failed transition
    }
    DeviceNode& n = Node(*state_, id);
    Hardware& hw = *state_->hardware;
    std::lock_guard serial(n.callbackLock);
    if (n.device == nullptr || !n.hardwarePrepared) {
        return STATUS_SUCCESS;
    }
    ActorScope actor(hw, n.spec.instance);
    n.device->action = PowerActionNone;
    if (n.inD0) {
        NTSTATUS status = PowerDown(hw, n, WdfPowerDeviceD3Final);
        if (!NT_SUCCESS(status)) {
            return status;
        }
    }
    return ReleaseHardware(hw, n);
}

void Machine::RemoveDevice(DeviceId id) {
    if (!DevicePresent(id)) {
        return; // torn down after a failed transition
    }
    DeviceNode& n = Node(*state_, id);
    StopDevice(id);
    std::lock_guard serial(n.callbackLock);
    if (n.device != nullptr) { // a failed D0 exit of the stop tore it down already
        DeleteObject(n.device);
        SetNodeDevice(n, nullptr);
    }
}

// What the framework does for a filter at a surprise removal: the D0 exit to D3Final only if
// the device is in D0 (an idle device stays as its last power-down left it), release hardware,
// and the removal. A failed D0 exit has torn the stack down already.
NTSTATUS Machine::SurpriseRemove(DeviceId id) {
    if (!DevicePresent(id)) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    DeviceNode& n = Node(*state_, id);
    Hardware& hw = *state_->hardware;
    std::lock_guard serial(n.callbackLock);
    if (n.device == nullptr) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    ActorScope actor(hw, n.spec.instance);
    n.device->action = PowerActionNone;
    NTSTATUS status = STATUS_SUCCESS;
    if (n.inD0) {
        status = PowerDown(hw, n, WdfPowerDeviceD3Final);
    }
    if (n.device != nullptr) {
        n.inD0 = false;
        if (n.hardwarePrepared) {
            ReleaseHardware(hw, n);
        }
        DeleteObject(n.device);
        SetNodeDevice(n, nullptr);
    }
    return status;
}

// A rebalance stops the device as an orderly stop does and starts it again with the lists the
// arbiters gave it, all under the device's lock.
NTSTATUS Machine::RebalanceDevice(DeviceId id, const std::optional<ResourceLists>& lists) {
    WorkAfterReturn work{*this};
    if (!DevicePresent(id)) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    DeviceNode& n = Node(*state_, id);
    Hardware& hw = *state_->hardware;
    std::lock_guard serial(n.callbackLock);
    if (n.device == nullptr || !n.hardwarePrepared || !n.inD0) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    ActorScope actor(hw, n.spec.instance);
    n.device->action = PowerActionNone;
    NTSTATUS status = PowerDown(hw, n, WdfPowerDeviceD3Final);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    ReleaseHardware(hw, n);
    if (lists) {
        n.spec.raw = lists->raw;
        n.spec.translated = lists->translated;
    }
    return Start(hw, n);
}

void Machine::AllowRestarts(int count) {
    std::lock_guard guard(state_->lock);
    state_->restartLimit = count;
}

std::optional<DeviceId> Machine::Reenumerated(DeviceId id) const {
    std::lock_guard guard(state_->lock);
    auto it = state_->reenumerated.find(id);
    if (it == state_->reenumerated.end()) {
        return std::nullopt;
    }
    return it->second;
}

bool DeviceNode::PowerPageable() const {
    if (!spec.lowerPowerPageable) {
        return false;
    }
    for (auto& [type, count] : usage) {
        if (count > 0) {
            return false;
        }
    }
    return true;
}

bool DeviceNode::HibernationPath() const {
    auto it = usage.find(DeviceUsageTypeHibernation);
    return it != usage.end() && it->second > 0;
}

// "Filters always support usage notifications": the framework passes the request down and
// takes the pageability of the device below, without asking the driver.
NTSTATUS Machine::NotifyUsage(DeviceId id, DEVICE_USAGE_NOTIFICATION_TYPE type, bool inPath) {
    if (type != DeviceUsageTypePaging && type != DeviceUsageTypeHibernation &&
        type != DeviceUsageTypeDumpFile) {
        return STATUS_INVALID_PARAMETER;
    }
    if (!DevicePresent(id)) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    DeviceNode& n = Node(*state_, id);
    std::lock_guard serial(n.callbackLock);
    int& count = n.usage[type];
    if (!inPath && count == 0) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    count += inPath ? 1 : -1;
    // The device below has set or cleared DO_POWER_PAGABLE; the filter's device object follows.
    if (n.PowerPageable()) {
        n.device->wdm.Flags |= DO_POWER_PAGABLE;
    } else {
        n.device->wdm.Flags &= ~DO_POWER_PAGABLE;
    }
    return STATUS_SUCCESS;
}

bool Machine::PowerPageable(DeviceId id) const {
    return Node(*state_, id).PowerPageable();
}

bool Machine::HibernationPath(DeviceId id) const {
    return Node(*state_, id).HibernationPath();
}

} // namespace kmdf
