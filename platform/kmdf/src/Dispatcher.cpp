// Kernel events: a synchronization event releases one waiter and resets itself, a
// notification event stays signalled until it is reset. Waits block the calling thread in
// real time; they take no virtual time.
#include "State.h"

using namespace kmdf;

VOID KeInitializeEvent(PRKEVENT Event, EVENT_TYPE Type, BOOLEAN State) {
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
    auto& s = Current();
    std::unique_lock guard(s.dispatcherLock);
    ++s.threadsWaiting;
    s.dispatcherChanged.wait(guard, [event] { return event->Header.SignalState != 0; });
    --s.threadsWaiting;
    if (event->Header.Type == SynchronizationEvent) {
        event->Header.SignalState = 0;
    }
    return STATUS_SUCCESS;
}

namespace kmdf {

std::size_t Machine::ThreadsWaiting() const {
    std::lock_guard guard(state_->dispatcherLock);
    return state_->threadsWaiting;
}

} // namespace kmdf
