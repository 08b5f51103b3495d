// Event providers and the trace consumers that enable them.
#include "State.h"

using namespace kmdf;

namespace {

bool SessionWants(const Session& session, PCEVENT_DESCRIPTOR d) {
    if (session.level != 0 && d->Level > session.level) {
        return false;
    }
    if (d->Keyword == 0) {
        return true;
    }
    return (session.matchAny == 0 || (d->Keyword & session.matchAny) != 0) &&
           (d->Keyword & session.matchAll) == session.matchAll;
}

const Session* SessionFor(Machine::State& s, REGHANDLE handle) {
    auto p = s.providers.find(handle);
    if (p == s.providers.end()) {
        return nullptr;
    }
    auto session = s.sessions.find(GuidText(p->second.id));
    return session == s.sessions.end() ? nullptr : &session->second;
}

// Calls the enable callbacks of every registration of the provider, outside the lock.
void Notify(Machine::State& s, const GUID& provider, ULONG code, const Session& session) {
    std::vector<Provider> targets;
    {
        std::lock_guard guard(s.lock);
        for (auto& [handle, p] : s.providers) {
            if (IsEqualGUID(p.id, provider) && p.callback != nullptr) {
                targets.push_back(p);
            }
        }
    }
    for (auto& p : targets) {
        p.callback(&p.id, code, session.level, session.matchAny, session.matchAll, nullptr,
                   p.context);
    }
}

} // namespace

NTSTATUS EtwRegister(LPCGUID ProviderId, PETWENABLECALLBACK EnableCallback, PVOID CallbackContext,
                     PREGHANDLE RegHandle) {
    SwitchPoint("EtwRegister");
    if (ProviderId == nullptr || RegHandle == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    *RegHandle = 0;
    NTSTATUS status = InjectedFailure("EtwRegister");
    if (!NT_SUCCESS(status)) {
        return status;
    }
    auto& s = Current();
    Provider p{*ProviderId, EnableCallback, CallbackContext};
    Session session;
    bool enabled = false;
    {
        std::lock_guard guard(s.lock);
        REGHANDLE handle = s.nextProvider++;
        s.providers[handle] = p;
        *RegHandle = handle;
        auto it = s.sessions.find(GuidText(*ProviderId));
        if (it != s.sessions.end()) {
            session = it->second;
            enabled = true;
        }
    }
    // A provider that a session enabled earlier learns it during registration.
    if (enabled && EnableCallback != nullptr) {
        EnableCallback(ProviderId, EVENT_CONTROL_CODE_ENABLE_PROVIDER, session.level,
                       session.matchAny, session.matchAll, nullptr, CallbackContext);
    }
    return STATUS_SUCCESS;
}

NTSTATUS EtwUnregister(REGHANDLE RegHandle) {
    SwitchPoint("EtwUnregister");
    auto& s = Current();
    std::lock_guard guard(s.lock);
    if (s.providers.erase(RegHandle) == 0) {
        return STATUS_INVALID_HANDLE;
    }
    return STATUS_SUCCESS;
}

BOOLEAN EtwEventEnabled(REGHANDLE RegHandle, PCEVENT_DESCRIPTOR EventDescriptor) {
    SwitchPoint("EtwEventEnabled");
    auto& s = Current();
    std::lock_guard guard(s.lock);
    const Session* session = SessionFor(s, RegHandle);
    return session != nullptr && SessionWants(*session, EventDescriptor);
}

NTSTATUS EtwWriteTransfer(REGHANDLE RegHandle, PCEVENT_DESCRIPTOR EventDescriptor,
                          LPCGUID ActivityId, LPCGUID RelatedActivityId, ULONG UserDataCount,
                          PEVENT_DATA_DESCRIPTOR UserData) {
    SwitchPoint("EtwWriteTransfer");
    UNREFERENCED_PARAMETER(ActivityId);
    UNREFERENCED_PARAMETER(RelatedActivityId);
    auto& s = Current();
    if (EventDescriptor == nullptr || (UserDataCount != 0 && UserData == nullptr)) {
        return STATUS_INVALID_PARAMETER;
    }
    EventRecord e;
    {
        std::lock_guard guard(s.lock);
        if (s.providers.count(RegHandle) == 0) {
            return STATUS_INVALID_HANDLE;
        }
        const Session* session = SessionFor(s, RegHandle);
        if (session == nullptr || !SessionWants(*session, EventDescriptor)) {
            return STATUS_SUCCESS;
        }
        // An event that a session wants can still be lost, for want of buffers.
        NTSTATUS status = InjectedFailure("EtwWriteTransfer");
        if (!NT_SUCCESS(status)) {
            return status;
        }
        e.id = EventDescriptor->Id;
        e.version = EventDescriptor->Version;
        e.channel = EventDescriptor->Channel;
        e.level = EventDescriptor->Level;
        e.opcode = EventDescriptor->Opcode;
        e.task = EventDescriptor->Task;
        e.keyword = EventDescriptor->Keyword;
        for (ULONG i = 0; i < UserDataCount; ++i) {
            auto* p = reinterpret_cast<const std::uint8_t*>(UserData[i].Ptr);
            e.data.emplace_back(p, p + UserData[i].Size);
        }
        AppendBounded(s.events, e, s.historyLimit);
    }
    s.hardware->OnEvent(e);
    return STATUS_SUCCESS;
}

namespace kmdf {

void Machine::EnableProvider(const GUID& provider, UCHAR level, ULONGLONG matchAnyKeyword,
                             ULONGLONG matchAllKeyword) {
    Session session{level, matchAnyKeyword, matchAllKeyword};
    {
        std::lock_guard guard(state_->lock);
        state_->sessions[GuidText(provider)] = session;
    }
    Notify(*state_, provider, EVENT_CONTROL_CODE_ENABLE_PROVIDER, session);
}

void Machine::DisableProvider(const GUID& provider) {
    {
        std::lock_guard guard(state_->lock);
        state_->sessions.erase(GuidText(provider));
    }
    Notify(*state_, provider, EVENT_CONTROL_CODE_DISABLE_PROVIDER, Session{});
}

void Machine::CaptureProviderState(const GUID& provider) {
    Session session;
    {
        std::lock_guard guard(state_->lock);
        auto it = state_->sessions.find(GuidText(provider));
        if (it == state_->sessions.end()) {
            return;
        }
        session = it->second;
    }
    Notify(*state_, provider, EVENT_CONTROL_CODE_CAPTURE_STATE, session);
}

bool Machine::ProviderRegistered(const GUID& provider) const {
    std::lock_guard guard(state_->lock);
    for (auto& [handle, p] : state_->providers) {
        if (IsEqualGUID(p.id, provider)) {
            return true;
        }
    }
    return false;
}

} // namespace kmdf
