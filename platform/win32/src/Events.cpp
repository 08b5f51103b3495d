// Events and the wait functions. The waits go through each object's mutex, so whatever a thread
// wrote before SetEvent or before it ended is visible to the thread whose wait it satisfied.

#include <chrono>
#include <thread>

#include <sys/prctl.h>

#include "Objects.h"
#include "winhost/Books.h"

using namespace winhost;

HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCWSTR) {
    if (TakeFailure(Failure::CreateEvent))
        return nullptr;
    auto event = std::make_shared<EventObject>();
    event->manualReset = bManualReset != FALSE;
    event->signalled = bInitialState != FALSE;
    // Windows clears the last error when an unnamed event is made (a named one that exists
    // already leaves ERROR_ALREADY_EXISTS).
    SetLastError(ERROR_SUCCESS);
    return InsertHandle(event);
}

BOOL WINAPI SetEvent(HANDLE hEvent) {
    auto event = LookUp<EventObject>(hEvent);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    {
        std::lock_guard guard(event->lock);
        event->signalled = true;
    }
    event->changed.notify_all();
    return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    // INVALID_HANDLE_VALUE is the current process, which is not signalled while it runs.
    if (hHandle == INVALID_HANDLE_VALUE) {
        do
            Sleep(dwMilliseconds);
        while (dwMilliseconds == INFINITE);
        return WAIT_TIMEOUT;
    }
    auto object = LookUp<Waitable>(hHandle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    std::unique_lock guard(object->lock);
    auto ready = [&] { return object->IsSignalledLocked(); };
    if (dwMilliseconds == INFINITE) {
        object->changed.wait(guard, ready);
    } else if (!object->changed.wait_for(guard, std::chrono::milliseconds(dwMilliseconds), ready)) {
        // The last error is left as it was.
        return WAIT_TIMEOUT;
    }
    object->AfterWaitLocked();
    return WAIT_OBJECT_0;
}

void WINAPI Sleep(DWORD dwMilliseconds) {
    // Linux lets a sleeping thread's timer fire up to 50 us late by default; a slack of 1 us keeps
    // the stand-in from adding a delay of its own to the caller's.
    thread_local bool precise = prctl(PR_SET_TIMERSLACK, 1000UL, 0UL, 0UL, 0UL) == 0;
    (void)precise;
    std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}
