// The wake-line service model.
#include "WakeLineService.h"

#include <kmdf/History.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace wakeline {

namespace {
std::atomic<WakeLineService*> g_service{nullptr};
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
    g_service.store(nullptr);
}

void WakeLineService::Publish(kmdf::Machine& machine) {
    machine.AddNamedDevice(kDeviceName, shared_from_this());
    machine.ArriveInterface(GUID_WAKE_LINE_INTERFACE, kSymbolicLink, kDeviceName);
}

void WakeLineService::Withdraw(kmdf::Machine& machine) {
    machine.RemoveNamedDevice(kDeviceName);
    machine.RemoveInterface(GUID_WAKE_LINE_INTERFACE, kSymbolicLink);
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

void WakeLineService::LimitHistory(std::size_t entries) {
    std::lock_guard guard(lock_);
    historyLimit_ = entries;
}

int WakeLineService::References() const {
    std::lock_guard guard(lock_);
    return references_;
}

NTSTATUS WakeLineService::QueryInterface(const GUID& type, INTERFACE* iface, USHORT size,
                                         USHORT version, PVOID interfaceSpecificData) {
    std::lock_guard guard(lock_);
    Query q{size, version, interfaceSpecificData, queryStatus_};
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
    record->Context = this;
    record->InterfaceReference = Reference;
    record->InterfaceDereference = Dereference;
    record->ConfigureWakeLine = ConfigureWakeLine;
    ++references_; // the provider references the interface it hands out
    return STATUS_SUCCESS;
}

NTSTATUS WakeLineService::Configure(const WAKE_LINE_REQUEST& request) {
    NTSTATUS status;
    {
        std::lock_guard guard(lock_);
        // The routine stays valid while its interface is referenced, whether or not the
        // device is still published; a call after the last dereference is the caller's fault.
        if (references_ <= 0) {
            std::fprintf(stderr, "wakeline: ConfigureWakeLine through an interface given back\n");
            std::abort();
        }
        status = callStatus_;
        kmdf::AppendBounded(calls_, Call{request.LineNumber, request.Enable, request.Mode, status},
                            historyLimit_);
    }
    soc::TraceRecord r;
    r.target = "wake-line";
    r.line = request.LineNumber;
    r.mode = request.Mode;
    r.status = status;
    soc_.RecordRequest(r);
    return status;
}

NTSTATUS WakeLineService::ConfigureWakeLine(WAKE_LINE_REQUEST request) {
    WakeLineService* service = g_service.load();
    if (service == nullptr) {
        std::fprintf(stderr, "wakeline: ConfigureWakeLine with no service running\n");
        std::abort();
    }
    return service->Configure(request);
}

void WakeLineService::Reference(PVOID context) {
    auto* service = static_cast<WakeLineService*>(context);
    std::lock_guard guard(service->lock_);
    ++service->references_;
}

void WakeLineService::Dereference(PVOID context) {
    auto* service = static_cast<WakeLineService*>(context);
    std::lock_guard guard(service->lock_);
    if (--service->references_ < 0) {
        std::fprintf(stderr, "wakeline: interface dereferenced more often than referenced\n");
        std::abort();
    }
}

} // namespace wakeline
