// Arrival of the wake-line service. The notification runs on a system thread, outside the
// framework's serialisation of the device's callbacks, and must not block: it only queues the
// device's work item, which binds to a present instance of the service, one notification at
// a time. Several instances present at registration each queue it; it binds to the first
// that answers, and to another one after a removal.
//
// Resident, not pageable: the registration that a resume from hibernation makes again runs
// the callback on the D0-entry path for an interface that is already there.
#include "frame/WakeLineArrival.h"

#include "frame/WakeLineBinding.h"

#include <wdmguid.h>

#include "WakeLineArrival.tmh"

EXTERN_C_START
EVT_WDF_WORKITEM OnWakeLineWork;
EXTERN_C_END

NTSTATUS CreateWakeLineWorkItem(_In_ PFILTER_EXTENSION Context) {
    WDF_WORKITEM_CONFIG config;
    WDF_OBJECT_ATTRIBUTES attributes;
    NTSTATUS status;

    if (Context->WakeLineWorkItem != NULL) {
        return STATUS_SUCCESS;
    }
    WDF_WORKITEM_CONFIG_INIT(&config, OnWakeLineWork);
    config.AutomaticSerialization = FALSE; // it runs beside the device's power callbacks
    WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
    attributes.ParentObject = Context->Device;
    status = WdfWorkItemCreate(&config, &attributes, &Context->WakeLineWorkItem);
    if (!NT_SUCCESS(status)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_WAKE, "WdfWorkItemCreate failed, status 0x%08X",
                    status);
        Context->WakeLineWorkItem = NULL;
    }
    return status;
}

NTSTATUS RegisterWakeLineArrival(_In_opt_ PFILTER_EXTENSION Context) {
    NTSTATUS status;

    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_WAKE, "entry");
    if (Context == NULL) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_WAKE, "no device context");
        return STATUS_INVALID_PARAMETER;
    }
    if (Context->ArrivalNotification != NULL) {
        TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_WAKE, "registered already");
        TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_WAKE, "exit, status 0x%08X", STATUS_SUCCESS);
        return STATUS_SUCCESS;
    }
    WriteRelease(&Context->WakeLineClosing, 0);
    status = IoRegisterPlugPlayNotification(
        EventCategoryDeviceInterfaceChange, PNPNOTIFY_DEVICE_INTERFACE_INCLUDE_EXISTING_INTERFACES,
        (PVOID)&GUID_WAKE_LINE_INTERFACE, WdfDriverWdmGetDriverObject(WdfGetDriver()),
        OnWakeLineArrival, Context, &Context->ArrivalNotification);
    if (!NT_SUCCESS(status)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_WAKE,
                    "IoRegisterPlugPlayNotification failed, status 0x%08X", status);
    }
    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_WAKE, "exit, status 0x%08X", status);
    return status;
}

_Use_decl_annotations_ NTSTATUS OnWakeLineArrival(PVOID NotificationStructure, PVOID Context) {
    PDEVICE_INTERFACE_CHANGE_NOTIFICATION notification =
        static_cast<PDEVICE_INTERFACE_CHANGE_NOTIFICATION>(NotificationStructure);
    PFILTER_EXTENSION extension = static_cast<PFILTER_EXTENSION>(Context);

    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_WAKE, "entry");
    if (notification == NULL || extension == NULL) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_WAKE, "no notification or no device context");
        return STATUS_INVALID_PARAMETER;
    }
    if (!IsEqualGUID(notification->InterfaceClassGuid, GUID_WAKE_LINE_INTERFACE)) {
        TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_WAKE, "exit: another interface class");
        return STATUS_SUCCESS;
    }
    // A removal is handled through the target's own notifications.
    if (IsEqualGUID(notification->Event, GUID_DEVICE_INTERFACE_ARRIVAL)) {
        QueueWakeLineWork(extension);
    }
    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_WAKE, "exit");
    return STATUS_SUCCESS;
}

// Drops a target that a removal closed and binds to a present instance, as long as
// notifications keep coming.
_Use_decl_annotations_ VOID OnWakeLineWork(WDFWORKITEM WorkItem) {
    PFILTER_EXTENSION context =
        GetFilterExtension(static_cast<WDFDEVICE>(WdfWorkItemGetParentObject(WorkItem)));

    WDFIOTARGET dropped = NULL;

    while (InterlockedExchange(&context->WakeLineWorkPending, 0) != 0) {
        LockWakeLine(context);
        if (ReadAcquire(&context->WakeLineClosing) == 0 &&
            DropClosedWakeLineTarget(context, &dropped)) {
            BindToPresentWakeLineService(context);
        }
        UnlockWakeLine(context);
        // Deleted without the lock: deletion waits for the target's removal callback in
        // flight, which takes it.
        if (dropped != NULL) {
            WdfObjectDelete(dropped);
            dropped = NULL;
        }
    }
}

VOID TearDownWakeLine(_In_ PFILTER_EXTENSION Context) {
    WDFIOTARGET target;
    NTSTATUS status;

    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_WAKE, "entry");
    // First the registration: once it has ended no arrival queues the work item.
    if (Context->ArrivalNotification != NULL) {
        status = IoUnregisterPlugPlayNotificationEx(Context->ArrivalNotification);
        if (!NT_SUCCESS(status)) {
            TraceEvents(TRACE_LEVEL_ERROR, TRACE_WAKE,
                        "IoUnregisterPlugPlayNotificationEx failed, status 0x%08X", status);
        }
        Context->ArrivalNotification = NULL;
    }
    // Then the target's removal callbacks stop queueing it, and a queued or running one ends:
    // no work item runs after release hardware.
    LockWakeLine(Context);
    WriteRelease(&Context->WakeLineClosing, 1);
    UnlockWakeLine(Context);
    if (Context->WakeLineWorkItem != NULL) {
        WdfWorkItemFlush(Context->WakeLineWorkItem);
    }
    LockWakeLine(Context);
    target = DetachWakeLineTarget(Context);
    UnlockWakeLine(Context);
    // Closed for good (also after a query-remove) by its deletion, without the lock: the
    // deletion waits for a removal callback in flight, which takes it.
    if (target != NULL) {
        WdfObjectDelete(target);
    }
    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_WAKE, "exit");
}
