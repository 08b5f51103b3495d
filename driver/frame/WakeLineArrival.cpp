// Arrival of the wake-line service. The notification runs on a system thread, outside the
// framework's serialisation of the device's callbacks: it completes the target and the
// interface before it publishes WakeInterfaceReady, and an interface once published is not
// touched again until release hardware has ended the registration. Two notifications of one
// registration may run at once; they take turns, each with its own symbolic link.
//
// Resident, not pageable: the registration that a resume from hibernation makes again runs
// the callback on the D0-entry path for an interface that is already there.
#include "frame/WakeLineArrival.h"

#include "WakeLineArrival.tmh"

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

// Closes the target and drops the file object reference it was opened with.
static VOID CloseWakeLineTarget(_In_ PFILTER_EXTENSION Context) {
    if (Context->WakeLineTarget != NULL) {
        WdfIoTargetClose(Context->WakeLineTarget);
        WdfObjectDelete(Context->WakeLineTarget);
        Context->WakeLineTarget = NULL;
    }
    if (Context->WakeLineFileObject != NULL) {
        ObDereferenceObject(Context->WakeLineFileObject);
        Context->WakeLineFileObject = NULL;
    }
}

// A target on the service's device, with the file object of the look-up.
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
    status = WdfIoTargetOpen(*Target, &openParams);
    if (!NT_SUCCESS(status)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_WAKE, "WdfIoTargetOpen failed, status 0x%08X", status);
        WdfObjectDelete(*Target);
        *Target = NULL;
    }
    return status;
}

// Opens the service's device and queries its interface, unless it is ready already.
static VOID HandleWakeLineNotification(_In_ PFILTER_EXTENSION Extension,
                                       _In_ PUNICODE_STRING SymbolicLinkName) {
    PFILE_OBJECT file = NULL;
    PDEVICE_OBJECT device = NULL;
    WDFIOTARGET target;
    NTSTATUS status;

    // Power-downs on other threads may be using the published interface: it stays as it is.
    if (WakeInterfaceIsReady(Extension)) {
        TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_WAKE,
                    "wake-line interface ready already; notification left alone");
        return;
    }

    status = IoGetDeviceObjectPointer(SymbolicLinkName, FILE_ALL_ACCESS, &file, &device);
    if (!NT_SUCCESS(status) || device == NULL) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_WAKE, "IoGetDeviceObjectPointer failed, status 0x%08X",
                    status);
        if (NT_SUCCESS(status) && file != NULL) {
            ObDereferenceObject(file);
        }
        return;
    }
    status = OpenWakeLineTarget(Extension, device, file, &target);
    if (!NT_SUCCESS(status)) {
        ObDereferenceObject(file);
        return;
    }

    Extension->WakeLineTarget = target;
    Extension->WakeLineFileObject = file;
    RtlZeroMemory(&Extension->WakeLineInterface, sizeof(Extension->WakeLineInterface));
    status = WdfIoTargetQueryForInterface(
        target, &GUID_WAKE_LINE_INTERFACE,
        reinterpret_cast<PINTERFACE>(&Extension->WakeLineInterface), sizeof(WAKE_LINE_INTERFACE),
        WAKE_LINE_INTERFACE_VERSION, Extension->Device);
    if (!NT_SUCCESS(status)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_WAKE,
                    "WdfIoTargetQueryForInterface failed, status 0x%08X", status);
        CloseWakeLineTarget(Extension);
        return;
    }

    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_WAKE, "wake-line interface ready");
    WriteUCharRelease(&Extension->WakeInterfaceReady, 1);
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
    // The notification for an interface present at registration can run on the registering
    // thread while a later one runs on the system's: only one of them opens and publishes at
    // a time, and each tries its own link. The wait is at passive level, and the framework
    // holds nothing that the registration or the other notification needs.
    KeWaitForSingleObject(&extension->WakeLineArrivalLock, Executive, KernelMode, FALSE, NULL);
    HandleWakeLineNotification(extension, notification->SymbolicLinkName);
    KeSetEvent(&extension->WakeLineArrivalLock, IO_NO_INCREMENT, FALSE);
    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_WAKE, "exit");
    return STATUS_SUCCESS;
}

VOID TearDownWakeLine(_In_ PFILTER_EXTENSION Context) {
    NTSTATUS status;

    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_WAKE, "entry");
    // First the registration: once it has ended no callback can open or publish anything.
    if (Context->ArrivalNotification != NULL) {
        status = IoUnregisterPlugPlayNotificationEx(Context->ArrivalNotification);
        if (!NT_SUCCESS(status)) {
            TraceEvents(TRACE_LEVEL_ERROR, TRACE_WAKE,
                        "IoUnregisterPlugPlayNotificationEx failed, status 0x%08X", status);
        }
        Context->ArrivalNotification = NULL;
    }
    if (WakeInterfaceIsReady(Context)) {
        WriteUCharRelease(&Context->WakeInterfaceReady, 0);
        if (Context->WakeLineInterface.InterfaceDereference != NULL) {
            Context->WakeLineInterface.InterfaceDereference(Context->WakeLineInterface.Context);
        }
        RtlZeroMemory(&Context->WakeLineInterface, sizeof(Context->WakeLineInterface));
    }
    WriteUCharRelease(&Context->WakeInterfaceReady, 0);
    CloseWakeLineTarget(Context);
    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_WAKE, "exit");
}
