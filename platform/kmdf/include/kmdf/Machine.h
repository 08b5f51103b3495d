#pragma once
// The stand-in's Plug and Play manager and bookkeeper: loads the driver, adds a device per
// controller instance, starts it, takes it through power transitions, stops and removes it,
// and unloads the driver. It keeps the books that a driver must balance (live framework
// objects, mapped ranges, pool by tag, notifications, object references, providers) and the
// world beside the driver: named devices, device interfaces, firmware tables, event consumers.
#include <kmdf/Hardware.h>
#include <evntrace.h>
#include <wdf.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kmdf {

// A device outside the driver that an I/O target can be opened on.
class Endpoint {
  public:
    virtual ~Endpoint() = default;
    // timeout100ns: 0 for none, negative relative, as the framework passes it.
    // STATUS_PENDING means that the device never completes the request: the framework then
    // cancels it when the send time-out has passed on the machine's clock, tells the endpoint
    // through Cancelled, and the sender sees STATUS_IO_TIMEOUT.
    virtual NTSTATUS DeviceIoControl(ULONG code, const void* input, std::size_t inputLength,
                                     void* output, std::size_t outputLength, ULONG_PTR* returned,
                                     LONGLONG timeout100ns);
    // A request that this endpoint left pending was cancelled; `status` is what the sender saw.
    virtual void Cancelled(ULONG code, NTSTATUS status);
    virtual NTSTATUS QueryInterface(const GUID& type, INTERFACE* iface, USHORT size, USHORT version,
                                    PVOID interfaceSpecificData);
};

// A WPP trace session on the driver's control GUID, as a trace controller starts one: the level
// up to which and the flags (bit k for the k-th WPP_DEFINE_BIT) for which the driver's trace
// calls are enabled. Without a session nothing is enabled.
struct WppSession {
    UCHAR level = TRACE_LEVEL_VERBOSE;
    ULONG flags = 0xFFFFFFFF;
};

struct Books {
    std::size_t objects = 0;
    std::size_t mappings = 0;
    std::size_t poolAllocations = 0;
    std::map<ULONG, std::size_t> poolByTag;
    std::size_t pagedPoolAllocations = 0; // of poolAllocations, those from paged pool
    std::size_t notifications = 0;
    std::size_t references = 0;
    std::size_t providers = 0;
    std::size_t wppSessions = 0;

    bool AllZero() const;
    std::string Describe() const;
};

struct DeviceSpec {
    std::string name;
    int instance = -1; // shown as the actor of the device's accesses in the hardware trace
    std::vector<CM_PARTIAL_RESOURCE_DESCRIPTOR> raw;
    std::vector<CM_PARTIAL_RESOURCE_DESCRIPTOR> translated;
    std::shared_ptr<Endpoint> lowerDevice; // the filter's default I/O target
    bool lowerPowerPageable = true;        // DO_POWER_PAGABLE of the device below
};

using DeviceId = std::size_t;

// A device's resource lists, as the PnP manager assigns them at a start.
struct ResourceLists {
    std::vector<CM_PARTIAL_RESOURCE_DESCRIPTOR> raw;
    std::vector<CM_PARTIAL_RESOURCE_DESCRIPTOR> translated;
};

// One driver callback as the machine made it: which, for which device (0 for the driver's
// own and the notification callbacks), what it returned, the injected failure that a routine
// called from it (not from a callback nested in it) returned, if any, and the books as the
// callback left them.
struct CallbackRecord {
    std::string callback; // "DriverEntry", "EvtDevicePrepareHardware", "Notification", ...
    DeviceId device = 0;
    NTSTATUS status = 0;
    std::string failedRoutine;  // empty when no injected failure was returned inside it
    std::size_t failedCall = 0; // which call of failedRoutine inside this callback, from 1
    Books books;
};

class Machine {
  public:
    explicit Machine(Hardware& hardware);
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    Hardware& GetHardware();

    // Driver lifetime.
    NTSTATUS LoadDriver(PDRIVER_INITIALIZE entry,
                        const std::wstring& registryPath =
                            L"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\Pelvane");
    bool DriverLoaded() const;
    void UnloadDriver(); // removes the devices that are still there first

    // Devices. The callbacks of one device never overlap; different devices may be driven
    // from different threads. A transition that the device's state does not allow (D0 exit
    // outside D0, a second start) is refused with STATUS_INVALID_DEVICE_STATE.
    // WdfDeviceGetSystemPowerAction follows the framework for a filter that does not own its
    // stack's power policy: PowerActionNone at start and stop; the shutdown type of the Dx
    // request that last took the device out of D0 until D0 entry has returned.
    NTSTATUS AddDevice(const DeviceSpec& spec, DeviceId* id);
    WDFDEVICE Device(DeviceId id) const;
    bool DevicePresent(DeviceId id) const; // false once removed or torn down
    bool DeviceStarted(DeviceId id) const;
    NTSTATUS StartDevice(DeviceId id); // prepare hardware, then D0 entry from D3Final
    // The device power requests that the power policy owner above the filter sends (see
    // kmdf/PowerPolicyOwner.h): a Dx request with the shutdown type the owner gave it (a
    // shutdown reaches D0 exit as D3Final), and a D0 request. A Dx request targets D1 to D3;
    // any other target (PrepareForHibernation too: the framework chooses it) is refused with
    // STATUS_INVALID_PARAMETER. After D3Final only a new start brings the device back. A
    // failed D0 exit, or a failed D0 entry, tears the stack down: release hardware runs (no D0
    // exit after a failed D0 entry) and the device is gone until it is added again.
    // A Dx request with the hibernate action reaches a device on the hibernation path (see
    // NotifyUsage) as PrepareForHibernation, whatever target the request carried.
    NTSTATUS ExitD0(DeviceId id, WDF_POWER_DEVICE_STATE target, POWER_ACTION shutdownType);
    NTSTATUS EnterD0(DeviceId id);
    // D0 exit to D3Final, then release hardware; a failed D0 exit is the result, after the
    // teardown it causes.
    NTSTATUS StopDevice(DeviceId id);
    // A usage notification for a special file (paging, hibernation, dump) on a disk behind the
    // device, as the framework delivers it to a filter: always accepted, and the filter's
    // pageability mirrors the device below, which is not power pageable while it carries a
    // special file. D0 entry and D0 exit of a stack that is not power pageable bug-check on
    // a paged allocation and fault on any touch of paged pool.
    NTSTATUS NotifyUsage(DeviceId id, DEVICE_USAGE_NOTIFICATION_TYPE type, bool inPath);
    bool PowerPageable(DeviceId id) const;
    bool HibernationPath(DeviceId id) const; // the hibernation file is behind the device
    void RemoveDevice(DeviceId id);          // nothing for a device that was torn down

    // The device's own PnP life beyond an orderly stop, as the framework delivers it to a
    // filter that does not own power policy (the action is PowerActionNone throughout).
    // Surprise removal: in D0, D0 exit to D3Final and release hardware; in Dx (runtime idle),
    // release hardware only, the hardware left as the last power-down left it. The device is
    // then gone; the later requests are refused. STATUS_INVALID_DEVICE_STATE for a device that
    // is gone already.
    NTSTATUS SurpriseRemove(DeviceId id);
    // A restart while started (a resource rebalance), of a device in D0: D0 exit to D3Final,
    // release hardware, prepare hardware with the new lists (none: the lists it has), D0
    // entry from D3Final. A failure tears the stack down as a failed stop or start does.
    NTSTATUS RebalanceDevice(DeviceId id, const std::optional<ResourceLists>& lists = {});
    // After a D0 exit or a D0 entry of a started device fails (ExitD0, EnterD0; not a start's
    // nor a stop's), the framework asks the parent to remove the device and enumerate it again,
    // as long as the device's restart count allows: the device then comes back as a new one,
    // through device add and a start, before the failed request returns. A machine allows no
    // restart until told how many; the count is kept across the device's enumerations. The
    // PnP manager acts on it only in S0: a D0 exit that fails in a system transition (sleep,
    // hibernation, shutdown) would be restarted after the resume, which is not modelled, and
    // leaves the device removed.
    void AllowRestarts(int count);
    // The device that came back for `id` after such a restart, if one did.
    std::optional<DeviceId> Reenumerated(DeviceId id) const;

    // The next `count` calls of the named routine fail with `status`.
    void FailNext(const std::string& routine, NTSTATUS status, int count = 1);
    // The call-th call of the named routine since the machine started (from 1) fails with
    // `status`. Calls are counted where a routine can be made to fail, as CallCount counts.
    void FailCall(const std::string& routine, std::size_t call, NTSTATUS status);
    std::size_t CallCount(const std::string& routine) const;
    std::map<std::string, std::size_t> CallCounts() const;
    // The driver callbacks made so far, in the order in which they returned.
    std::vector<CallbackRecord> Callbacks() const;

    Books GetBooks() const;
    // What the device's callbacks and work items created and still hold: objects, mappings,
    // pool and notifications (references and the driver's registrations are not kept per
    // device). Once the device is removed, nothing should be left.
    Books GetBooks(DeviceId device) const;
    // Threads blocked in KeWaitForSingleObject now.
    std::size_t ThreadsWaiting() const;

    // Diagnostics recorded through WPP.
    std::vector<DiagnosticRecord> Diagnostics() const;
    std::size_t CountDiagnostics(UCHAR level) const;
    // The trace session: by default one at verbose level with every flag; none stops it. A
    // trace call evaluates its arguments only when its flag and level are enabled.
    void SetWppSession(std::optional<WppSession> session);
    void SetTraceLevel(UCHAR level); // a session at that level with every flag
    std::string WppControlGuid() const;
    // Long runs keep only the last `entries` callbacks, diagnostics and events (at least;
    // 0, the default, keeps all); CountDiagnostics still counts every diagnostic.
    void LimitHistory(std::size_t entries);

    // Event consumers.
    void EnableProvider(const GUID& provider, UCHAR level, ULONGLONG matchAnyKeyword,
                        ULONGLONG matchAllKeyword = 0);
    void DisableProvider(const GUID& provider);
    void CaptureProviderState(const GUID& provider);
    bool ProviderRegistered(const GUID& provider) const;
    std::vector<EventRecord> Events() const;

    // Runs the work items queued now, and those they queue, on the calling thread as the
    // system's worker. The machine calls it when an operation that runs driver code returns
    // (start, D0 entry, interface and device changes).
    void RunWorkItems();
    // The caller runs the system worker itself, calling RunWorkItems on a thread of its own
    // while the operations run; they then leave what they queue to it.
    void SetOwnWorker(bool own);

    // The world beside the driver.
    void AddNamedDevice(const std::wstring& name, std::shared_ptr<Endpoint> endpoint);
    void RemoveNamedDevice(const std::wstring& name);
    // Publishes or withdraws a device interface; registered notifications of its class are
    // called on the calling thread, which stands for the system's notification thread.
    void ArriveInterface(const GUID& interfaceClass, const std::wstring& symbolicLink,
                         const std::wstring& deviceName);
    void RemoveInterface(const GUID& interfaceClass, const std::wstring& symbolicLink);
    // A named device's removal, as the PnP manager delivers it to every registration for
    // target device change on a file object of the device, the framework's own for a remote
    // I/O target included. QueryRemoveDevice returns false when the removal is vetoed: a file
    // object of the device was still referenced after the query (remove-cancelled has then
    // been delivered). CompleteRemoveDevice, after a query that was not vetoed, and
    // SurpriseRemoveDevice, without any query, deliver remove-complete and take the device
    // out of the namespace.
    bool QueryRemoveDevice(const std::wstring& name);
    void CancelRemoveDevice(const std::wstring& name);
    void CompleteRemoveDevice(const std::wstring& name);
    void SurpriseRemoveDevice(const std::wstring& name);
    // File object references on the named device, by anybody.
    std::size_t DeviceReferences(const std::wstring& name) const;
    // The file objects on the named device that somebody still references, and those of the
    // targets that the last query-remove told (registered when it began).
    // Files by serial (an address may be used again).
    std::vector<std::uint64_t> DeviceFiles(const std::wstring& name) const;
    std::vector<std::uint64_t> FilesToldOfLastQuery() const;
    void SetFirmwareTable(ULONG provider, ULONG tableId, std::vector<std::uint8_t> table);

    struct State;
    State& GetState();

  private:
    std::unique_ptr<State> state_;
};

} // namespace kmdf
