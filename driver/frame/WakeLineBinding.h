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
VOID BindToPresentWakeLineService(_In_ PFILTER_EXTENSION Context);

// Stops using the interface: no new call starts, the call in flight returns, the interface
// and the file object are given back and the target is closed (for a query-remove, so that a
// cancel can be told). The target itself stays until DropClosedWakeLineTarget.
VOID UnbindWakeLineService(_In_ PFILTER_EXTENSION Context, _In_ BOOLEAN ForQueryRemove);

// WakeLineTargetClosed: open (or none), closed for a query-remove whose outcome is still to
// come, closed for good.
constexpr UCHAR WAKE_LINE_TARGET_OPEN = 0;
constexpr UCHAR WAKE_LINE_TARGET_QUERY_REMOVED = 1;
constexpr UCHAR WAKE_LINE_TARGET_CLOSED = 2;

// Deletes a target that a removal closed for good; FALSE while a query-remove's outcome is
// still to come (nothing may be bound meanwhile).
BOOLEAN DropClosedWakeLineTarget(_In_ PFILTER_EXTENSION Context);

// Queues the work item that handles the service's notifications, unless release hardware
// has begun.
VOID QueueWakeLineWork(_In_ PFILTER_EXTENSION Context);

FORCEINLINE VOID LockWakeLine(_In_ PFILTER_EXTENSION Context) {
    KeWaitForSingleObject(&Context->WakeLineArrivalLock, Executive, KernelMode, FALSE, NULL);
}
FORCEINLINE VOID UnlockWakeLine(_In_ PFILTER_EXTENSION Context) {
    KeSetEvent(&Context->WakeLineArrivalLock, IO_NO_INCREMENT, FALSE);
}
