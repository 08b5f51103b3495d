// Binding to the wake-line service and letting it go. The service's device can be disabled,
// updated or uninstalled (query-remove, then remove-complete or a cancel) or surprise-removed
// (remove-complete only). A file object still referenced after query-remove vetoes the
// removal, so query-remove gives everything back before it returns; after any removal no call
// goes into the service again.
//
// Resident, not pageable: the work item runs on the D0-entry path of a resume from
// hibernation.
#include "frame/WakeLineBinding.h"

#include "frame/WakeLineArrival.h"

#include "WakeLineBinding.tmh"

VOID QueueWakeLineWork(_In_ PFILTER_EXTENSION Context) {
    if (ReadAcquire(&Context->WakeLineClosing) != 0 || Context->WakeLineWorkItem == NULL) {
        return;
    }
    InterlockedExchange(&Context->WakeLineWorkPending, 1);
    WdfWorkItemEnqueue(Context->WakeLineWorkItem);
}

static PFILTER_EXTENSION TargetContext(WDFIOTARGET Target) {
    return GetFilterExtension(WdfIoTargetGetDevice(Target));
}

BOOLEAN DropClosedWakeLineTarget(_In_ PFILTER_EXTENSION Context, _Out_ WDFIOTARGET* Dropped) {
    *Dropped = NULL;
    // Closed for a query-remove: the framework still tells the target how the removal ends.
    if (Context->WakeLineTargetClosed == WAKE_LINE_TARGET_QUERY_REMOVED) {
        return FALSE;
    }
    if (Context->WakeLineTargetClosed == WAKE_LINE_TARGET_CLOSED) {
        *Dropped = Context->WakeLineTarget;
        Context->WakeLineTarget = NULL;
    }
    Context->WakeLineTargetClosed = WAKE_LINE_TARGET_OPEN;
    return TRUE;
}

VOID UnbindWakeLineService(_In_ PFILTER_EXTENSION Context, _In_ BOOLEAN ForQueryRemove) {
    // Readers test readiness under run-down protection: once the wait returns no call is in
    // flight and none starts.
    WriteUCharRelease(&Context->WakeInterfaceReady, 0);
    if (!Context->WakeLineRanDown) {
        ExWaitForRundownProtectionRelease(&Context->WakeLineRundown);
        Context->WakeLineRanDown = 1;
    }
    if (Context->WakeLineInterface.InterfaceDereference != NULL) {
        Context->WakeLineInterface.InterfaceDereference(Context->WakeLineInterface.Context);
    }
    RtlZeroMemory(&Context->WakeLineInterface, sizeof(Context->WakeLineInterface));
    if (Context->WakeLineTarget != NULL &&
        Context->WakeLineTargetClosed != WAKE_LINE_TARGET_CLOSED) {
        if (ForQueryRemove) {
            WdfIoTargetCloseForQueryRemove(Context->WakeLineTarget);
            Context->WakeLineTargetClosed = WAKE_LINE_TARGET_QUERY_REMOVED;
        } else {
            WdfIoTargetClose(Context->WakeLineTarget);
            Context->WakeLineTargetClosed = WAKE_LINE_TARGET_CLOSED;
        }
    }
    if (Context->WakeLineFileObject != NULL) {
        ObDereferenceObject(Context->WakeLineFileObject);
        Context->WakeLineFileObject = NULL;
    }
}

WDFIOTARGET DetachWakeLineTarget(_In_ PFILTER_EXTENSION Context) {
    WDFIOTARGET target = Context->WakeLineTarget;

    Context->WakeLineTarget = NULL; // so the unbind leaves it open
    UnbindWakeLineService(Context, FALSE);
    Context->WakeLineTargetClosed = WAKE_LINE_TARGET_OPEN;
    return target;
}

// A target on the service's device, with the file object of the look-up, told of the
// device's removal.
static NTSTATUS OpenWakeLineTarget(_In_ PFILTER_EXTENSION Context, _In_ PDEVICE_OBJECT Device,
                                   _In_ PFILE_OBJECT File, _Out_ WDFIOTARGET* Target) {
    WDF_OBJECT_ATTRIBUTES attributes;
    WDF_IO_TARGET_OPEN_PARAMS openParams;
    NTSTATUS status;

    WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
    attributes.ParentObject = Context->Device;
    status = WdfIoTargetCreate(Context->Device, &attributes, Target);
    if (!NT_SUCCESS(status)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_WAKE, "WdfIoTargetCreate failed, status 0x%08X",
                    status);
        return status;
    }
    WDF_IO_TARGET_OPEN_PARAMS_INIT_EXISTING_DEVICE(&openParams, Device);
    openParams.TargetFileObject = File;
    openParams.ShareAccess = FILE_SHARE_READ | FILE_SHARE_WRITE;
    openParams.EvtIoTargetQueryRemove = OnWakeLineQueryRemove;
    openParams.EvtIoTargetRemoveCanceled = OnWakeLineRemoveCanceled;
    openParams.EvtIoTargetRemoveComplete = OnWakeLineRemoveComplete;
    status = WdfIoTargetOpen(*Target, &openParams);
    if (!NT_SUCCESS(status)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_WAKE, "WdfIoTargetOpen failed, status 0x%08X", status);
        WdfObjectDelete(*Target);
        *Target = NULL;
    }
    return status;
}

// Opens the device behind one symbolic link and queries its interface.
// A target opened but without the interface comes back in *Failed, to be deleted without
// the lock.
static BOOLEAN BindWakeLineService(_In_ PFILTER_EXTENSION Extension,
                                   _In_ PUNICODE_STRING SymbolicLinkName,
                                   _Out_ WDFIOTARGET* Failed) {
    PFILE_OBJECT file = NULL;
    PDEVICE_OBJECT device = NULL;
    WDFIOTARGET target;
    NTSTATUS status;

    *Failed = NULL;
    status = IoGetDeviceObjectPointer(SymbolicLinkName, FILE_ALL_ACCESS, &file, &device);
    if (!NT_SUCCESS(status) || device == NULL) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_WAKE, "IoGetDeviceObjectPointer failed, status 0x%08X",
                    status);
        if (NT_SUCCESS(status) && file != NULL) {
            ObDereferenceObject(file);
        }
        return FALSE;
    }
    status = OpenWakeLineTarget(Extension, device, file, &target);
    if (!NT_SUCCESS(status)) {
        ObDereferenceObject(file);
        return FALSE;
    }

    Extension->WakeLineTarget = target;
    Extension->WakeLineFileObject = file;
    Extension->WakeLineTargetClosed = WAKE_LINE_TARGET_OPEN;
    RtlZeroMemory(&Extension->WakeLineInterface, sizeof(Extension->WakeLineInterface));
    status = WdfIoTargetQueryForInterface(
        target, &GUID_WAKE_LINE_INTERFACE,
        reinterpret_cast<PINTERFACE>(&Extension->WakeLineInterface), sizeof(WAKE_LINE_INTERFACE),
        WAKE_LINE_INTERFACE_VERSION, Extension->Device);
    if (!NT_SUCCESS(status)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_WAKE,
                    "WdfIoTargetQueryForInterface failed, status 0x%08X", status);
        *Failed = DetachWakeLineTarget(Extension);
        return FALSE;
    }

    if (Extension->WakeLineRanDown) {
        ExReInitializeRundownProtection(&Extension->WakeLineRundown);
        Extension->WakeLineRanDown = 0;
    }
    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_WAKE, "wake-line interface ready");
    WriteUCharRelease(&Extension->WakeInterfaceReady, 1);
    return TRUE;
}

VOID BindToPresentWakeLineService(_In_ PFILTER_EXTENSION Context) {
    PWSTR links = NULL; // a list of strings ended by an empty one
    UNICODE_STRING link;
    WDFIOTARGET failed;
    NTSTATUS status;

    if (WakeInterfaceIsReady(Context)) {
        return;
    }
    status = IoGetDeviceInterfaces(&GUID_WAKE_LINE_INTERFACE, NULL, 0, &links);
    if (!NT_SUCCESS(status)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_WAKE, "IoGetDeviceInterfaces failed, status 0x%08X",
                    status);
        return;
    }
    for (PWSTR next = links; *next != L'\0'; next += link.Length / sizeof(WCHAR) + 1) {
        RtlInitUnicodeString(&link, next);
        if (BindWakeLineService(Context, &link, &failed)) {
            break;
        }
        if (failed != NULL) {
            UnlockWakeLine(Context);
            WdfObjectDelete(failed);
            LockWakeLine(Context);
            if (ReadAcquire(&Context->WakeLineClosing) != 0) {
                break;
            }
        }
    }
    ExFreePool(links);
}

_Use_decl_annotations_ NTSTATUS OnWakeLineQueryRemove(WDFIOTARGET IoTarget) {
    PFILTER_EXTENSION context = TargetContext(IoTarget);

    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_WAKE, "wake-line service: query-remove");
    LockWakeLine(context);
    if (context->WakeLineTarget == IoTarget) {
        UnbindWakeLineService(context, TRUE);
    } else {
        // Detached by release hardware or a failed bind and waiting for its deletion, which
        // waits for this callback: still open on the service's file, it would veto.
        WdfIoTargetCloseForQueryRemove(IoTarget);
    }
    UnlockWakeLine(context);
    return STATUS_SUCCESS;
}

// The device stays: the work item drops the closed target and opens the service again by
// its symbolic link.
_Use_decl_annotations_ VOID OnWakeLineRemoveCanceled(WDFIOTARGET IoTarget) {
    PFILTER_EXTENSION context = TargetContext(IoTarget);

    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_WAKE, "wake-line service: remove cancelled");
    LockWakeLine(context);
    if (context->WakeLineTarget == IoTarget &&
        context->WakeLineTargetClosed == WAKE_LINE_TARGET_QUERY_REMOVED) {
        WdfIoTargetClose(IoTarget); // a new target is opened by the link
        context->WakeLineTargetClosed = WAKE_LINE_TARGET_CLOSED;
    }
    UnlockWakeLine(context);
    QueueWakeLineWork(context);
}

// After an orderly removal everything was given back at query-remove; after a surprise
// removal it is given back now. Another instance may be present already.
_Use_decl_annotations_ VOID OnWakeLineRemoveComplete(WDFIOTARGET IoTarget) {
    PFILTER_EXTENSION context = TargetContext(IoTarget);

    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_WAKE, "wake-line service: removed");
    LockWakeLine(context);
    if (context->WakeLineTarget == IoTarget) {
        UnbindWakeLineService(context, FALSE);
        if (context->WakeLineTargetClosed == WAKE_LINE_TARGET_QUERY_REMOVED) {
            // Closed for a query-remove: the removal ends the registration for good.
            WdfIoTargetClose(IoTarget);
            context->WakeLineTargetClosed = WAKE_LINE_TARGET_CLOSED;
        }
    }
    UnlockWakeLine(context);
    QueueWakeLineWork(context);
}
