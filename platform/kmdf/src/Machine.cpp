// The machine: current-instance registry, bug checks, fault injection and the books.
#include "State.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <sys/mman.h>

namespace kmdf {

namespace {
std::atomic<Machine*> g_current{nullptr};
}

[[noreturn]] void BugCheck(const std::string& why) {
    std::fprintf(stderr, "*** STOP (stand-in bug check): %s\n", why.c_str());
    std::fflush(stderr);
    std::abort();
}

Machine::State& Current() {
    Machine* m = g_current.load();
    if (m == nullptr) {
        BugCheck("kernel routine called with no machine running");
    }
    return m->GetState();
}

Machine::State* CurrentIfAny() {
    Machine* m = g_current.load();
    return m == nullptr ? nullptr : &m->GetState();
}

namespace {
thread_local CallbackScope* t_callback = nullptr;
}

Books CountBooks(const Machine::State& s, std::optional<DeviceId> owner) {
    auto counts = [&](DeviceId of) { return !owner || of == *owner; };
    Books b;
    for (const Object* o : s.live) {
        b.objects += counts(o->owner) ? 1 : 0;
    }
    for (const Mapping& m : s.mappings) {
        b.mappings += counts(m.owner) ? 1 : 0;
    }
    for (auto& [ptr, entry] : s.pool) {
        if (!counts(entry.owner)) {
            continue;
        }
        ++b.poolAllocations;
        ++b.poolByTag[entry.tag];
        if (entry.paged) {
            ++b.pagedPoolAllocations;
        }
    }
    for (auto& [entry, n] : s.notifications) {
        if (n->active && counts(n->owner)) {
            ++b.notifications;
        }
    }
    if (owner) {
        return b; // references and registrations are the driver's, not kept per device
    }
    for (auto& [object, count] : s.references) {
        b.references += static_cast<std::size_t>(count);
    }
    b.providers = s.providers.size();
    b.wppSessions = static_cast<std::size_t>(s.wppSessions);
    return b;
}

NTSTATUS InjectedFailure(const char* routine) {
    auto& s = Current();
    NTSTATUS status = STATUS_SUCCESS;
    {
        std::lock_guard guard(s.lock);
        std::size_t call = ++s.callCounts[routine];
        auto planned = s.failingCalls.find(routine);
        if (planned != s.failingCalls.end()) {
            auto it = planned->second.find(call);
            if (it != planned->second.end()) {
                status = it->second;
                planned->second.erase(it);
            }
        }
        auto it = s.failures.find(routine);
        if (NT_SUCCESS(status) && it != s.failures.end() && !it->second.empty()) {
            status = it->second.front();
            it->second.pop_front();
        }
    }
    if (t_callback != nullptr) {
        t_callback->Called(routine, status);
    }
    return status;
}

CallbackScope::CallbackScope(const char* callback, DeviceId device) : outer_(t_callback) {
    record_.callback = callback;
    record_.device = device;
    t_callback = this;
}

CallbackScope::~CallbackScope() {
    t_callback = outer_;
    auto& s = Current();
    std::lock_guard guard(s.lock);
    record_.books = CountBooks(s);
    AppendBounded(s.callbacks, std::move(record_), s.historyLimit);
}

DeviceId CallbackScope::OwnerNow() {
    for (const CallbackScope* scope = t_callback; scope != nullptr; scope = scope->outer_) {
        if (scope->record_.device != 0) {
            return scope->record_.device;
        }
    }
    return 0;
}

NTSTATUS CallbackScope::Returned(NTSTATUS status) {
    record_.status = status;
    return status;
}

void CallbackScope::Called(const char* routine, NTSTATUS injected) {
    std::size_t call = ++calls_[routine];
    if (!NT_SUCCESS(injected) && record_.failedRoutine.empty()) {
        record_.failedRoutine = routine;
        record_.failedCall = call;
    }
}

std::string GuidText(const GUID& g) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1,
                  g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                  g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

std::wstring UnicodeText(PCUNICODE_STRING text) {
    if (text == nullptr || text->Buffer == nullptr) {
        return {};
    }
    return std::wstring(text->Buffer, text->Length / sizeof(WCHAR));
}

NTSTATUS Endpoint::DeviceIoControl(ULONG, const void*, std::size_t, void*, std::size_t,
                                   ULONG_PTR* returned, LONGLONG) {
    if (returned != nullptr) {
        *returned = 0;
    }
    return STATUS_INVALID_DEVICE_REQUEST;
}

void Endpoint::Cancelled(ULONG, NTSTATUS) {}

NTSTATUS Endpoint::QueryInterface(const GUID&, INTERFACE*, USHORT, USHORT, PVOID) {
    return STATUS_NOT_SUPPORTED;
}

bool Books::AllZero() const {
    return objects == 0 && mappings == 0 && poolAllocations == 0 && notifications == 0 &&
           references == 0 && providers == 0 && wppSessions == 0;
}

std::string Books::Describe() const {
    std::ostringstream out;
    out << "objects " << objects << ", mappings " << mappings << ", pool " << poolAllocations;
    if (pagedPoolAllocations != 0) {
        out << " (paged " << pagedPoolAllocations << ")";
    }
    for (auto& [tag, count] : poolByTag) {
        char name[5] = {char(tag & 0xFF), char((tag >> 8) & 0xFF), char((tag >> 16) & 0xFF),
                        char((tag >> 24) & 0xFF), 0};
        out << " [" << name << " " << count << "]";
    }
    out << ", notifications " << notifications << ", references " << references << ", providers "
        << providers << ", wpp sessions " << wppSessions;
    return out.str();
}

Machine::Machine(Hardware& hardware) : state_(std::make_unique<State>()) {
    state_->hardware = &hardware;
    Machine* expected = nullptr;
    if (!g_current.compare_exchange_strong(expected, this)) {
        BugCheck("a second machine was started while one is running");
    }
}

// Whatever the driver left behind is reclaimed here, after the books could be read, so that
// one leaking run does not disturb the host process.
Machine::~Machine() {
    if (state_->driver != nullptr) {
        UnloadDriver();
    }
    std::vector<Object*> orphans(state_->live.begin(), state_->live.end());
    for (Object* o : orphans) {
        if (state_->live.count(o) != 0 && o->parent == nullptr) {
            DeleteObject(o);
        }
    }
    for (auto& [pointer, entry] : state_->pool) {
        std::free(pointer);
    }
    for (const Mapping& m : state_->mappings) {
        if (m.reservation != nullptr) {
            munmap(m.reservation, m.reservationLength);
        }
    }
    for (auto& [object, count] : state_->references) {
        delete static_cast<_FILE_OBJECT*>(object);
    }
    g_current.store(nullptr);
}

Hardware& Machine::GetHardware() {
    return *state_->hardware;
}
Machine::State& Machine::GetState() {
    return *state_;
}

void Machine::FailNext(const std::string& routine, NTSTATUS status, int count) {
    std::lock_guard guard(state_->lock);
    for (int i = 0; i < count; ++i) {
        state_->failures[routine].push_back(status);
    }
}

void Machine::FailCall(const std::string& routine, std::size_t call, NTSTATUS status) {
    std::lock_guard guard(state_->lock);
    state_->failingCalls[routine][call] = status;
}

std::size_t Machine::CallCount(const std::string& routine) const {
    std::lock_guard guard(state_->lock);
    auto it = state_->callCounts.find(routine);
    return it == state_->callCounts.end() ? 0 : it->second;
}

std::map<std::string, std::size_t> Machine::CallCounts() const {
    std::lock_guard guard(state_->lock);
    return state_->callCounts;
}

std::vector<CallbackRecord> Machine::Callbacks() const {
    std::lock_guard guard(state_->lock);
    return state_->callbacks;
}

Books Machine::GetBooks() const {
    std::lock_guard guard(state_->lock);
    return CountBooks(*state_);
}

Books Machine::GetBooks(DeviceId device) const {
    std::lock_guard guard(state_->lock);
    return CountBooks(*state_, device);
}

std::vector<DiagnosticRecord> Machine::Diagnostics() const {
    std::lock_guard guard(state_->lock);
    return state_->diagnostics;
}

std::size_t Machine::CountDiagnostics(UCHAR level) const {
    std::lock_guard guard(state_->lock);
    auto it = state_->diagnosticsByLevel.find(level);
    return it == state_->diagnosticsByLevel.end() ? 0 : it->second;
}

void Machine::LimitHistory(std::size_t entries) {
    std::lock_guard guard(state_->lock);
    state_->historyLimit = entries;
}

void Machine::SetWppSession(std::optional<WppSession> session) {
    std::lock_guard guard(state_->lock);
    state_->wppSession = session;
}

void Machine::SetTraceLevel(UCHAR level) {
    SetWppSession(WppSession{level, 0xFFFFFFFF});
}

std::string Machine::WppControlGuid() const {
    std::lock_guard guard(state_->lock);
    return state_->wppControlGuid;
}

std::vector<EventRecord> Machine::Events() const {
    std::lock_guard guard(state_->lock);
    return state_->events;
}

void Machine::AddNamedDevice(const std::wstring& name, std::shared_ptr<Endpoint> endpoint) {
    std::lock_guard guard(state_->lock);
    auto object = std::make_shared<DeviceObjectImpl>();
    object->Name = name;
    object->Endpoint = std::move(endpoint);
    state_->namedDevices[name] = std::move(object);
}

void Machine::RemoveNamedDevice(const std::wstring& name) {
    std::lock_guard guard(state_->lock);
    auto it = state_->namedDevices.find(name);
    if (it != state_->namedDevices.end()) {
        // New look-ups fail; the file objects open on it keep it until they are dereferenced.
        state_->namedDevices.erase(it);
    }
}

void Machine::SetFirmwareTable(ULONG provider, ULONG tableId, std::vector<std::uint8_t> table) {
    std::lock_guard guard(state_->lock);
    state_->firmwareTables[{provider, tableId}] = std::move(table);
}

} // namespace kmdf
