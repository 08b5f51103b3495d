#pragma once
// Internal state of the stand-in: framework objects, devices, mappings, pool, providers.
#include <kmdf/History.h>
#include <kmdf/Machine.h>
#include <evntrace.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

struct _DRIVER_OBJECT {
    PDRIVER_INITIALIZE DriverInit;
    UNICODE_STRING RegistryPath;
};
// Every device object the stand-in hands out is one of these.
struct DeviceObjectImpl : _DEVICE_OBJECT {
    DeviceObjectImpl() : _DEVICE_OBJECT{0} {}
    std::wstring Name;
    std::shared_ptr<kmdf::Endpoint> Endpoint;
};
inline DeviceObjectImpl* Impl(PDEVICE_OBJECT device) {
    return static_cast<DeviceObjectImpl*>(device);
}
// A file object references its device: a device that leaves the namespace while files are
// open on it lives on until the last of them is dereferenced.
struct _FILE_OBJECT {
    PDEVICE_OBJECT DeviceObject;
    std::shared_ptr<DeviceObjectImpl> Reference;
    std::uint64_t serial = 0; // which open it was: an address may be used again
};

namespace kmdf {

// Ends the simulated system with a message, as a bug check ends the real one.
[[noreturn]] void BugCheck(const std::string& why);

enum class ObjectKind { Driver, Device, Collection, Memory, IoTarget, ResourceList, WorkItem };
const char* KindName(ObjectKind kind);

struct Object {
    explicit Object(ObjectKind k) : kind(k) {}
    virtual ~Object();
    ObjectKind kind;
    Object* parent = nullptr;
    std::vector<Object*> children;
    PCWDF_OBJECT_CONTEXT_TYPE_INFO contextType = nullptr;
    void* context = nullptr;
    PFN_WDF_OBJECT_CONTEXT_CLEANUP cleanup = nullptr;
    PFN_WDF_OBJECT_CONTEXT_DESTROY destroy = nullptr;
    DeviceId owner = 0; // the device whose callback or work item created it (OwnerNow)
};

struct DriverObjectImpl : Object {
    DriverObjectImpl() : Object(ObjectKind::Driver) {}
    WDF_DRIVER_CONFIG config{};
    PDRIVER_OBJECT wdm = nullptr;
};

struct IoTargetImpl;

struct DeviceImpl : Object {
    DeviceImpl() : Object(ObjectKind::Device) {}
    DeviceId id = 0;
    int instance = -1;
    WDF_PNPPOWER_EVENT_CALLBACKS callbacks{};
    bool filter = false;
    POWER_ACTION action = PowerActionNone;
    IoTargetImpl* defaultTarget = nullptr;
    DeviceObjectImpl wdm;
};

struct CollectionImpl : Object {
    CollectionImpl() : Object(ObjectKind::Collection) {}
    std::vector<Object*> items;
};

struct MemoryImpl : Object {
    MemoryImpl() : Object(ObjectKind::Memory) {}
    void* buffer = nullptr;
    std::size_t size = 0;
    ULONG tag = 0;
};

struct IoTargetImpl : Object {
    IoTargetImpl() : Object(ObjectKind::IoTarget) {}
    bool open = false;
    bool isDefault = false;
    std::shared_ptr<Endpoint> endpoint;
    PFILE_OBJECT fileObject = nullptr;
    // An existing-device target opened with a file object: the framework's own reference on
    // it, and its registration for target device change notifications on it.
    PFILE_OBJECT remoteFile = nullptr;
    WDF_IO_TARGET_OPEN_PARAMS opened{};
    std::wstring deviceName; // of the device it was opened on
    DeviceImpl* device = nullptr;
    // Target device change callbacks running now, and their threads: closing for good waits
    // for them, except on a callback's own thread.
    std::vector<std::thread::id> delivering;
    std::uint64_t registered = 0; // when it registered: deliveries go in that order
};

struct WorkItemImpl : Object {
    WorkItemImpl() : Object(ObjectKind::WorkItem) {}
    WDF_WORKITEM_CONFIG config{};
    bool queued = false;
    std::mutex running; // held while the callback runs: one item never runs twice at once
    std::thread::id runner;
    int claimed = 0; // taken off the queue by a thread that has yet to finish running it
};

struct ResourceListImpl : Object {
    ResourceListImpl() : Object(ObjectKind::ResourceList) {}
    std::vector<CM_PARTIAL_RESOURCE_DESCRIPTOR> descriptors;
};

// A device as the PnP manager sees it, from add to remove.
struct DeviceNode {
    DeviceSpec spec;
    DeviceImpl* device = nullptr; // null once removed
    std::mutex callbackLock;
    bool hardwarePrepared = false;
    bool inD0 = false;
    WDF_POWER_DEVICE_STATE lastTarget = WdfPowerDeviceD3Final;
    int restarts = 0; // enumerations again after a failed power transition, kept across them
    // Special files on a disk behind the device, by usage notification type, and whether the
    // stack is power pageable: the filter mirrors the device below, whose storage stack
    // clears DO_POWER_PAGABLE while it carries a special file.
    std::map<int, int> usage;
    bool PowerPageable() const;
    bool HibernationPath() const;
};

struct Mapping {
    std::uintptr_t virtualBase = 0;
    std::size_t length = 0;
    std::uint64_t physical = 0;
    IoSpaceKind kind = IoSpaceKind::None;
    bool readOnly = false;
    void* reservation = nullptr; // host pages behind the mapping, when it has its own
    std::size_t reservationLength = 0;
    DeviceId owner = 0;
};

// One pool allocation in the books, with the pool it came from.
struct PoolBlock {
    ULONG tag = 0;
    std::size_t bytes = 0;
    bool paged = false;
    void* host = nullptr;
    DeviceId owner = 0;
};

struct Provider {
    GUID id{};
    PETWENABLECALLBACK callback = nullptr;
    PVOID context = nullptr;
};

struct Session {
    UCHAR level = 0;
    ULONGLONG matchAny = 0;
    ULONGLONG matchAll = 0;
};

struct Notification {
    GUID interfaceClass{};
    PDRIVER_NOTIFICATION_CALLBACK_ROUTINE callback = nullptr;
    PVOID context = nullptr;
    bool active = true;
    int inFlight = 0;             // callbacks running now
    std::uint64_t registered = 0; // deliveries go in the order of the registrations
    DeviceId owner = 0;
};

struct InterfaceInstance {
    GUID interfaceClass{};
    std::wstring symbolicLink;
    std::wstring deviceName;
};

struct Machine::State {
    Hardware* hardware = nullptr;
    mutable std::recursive_mutex lock;

    // Framework objects.
    std::set<Object*> live;
    DriverObjectImpl* driver = nullptr;
    _DRIVER_OBJECT wdmDriver{};
    std::wstring registryPath;
    std::map<DeviceId, std::unique_ptr<DeviceNode>> devices;
    DeviceId nextDevice = 1;
    int restartLimit = 0;
    std::map<DeviceId, DeviceId> reenumerated; // a torn-down device and the one that came back

    // Kernel books.
    std::vector<Mapping> mappings;
    std::map<void*, PoolBlock> pool;
    int pagedPoolFence = 0; // power callbacks of stacks that are not power pageable running
    std::map<ULONGLONG, Provider> providers;
    ULONGLONG nextProvider = 1;
    std::map<std::string, Session> sessions; // by provider GUID text
    std::vector<EventRecord> events;
    std::map<PVOID, std::unique_ptr<Notification>> notifications;
    std::condition_variable_any notificationsIdle;
    std::map<PVOID, int> references;
    std::set<IoTargetImpl*> remoteTargets; // registered for target device change
    std::uint64_t registrations = 0;       // of notifications and targets, in order
    std::condition_variable_any targetsIdle;
    std::condition_variable_any workIdle;
    std::deque<WorkItemImpl*> workQueue; // queued, not yet running
    bool ownWorker = false;              // the caller runs the system worker (RunWorkItems)
    int wppSessions = 0;
    std::string wppControlGuid;
    std::optional<WppSession> wppSession = WppSession{};
    std::vector<DiagnosticRecord> diagnostics;
    std::map<UCHAR, std::size_t> diagnosticsByLevel; // all of them, also those dropped

    // The world beside the driver.
    std::map<std::wstring, std::shared_ptr<DeviceObjectImpl>> namedDevices;
    std::set<std::wstring> removePending; // query-remove passed; creates fail until cancel
    std::vector<std::uint64_t> queryTold; // the files of the targets the last query told
    std::uint64_t opens = 0;              // file objects created, for their serials
    std::vector<InterfaceInstance> interfaces;
    std::map<std::pair<ULONG, ULONG>, std::vector<std::uint8_t>> firmwareTables;
    bool auxKlibInitialized = false;

    // Fault injection.
    std::map<std::string, std::deque<NTSTATUS>> failures;
    std::map<std::string, std::map<std::size_t, NTSTATUS>> failingCalls;
    std::map<std::string, std::size_t> callCounts;
    std::vector<CallbackRecord> callbacks;

    // The lists above keep the last `historyLimit` entries each; 0 keeps all.
    std::size_t historyLimit = 0;

    // Events: one lock and one condition for all of them, and the threads blocked on one.
    std::mutex dispatcherLock;
    std::condition_variable dispatcherChanged;
    std::size_t threadsWaiting = 0;
};

// Host memory of a pool block; paged blocks on pages of their own.
void* AllocatePoolBlock(std::size_t bytes, bool paged);
void FreePoolBlock(void* p, const PoolBlock& block);
// True while D0 entry or D0 exit of a stack that is not power pageable runs on this thread:
// a paged allocation, a file opened or closed then bug-checks. A touch of a paged block
// faults on any thread while such a callback runs.
bool PagedPoolFenced();
class PowerPathScope {
  public:
    explicit PowerPathScope(bool pageable);
    ~PowerPathScope();
    PowerPathScope(const PowerPathScope&) = delete;
    PowerPathScope& operator=(const PowerPathScope&) = delete;

  private:
    bool active_;
};

// Runs the queued work items when the operation that declares it returns, after the
// operation's own locks have been released.
struct WorkAfterReturn {
    Machine& machine;
    ~WorkAfterReturn() {
        if (!machine.GetState().ownWorker) {
            machine.RunWorkItems();
        }
    }
};

// The state of the machine that is running, or a bug check if there is none.
Machine::State& Current();
// The same, or null when no machine runs (a run-time library routine needs none).
Machine::State* CurrentIfAny();

// Where a scheduler of the machine's threads may let another thread go on: at the entry of
// every framework and kernel routine that a driver calls, before it takes any lock of the
// stand-in's. The stand-in's own calls of those routines, and what a driver's header inlines
// (the trace preprocessor's flag tests, interlocked operations), have none.
inline void SwitchPoint(const char* routine) {
    if (Machine::State* s = CurrentIfAny()) {
        s->hardware->Yield(routine);
    }
}

// Waits on `changed`, with `guard` held, until `ready` holds. Under a scheduler the thread
// does not block: it lets the others go on until `ready` holds.
template <typename Guard, typename Condition, typename Ready>
void WaitUntil(Machine::State& s, Guard& guard, Condition& changed, Ready ready,
               const char* routine) {
    if (!s.hardware->Scheduled()) {
        changed.wait(guard, ready);
        return;
    }
    while (!ready()) {
        guard.unlock();
        s.hardware->Blocked(routine);
        guard.lock();
    }
}

// Takes a mutex that another thread may hold: under a scheduler, by letting the others go on.
template <typename Mutex> void Acquire(Machine::State& s, Mutex& mutex, const char* routine) {
    if (!s.hardware->Scheduled()) {
        mutex.lock();
        return;
    }
    while (!mutex.try_lock()) {
        s.hardware->Blocked(routine);
    }
}
// Status the named routine must fail with now, or STATUS_SUCCESS.
NTSTATUS InjectedFailure(const char* routine);

// The books as they stand; the caller holds the lock.
// Everything held now; with `owner`, what that device created and still holds (objects,
// mappings, pool and notifications).
Books CountBooks(const Machine::State& s, std::optional<DeviceId> owner = std::nullopt);

// Brackets one driver callback on the calling thread: routines called meanwhile are counted
// for it, and at the end it goes into the machine's list of callbacks with its status.
class CallbackScope {
  public:
    CallbackScope(const char* callback, DeviceId device);
    ~CallbackScope();
    CallbackScope(const CallbackScope&) = delete;
    CallbackScope& operator=(const CallbackScope&) = delete;

    NTSTATUS Returned(NTSTATUS status); // records and passes the status on
    void Called(const char* routine, NTSTATUS injected);
    // The device of the innermost callback on this thread that runs for one (a notification
    // delivered within prepare hardware belongs to that device), or 0.
    static DeviceId OwnerNow();

  private:
    CallbackRecord record_;
    std::map<std::string, std::size_t> calls_;
    CallbackScope* outer_;
};

// Object tree.
Object* Lookup(WDFOBJECT handle, const char* routine); // bug check on a stale handle
template <typename T> T* LookupAs(WDFOBJECT handle, ObjectKind kind, const char* routine) {
    Object* o = Lookup(handle, routine);
    if (o->kind != kind) {
        BugCheck(std::string(routine) + ": handle is a " + KindName(o->kind) + ", not a " +
                 KindName(kind));
    }
    return static_cast<T*>(o);
}
NTSTATUS Attach(Object* object, PWDF_OBJECT_ATTRIBUTES attributes, Object* defaultParent,
                const char* routine);
void DeleteObject(Object* object);
void CloseTarget(IoTargetImpl* target, bool forGood);
void FlushWorkItem(WorkItemImpl* item);

std::string GuidText(const GUID& guid);
std::wstring UnicodeText(PCUNICODE_STRING text);

} // namespace kmdf
