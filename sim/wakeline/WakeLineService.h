#pragma once
// The wake-line service: another driver's device, published under the interface class
// {902FE583-D28A-49C4-A8E0-23EFCEDCF7C7}. It answers the interface query with a record whose
// ConfigureWakeLine it serves, or fails the query; it records every call with its line,
// constant and mode, or fails the calls. Calls appear in the SoC trace as requests to
// "wake-line". One service runs at a time (its routine takes no context). Every setting goes
// through the service's lock, so a test may change it while instances run. An interface
// handed out stays usable until it is dereferenced, also after the device has been
// withdrawn; a call through one that nobody references any more ends the process.
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
};

struct Query {
    USHORT size = 0;
    USHORT version = 0;
    PVOID interfaceSpecificData = nullptr;
    NTSTATUS status = STATUS_SUCCESS;
};

class WakeLineService : public kmdf::Endpoint,
                        public std::enable_shared_from_this<WakeLineService> {
  public:
    static constexpr const wchar_t* kDeviceName = L"\\Device\\WakeLineService0";
    static constexpr const wchar_t* kSymbolicLink =
        L"\\??\\ACPI#WKLN0001#0#{902fe583-d28a-49c4-a8e0-23efcedcf7c7}";

    static std::shared_ptr<WakeLineService> Create(soc::Soc& soc);
    ~WakeLineService() override;

    // The device appears and its interface arrives; notifications run on the calling thread.
    void Publish(kmdf::Machine& machine);
    // The interface is removed and the device goes away.
    void Withdraw(kmdf::Machine& machine);

    void FailQueries(NTSTATUS status); // STATUS_SUCCESS answers them again
    void FailCalls(NTSTATUS status);

    std::vector<Call> Calls() const;
    std::vector<Query> Queries() const;
    // Keeps only the last `entries` calls and queries (at least; 0, the default, keeps all).
    void LimitHistory(std::size_t entries);
    int References() const; // interface references held by consumers

    // kmdf::Endpoint
    NTSTATUS QueryInterface(const GUID& type, INTERFACE* iface, USHORT size, USHORT version,
                            PVOID interfaceSpecificData) override;

  private:
    explicit WakeLineService(soc::Soc& soc) : soc_(soc) {}
    static NTSTATUS ConfigureWakeLine(WAKE_LINE_REQUEST request);
    static void Reference(PVOID context);
    static void Dereference(PVOID context);
    NTSTATUS Configure(const WAKE_LINE_REQUEST& request);

    soc::Soc& soc_;
    mutable std::mutex lock_;
    NTSTATUS queryStatus_ = STATUS_SUCCESS;
    NTSTATUS callStatus_ = STATUS_SUCCESS;
    std::vector<Call> calls_;
    std::vector<Query> queries_;
    std::size_t historyLimit_ = 0;
    int references_ = 0;
};

} // namespace wakeline
