// Kernel events: a synchronization event releases one waiter and resets itself, a
// notification event stays signalled until it is reset. Waits block the calling thread in
// real time; they take no virtual time.
#include "State.h"

using namespace kmdf;

VOID KeInitializeEvent(PRKEVENT Event, EVENT_TYPE Type, BOOLEAN State) {
    SwitchPoint("KeInitializeEvent");
    if (Event == nullptr) {
        BugCheck("KeInitializeEvent: no event");
    }
    auto& s = Current();
    std::lock_guard guard(s.dispatcherLock);
    *Event = KEVENT{};
    Event->Header.Type = static_cast<UCHAR>(Type);
    Event->Header.Size = sizeof(KEVENT) / sizeof(LONG);
    Event->Header.SignalState = State ? 1 : 0;
}

LONG KeSetEvent(PRKEVENT Event, KPRIORITY Increment, BOOLEAN Wait) {
    UNREFERENCED_PARAMETER(Increment);
    if (Event == nullptr || Event->Header.Size != sizeof(KEVENT) / sizeof(LONG)) {
        BugCheck("KeSetEvent: not an initialised event");
    }
    if (Wait) {
        BugCheck("KeSetEvent: Wait TRUE is not modelled");
    }
    SwitchPoint("KeSetEvent");
    auto& s = Current();
    std::lock_guard guard(s.dispatcherLock);
    LONG previous = Event->Header.SignalState;
    Event->Header.SignalState = 1;
    s.dispatcherChanged.notify_all();
    return previous;
}

NTSTATUS KeWaitForSingleObject(PVOID Object, KWAIT_REASON WaitReason, KPROCESSOR_MODE WaitMode,
                               BOOLEAN Alertable, PLARGE_INTEGER Timeout) {
    UNREFERENCED_PARAMETER(WaitReason);
    UNREFERENCED_PARAMETER(WaitMode);
    auto* event = static_cast<PRKEVENT>(Object);
    if (event == nullptr || event->Header.Size != sizeof(KEVENT) / sizeof(LONG)) {
        BugCheck("KeWaitForSingleObject: not an initialised event");
    }
    if (Timeout != nullptr || Alertable) {
        BugCheck("KeWaitForSingleObject: only an unalertable wait without a time-out is modelled");
    }
    SwitchPoint("KeWaitForSingleObject");
    auto& s = Current();
    std::unique_lock guard(s.dispatcherLock);
    ++s.threadsWaiting;
    WaitUntil(
        s, guard, s.dispatcherChanged, [event] { return event->Header.SignalState != 0; },
        "KeWaitForSingleObject");
    --s.threadsWaiting;
    if (event->Header.Type == SynchronizationEvent) {
        event->Header.SignalState = 0;
    }
    return STATUS_SUCCESS;
}

// Run-down protection: bit 0 of Count marks a run-down begun, the rest counts acquisitions
// in steps of two, as the kernel keeps it.
constexpr ULONG_PTR kRundownActive = 1;

VOID ExInitializeRundownProtection(PEX_RUNDOWN_REF RunRef) {
    SwitchPoint("ExInitializeRundownProtection");
    auto& s = Current();
    std::lock_guard guard(s.dispatcherLock);
    RunRef->Count = 0;
}

VOID ExReInitializeRundownProtection(PEX_RUNDOWN_REF RunRef) {
    SwitchPoint("ExReInitializeRundownProtection");
    auto& s = Current();
    std::lock_guard guard(s.dispatcherLock);
    if (RunRef->Count != kRundownActive) {
        BugCheck("ExReInitializeRundownProtection: the run-down has not completed");
    }
    RunRef->Count = 0;
}

BOOLEAN ExAcquireRundownProtection(PEX_RUNDOWN_REF RunRef) {
    SwitchPoint("ExAcquireRundownProtection");
    auto& s = Current();
    std::lock_guard guard(s.dispatcherLock);
    if (RunRef->Count & kRundownActive) {
        return FALSE;
    }
    RunRef->Count += 2;
    return TRUE;
}

VOID ExReleaseRundownProtection(PEX_RUNDOWN_REF RunRef) {
    SwitchPoint("ExReleaseRundownProtection");
    auto& s = Current();
    std::lock_guard guard(s.dispatcherLock);
    if (RunRef->Count < 2) {
        BugCheck("ExReleaseRundownProtection: released more often than acquired");
    }
    RunRef->Count -= 2;
    s.dispatcherChanged.notify_all();
}

VOID ExWaitForRundownProtectionRelease(PEX_RUNDOWN_REF RunRef) {
    SwitchPoint("ExWaitForRundownProtectionRelease");
    auto& s = Current();
    std::unique_lock guard(s.dispatcherLock);
    RunRef->Count |= kRundownActive;
    ++s.threadsWaiting;
    WaitUntil(
        s, guard, s.dispatcherChanged, [RunRef] { return RunRef->Count == kRundownActive; },
        "ExWaitForRundownProtectionRelease");
    --s.threadsWaiting;
}

namespace kmdf {

std::size_t Machine::ThreadsWaiting() const {
    std::lock_guard guard(state_->dispatcherLock);
    return state_->threadsWaiting;
}

} // namespace kmdf
