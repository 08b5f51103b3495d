// The wake-line service model.
#include "WakeLineService.h"

#include <kmdf/History.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace wakeline {

// One instance of the service's device: its own context, reached through the routine of its
// slot (the routine takes no context, as the service's driver would have one per device).
class WakeLineService::Instance : public kmdf::Endpoint {
  public:
    Instance(WakeLineService& service, int number, int slot)
        : service_(service), number_(number), slot_(slot) {}

    NTSTATUS QueryInterface(const GUID& type, INTERFACE* iface, USHORT size, USHORT version,
                            PVOID interfaceSpecificData) override {
        return service_.Answer(*this, type, iface, size, version, interfaceSpecificData);
    }
    NTSTATUS Configure(const WAKE_LINE_REQUEST& request) {
        return service_.Configure(number_, request);
    }
    static void Reference(PVOID context) {
        auto* instance = static_cast<Instance*>(context);
        std::lock_guard guard(instance->service_.lock_);
        ++instance->references_;
    }
    static void Dereference(PVOID context) {
        auto* instance = static_cast<Instance*>(context);
        std::lock_guard guard(instance->service_.lock_);
        if (--instance->references_ < 0) {
            std::fprintf(stderr, "wakeline: interface dereferenced more often than referenced\n");
            std::abort();
        }
    }

    WakeLineService& service_;
    const int number_;
    const int slot_;
    int references_ = 0;
    bool present_ = true;  // published and not removed
    bool removed_ = false; // its context is gone
};

namespace {

constexpr std::size_t kSlots = 16;

std::atomic<WakeLineService*> g_service{nullptr};
// The instance whose routine each slot is; a slot is used again only once its instance has
// been removed and holds no reference, so that a routine never reaches a newer instance.
std::array<std::atomic<WakeLineService::Instance*>, kSlots> g_slots{};

template <std::size_t Slot> NTSTATUS ConfigureThroughSlot(WAKE_LINE_REQUEST request) {
    WakeLineService::Instance* instance = g_slots[Slot].load();
    if (g_service.load() == nullptr || instance == nullptr) {
        std::fprintf(stderr, "wakeline: ConfigureWakeLine with no service running\n");
        std::abort();
    }
    return instance->Configure(request);
}

template <std::size_t... Slots>
constexpr std::array<PWAKE_LINE_CONFIGURE, kSlots> Routines(std::index_sequence<Slots...>) {
    return {&ConfigureThroughSlot<Slots>...};
}
constexpr std::array<PWAKE_LINE_CONFIGURE, kSlots> kRoutines =
    Routines(std::make_index_sequence<kSlots>());

} // namespace

std::wstring WakeLineService::DeviceName(int instance) {
    return L"\\Device\\WakeLineService" + std::to_wstring(instance);
}

std::wstring WakeLineService::SymbolicLink(int instance) {
    return L"\\??\\ACPI#WKLN0001#" + std::to_wstring(instance) +
           L"#{902fe583-d28a-49c4-a8e0-23efcedcf7c7}";
}

std::shared_ptr<WakeLineService> WakeLineService::Create(soc::Soc& soc) {
    std::shared_ptr<WakeLineService> service(new WakeLineService(soc));
    WakeLineService* expected = nullptr;
    if (!g_service.compare_exchange_strong(expected, service.get())) {
        std::fprintf(stderr, "wakeline: a second service while one runs\n");
        std::abort();
    }
    return service;
}

WakeLineService::~WakeLineService() {
    for (auto& slot : g_slots) {
        slot.store(nullptr);
    }
    g_service.store(nullptr);
}

int WakeLineService::Publish(kmdf::Machine& machine) {
    std::shared_ptr<Instance> instance;
    {
        std::lock_guard guard(lock_);
        int slot = -1;
        for (std::size_t i = 0; i < kSlots && slot < 0; ++i) {
            Instance* held = g_slots[i].load();
            if (held == nullptr || (held->removed_ && held->references_ == 0)) {
                slot = static_cast<int>(i);
            }
        }
        if (slot < 0) {
            std::fprintf(stderr, "wakeline: every routine slot is held by a live instance\n");
            std::abort();
        }
        instance = std::make_shared<Instance>(*this, static_cast<int>(instances_.size()) + 1, slot);
        instances_.push_back(instance);
        g_slots[slot].store(instance.get());
    }
    Record("arrival", instance->number_);
    machine.AddNamedDevice(DeviceName(instance->number_), instance);
    machine.ArriveInterface(GUID_WAKE_LINE_INTERFACE, SymbolicLink(instance->number_),
                            DeviceName(instance->number_));
    return instance->number_;
}

int WakeLineService::Pick(int instance) const {
    std::lock_guard guard(lock_);
    for (int n = static_cast<int>(instances_.size()); n >= 1; --n) {
        if ((instance == 0 || instance == n) && instances_[n - 1]->present_) {
            return n;
        }
    }
    return 0;
}

bool WakeLineService::QueryRemove(kmdf::Machine& machine, int instance) {
    int present = Pick(instance);
    if (present == 0) {
        return true;
    }
    bool passed = machine.QueryRemoveDevice(DeviceName(present));
    Record("query-remove", present, !passed);
    if (!passed) {
        Record("remove-cancelled", present);
    }
    return passed;
}

void WakeLineService::CancelRemove(kmdf::Machine& machine, int instance) {
    int present = Pick(instance);
    if (present != 0) {
        Record("remove-cancelled", present);
        machine.CancelRemoveDevice(DeviceName(present));
    }
}

// The service's driver disables the interface as its device is removed, then the device goes.
void WakeLineService::Removed(kmdf::Machine& machine, int instance, const char* event,
                              bool surprise) {
    int present = Pick(instance);
    if (present == 0) {
        return;
    }
    {
        std::lock_guard guard(lock_);
        instances_[present - 1]->present_ = false;
    }
    Record(event, present);
    machine.RemoveInterface(GUID_WAKE_LINE_INTERFACE, SymbolicLink(present));
    // After a surprise removal the context lives on until the clients have been told (the
    // remove-device request waits for the last handle); calls meanwhile fail (Configure).
    if (surprise) {
        machine.SurpriseRemoveDevice(DeviceName(present));
    } else {
        machine.CompleteRemoveDevice(DeviceName(present));
    }
    std::lock_guard guard(lock_);
    instances_[present - 1]->removed_ = true;
}

void WakeLineService::CompleteRemove(kmdf::Machine& machine, int instance) {
    Removed(machine, instance, "remove-complete", false);
}

void WakeLineService::SurpriseRemove(kmdf::Machine& machine, int instance) {
    Removed(machine, instance, "surprise-removal", true);
}

bool WakeLineService::Withdraw(kmdf::Machine& machine, int instance) {
    int present = Pick(instance);
    if (!QueryRemove(machine, present)) {
        return false;
    }
    CompleteRemove(machine, present);
    return true;
}

int WakeLineService::Present() const {
    return Pick(0);
}

void WakeLineService::FailQueries(NTSTATUS status) {
    std::lock_guard guard(lock_);
    queryStatus_ = status;
}

void WakeLineService::FailCalls(NTSTATUS status) {
    std::lock_guard guard(lock_);
    callStatus_ = status;
}

std::vector<Call> WakeLineService::Calls() const {
    std::lock_guard guard(lock_);
    return calls_;
}

std::vector<Query> WakeLineService::Queries() const {
    std::lock_guard guard(lock_);
    return queries_;
}

std::vector<PnpEvent> WakeLineService::Events() const {
    std::lock_guard guard(lock_);
    return events_;
}

void WakeLineService::LimitHistory(std::size_t entries) {
    std::lock_guard guard(lock_);
    historyLimit_ = entries;
}

int WakeLineService::References() const {
    std::lock_guard guard(lock_);
    int total = 0;
    for (auto& instance : instances_) {
        total += instance->references_;
    }
    return total;
}

int WakeLineService::References(int instance) const {
    std::lock_guard guard(lock_);
    if (instance < 1 || instance > static_cast<int>(instances_.size())) {
        return 0;
    }
    return instances_[instance - 1]->references_;
}

// The event in the service's history and in the SoC trace, where it falls among the driver's
// register accesses and requests.
void WakeLineService::Record(const char* event, int instance, bool vetoed) {
    {
        std::lock_guard guard(lock_);
        kmdf::AppendBounded(events_, PnpEvent{event, instance, vetoed}, historyLimit_);
    }
    soc::TraceRecord r;
    r.target = "wake-line";
    r.event = event;
    r.service = instance;
    r.vetoed = vetoed;
    soc_.RecordPnp(r);
}

NTSTATUS WakeLineService::Answer(Instance& instance, const GUID& type, INTERFACE* iface,
                                 USHORT size, USHORT version, PVOID interfaceSpecificData) {
    std::lock_guard guard(lock_);
    Query q{size, version, interfaceSpecificData, queryStatus_, instance.number_};
    if (!IsEqualGUID(type, GUID_WAKE_LINE_INTERFACE)) {
        q.status = STATUS_NOT_SUPPORTED;
    } else if (NT_SUCCESS(q.status) &&
               (size < sizeof(WAKE_LINE_INTERFACE) || version != WAKE_LINE_INTERFACE_VERSION)) {
        q.status = STATUS_INVALID_PARAMETER;
    }
    kmdf::AppendBounded(queries_, q, historyLimit_);
    if (!NT_SUCCESS(q.status)) {
        return q.status;
    }
    auto* record = reinterpret_cast<WAKE_LINE_INTERFACE*>(iface);
    record->Size = sizeof(WAKE_LINE_INTERFACE);
    record->Version = WAKE_LINE_INTERFACE_VERSION;
    record->Context = &instance;
    record->InterfaceReference = Instance::Reference;
    record->InterfaceDereference = Instance::Dereference;
    record->ConfigureWakeLine = kRoutines[static_cast<std::size_t>(instance.slot_)];
    ++instance.references_; // the provider references the interface it hands out
    return STATUS_SUCCESS;
}

NTSTATUS WakeLineService::Configure(int number, const WAKE_LINE_REQUEST& request) {
    NTSTATUS status;
    {
        std::lock_guard guard(lock_);
        Instance& instance = *instances_[number - 1];
        if (instance.removed_) {
            std::fprintf(stderr,
                         "wakeline: ConfigureWakeLine into service instance %d, which was "
                         "removed\n",
                         number);
            std::abort();
        }
        // A call after the last dereference is the caller's fault.
        if (instance.references_ <= 0) {
            std::fprintf(stderr, "wakeline: ConfigureWakeLine through an interface given back\n");
            std::abort();
        }
        // Surprise-removed, its clients not yet told: the hardware is gone.
        status = instance.present_ ? callStatus_ : STATUS_NO_SUCH_DEVICE;
        kmdf::AppendBounded(calls_,
                            Call{request.LineNumber, request.Enable, request.Mode, status, number},
                            historyLimit_);
    }
    soc::TraceRecord r;
    r.target = "wake-line";
    r.line = request.LineNumber;
    r.mode = request.Mode;
    r.status = status;
    r.service = number;
    soc_.RecordRequest(r);
    return status;
}

} // namespace wakeline
