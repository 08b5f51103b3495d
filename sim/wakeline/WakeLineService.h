#pragma once
// The wake-line service: another driver's device, published under the interface class
// {902FE583-D28A-49C4-A8E0-23EFCEDCF7C7}. It answers the interface query with a record whose
// ConfigureWakeLine it serves, or fails the query; it records every call with its line,
// constant and mode, or fails the calls. Calls appear in the SoC trace as requests to
// "wake-line" with the instance that answered, and the device's PnP events as "pnp" records of
// "wake-line", each where it happens. Every setting goes through the service's lock, so a test may
// change it while instances run.
//
// The device lives as Windows lets it: each publication is a new instance, numbered from 1,
// with its own device name, symbolic link and context, and each interface handed out reaches
// its own instance. An orderly removal begins with query-remove, which a file object still
// referenced vetoes; a surprise removal has no query. Once an instance's removal has completed
// (or it was surprise-removed) its context is gone: a call through an interface it handed out
// ends the process, as a call into a removed device's code would end the system.
#include <kmdf/Machine.h>
#include <soc/Soc.h>

#include "frame/WakeLineInterface.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace wakeline {

struct Call {
    ULONG line = 0;
    ULONG enable = 0;
    ULONG mode = 0;
    NTSTATUS status = STATUS_SUCCESS;
    int service = 0; // the instance that answered
};

struct Query {
    USHORT size = 0;
    USHORT version = 0;
    PVOID interfaceSpecificData = nullptr;
    NTSTATUS status = STATUS_SUCCESS;
    int service = 0;
};

// One event of the service's device, as the driver's notifications see it.
struct PnpEvent {
    std::string event; // "arrival", "query-remove", "remove-cancelled", "remove-complete",
                       // "surprise-removal"
    int service = 0;
    bool vetoed = false; // query-remove only
};

class WakeLineService : public std::enable_shared_from_this<WakeLineService> {
  public:
    // Instance 1's names; DeviceName(n) and SymbolicLink(n) give those of instance n.
    static constexpr const wchar_t* kDeviceName = L"\\Device\\WakeLineService1";
    static constexpr const wchar_t* kSymbolicLink =
        L"\\??\\ACPI#WKLN0001#1#{902fe583-d28a-49c4-a8e0-23efcedcf7c7}";
    static std::wstring DeviceName(int instance);
    static std::wstring SymbolicLink(int instance);

    static std::shared_ptr<WakeLineService> Create(soc::Soc& soc);
    ~WakeLineService();

    // A new instance appears and its interface arrives; notifications run on the calling
    // thread. Returns the instance's number.
    int Publish(kmdf::Machine& machine);
    // The orderly removal of an instance (0: the newest present): query-remove, then, unless
    // vetoed, the interface's removal and remove-complete. Returns false when vetoed (the
    // instance stays); true also when no instance is present.
    bool Withdraw(kmdf::Machine& machine, int instance = 0);
    // The steps of an orderly removal one by one: query-remove (false when vetoed), cancel,
    // and the removal after a query that passed.
    bool QueryRemove(kmdf::Machine& machine, int instance = 0);
    void CancelRemove(kmdf::Machine& machine, int instance = 0);
    void CompleteRemove(kmdf::Machine& machine, int instance = 0);
    // No query: the instance's context is torn down, its interface removed, remove-complete.
    void SurpriseRemove(kmdf::Machine& machine, int instance = 0);
    int Present() const; // the newest instance not removed, 0 for none

    void FailQueries(NTSTATUS status); // STATUS_SUCCESS answers them again
    void FailCalls(NTSTATUS status);

    std::vector<Call> Calls() const;
    std::vector<Query> Queries() const;
    std::vector<PnpEvent> Events() const;
    // Keeps only the last `entries` calls and queries (at least; 0, the default, keeps all).
    void LimitHistory(std::size_t entries);
    int References() const;             // interface references held by consumers, all instances
    int References(int instance) const; // ... of one instance

    class Instance;

  private:
    explicit WakeLineService(soc::Soc& soc) : soc_(soc) {}
    NTSTATUS Configure(int instance, const WAKE_LINE_REQUEST& request);
    NTSTATUS Answer(Instance& instance, const GUID& type, INTERFACE* iface, USHORT size,
                    USHORT version, PVOID interfaceSpecificData);
    void Record(const char* event, int instance, bool vetoed = false);
    void Removed(kmdf::Machine& machine, int instance, const char* event, bool surprise);
    int Pick(int instance) const; // the instance meant, if present; 0 otherwise
    friend class Instance;

    soc::Soc& soc_;
    mutable std::mutex lock_;
    NTSTATUS queryStatus_ = STATUS_SUCCESS;
    NTSTATUS callStatus_ = STATUS_SUCCESS;
    std::vector<Call> calls_;
    std::vector<Query> queries_;
    std::vector<PnpEvent> events_;
    std::size_t historyLimit_ = 0;
    std::vector<std::shared_ptr<Instance>> instances_; // [n - 1] is instance n
};

} // namespace wakeline
