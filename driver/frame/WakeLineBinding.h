#pragma once
// The binding to one instance of the wake-line service: its device opened as a remote I/O
// target, with callbacks for the device's removal, and its interface queried. The caller
// holds WakeLineArrivalLock.
#include "frame/Driver.h"

EXTERN_C_START
EVT_WDF_IO_TARGET_QUERY_REMOVE OnWakeLineQueryRemove;
EVT_WDF_IO_TARGET_REMOVE_CANCELED OnWakeLineRemoveCanceled;
EVT_WDF_IO_TARGET_REMOVE_COMPLETE OnWakeLineRemoveComplete;
EXTERN_C_END

// Binds to the first present instance of the service; nothing when none can be bound.
// Called and returns with the lock held, but lets it go to delete a target that failed:
// deleting a target waits for its removal callbacks in flight, and they take the lock.
VOID BindToPresentWakeLineService(_In_ PFILTER_EXTENSION Context);

// Stops using the interface: no new call starts, the call in flight returns, the interface
// and the file object are given back and the target is closed (for a query-remove, so that a
// cancel can be told). The target itself stays until DropClosedWakeLineTarget takes it.
VOID UnbindWakeLineService(_In_ PFILTER_EXTENSION Context, _In_ BOOLEAN ForQueryRemove);

// WakeLineTargetClosed: open (or none), closed for a query-remove whose outcome is still to
// come, closed for good.
constexpr UCHAR WAKE_LINE_TARGET_OPEN = 0;
constexpr UCHAR WAKE_LINE_TARGET_QUERY_REMOVED = 1;
constexpr UCHAR WAKE_LINE_TARGET_CLOSED = 2;

// Takes from the context a target that a removal closed for good, for the caller to delete
// once it has let the lock go; FALSE while a query-remove's outcome is still to come
// (nothing may be bound meanwhile).
BOOLEAN DropClosedWakeLineTarget(_In_ PFILTER_EXTENSION Context, _Out_ WDFIOTARGET* Dropped);

// Unbinds and takes the target from the context without closing it; the caller deletes it
// (which closes it for good) once it has let the lock go.
WDFIOTARGET DetachWakeLineTarget(_In_ PFILTER_EXTENSION Context);

// Queues the work item that handles the service's notifications, unless release hardware
// has begun.
VOID QueueWakeLineWork(_In_ PFILTER_EXTENSION Context);

FORCEINLINE VOID LockWakeLine(_In_ PFILTER_EXTENSION Context) {
    KeWaitForSingleObject(&Context->WakeLineArrivalLock, Executive, KernelMode, FALSE, NULL);
}
FORCEINLINE VOID UnlockWakeLine(_In_ PFILTER_EXTENSION Context) {
    KeSetEvent(&Context->WakeLineArrivalLock, IO_NO_INCREMENT, FALSE);
}
