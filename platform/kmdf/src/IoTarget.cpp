// Framework I/O targets: opened by name or on an existing device object, with synchronous
// I/O controls and interface queries, answered by the endpoint behind the target.
#include "State.h"

using namespace kmdf;

namespace {

IoTargetImpl* Target(WDFIOTARGET handle, const char* routine) {
    return LookupAs<IoTargetImpl>(handle, ObjectKind::IoTarget, routine);
}

bool Describe(PWDF_MEMORY_DESCRIPTOR d, void** buffer, std::size_t* length) {
    *buffer = nullptr;
    *length = 0;
    if (d == nullptr) {
        return true;
    }
    if (d->Type == WdfMemoryDescriptorTypeBuffer) {
        *buffer = d->u.BufferType.Buffer;
        *length = d->u.BufferType.Length;
        return true;
    }
    if (d->Type == WdfMemoryDescriptorTypeHandle) {
        auto* m = LookupAs<MemoryImpl>(d->u.HandleType.Memory, ObjectKind::Memory,
                                       "WdfIoTargetSendIoctlSynchronously");
        *buffer = m->buffer;
        *length = m->size;
        return true;
    }
    return false;
}

// A synchronous send waits until the request completes. One that the device never completes
// is cancelled when its time-out has passed on the machine's clock; without a time-out the
// sender would wait for ever, which ends the simulated system instead of hanging the test.
NTSTATUS CancelAtTimeout(Endpoint& endpoint, ULONG code, LONGLONG timeout) {
    if (timeout == 0) {
        BugCheck("WdfIoTargetSendIoctlSynchronously: the request never completes and the send "
                 "has no time-out");
    }
    Current().hardware->Sleep(timeout);
    endpoint.Cancelled(code, STATUS_IO_TIMEOUT);
    return STATUS_IO_TIMEOUT;
}

} // namespace

NTSTATUS WdfIoTargetCreate(WDFDEVICE Device, PWDF_OBJECT_ATTRIBUTES IoTargetAttributes,
                           WDFIOTARGET* IoTarget) {
    SwitchPoint("WdfIoTargetCreate");
    auto* d = LookupAs<DeviceImpl>(Device, ObjectKind::Device, "WdfIoTargetCreate");
    if (IoTarget == nullptr) {
        BugCheck("WdfIoTargetCreate: no out-handle");
    }
    *IoTarget = nullptr;
    NTSTATUS status = InjectedFailure("WdfIoTargetCreate");
    if (!NT_SUCCESS(status)) {
        return status;
    }
    auto* t = new IoTargetImpl;
    t->device = d;
    Attach(t, IoTargetAttributes, d, "WdfIoTargetCreate");
    *IoTarget = reinterpret_cast<WDFIOTARGET>(static_cast<Object*>(t));
    return STATUS_SUCCESS;
}

NTSTATUS WdfIoTargetOpen(WDFIOTARGET IoTarget, PWDF_IO_TARGET_OPEN_PARAMS OpenParams) {
    SwitchPoint("WdfIoTargetOpen");
    IoTargetImpl* t = Target(IoTarget, "WdfIoTargetOpen");
    if (OpenParams == nullptr || OpenParams->Size != sizeof(WDF_IO_TARGET_OPEN_PARAMS)) {
        BugCheck("WdfIoTargetOpen: open parameters were not initialised");
    }
    if (t->open) {
        BugCheck("WdfIoTargetOpen: the target is open already");
    }
    // An open by name is a file open, and a target on a file object registers for the change
    // notifications of its device: pageable code and paged pool both.
    if (PagedPoolFenced() &&
        (OpenParams->Type == WdfIoTargetOpenByName || OpenParams->TargetFileObject != nullptr)) {
        BugCheck("WdfIoTargetOpen: a file opened in a power callback of a stack that is not "
                 "power pageable");
    }
    NTSTATUS status = InjectedFailure("WdfIoTargetOpen");
    if (!NT_SUCCESS(status)) {
        return status;
    }
    auto& s = Current();
    std::lock_guard guard(s.lock);
    if (OpenParams->Type == WdfIoTargetOpenByName) {
        auto it = s.namedDevices.find(UnicodeText(&OpenParams->TargetDeviceName));
        if (it == s.namedDevices.end()) {
            return STATUS_OBJECT_NAME_NOT_FOUND;
        }
        if (s.removePending.count(it->first) != 0) {
            return STATUS_DELETE_PENDING;
        }
        t->endpoint = it->second->Endpoint;
        t->fileObject = new _FILE_OBJECT{it->second.get(), it->second, ++s.opens};
    } else if (OpenParams->Type == WdfIoTargetOpenUseExistingDevice) {
        if (OpenParams->TargetDeviceObject == nullptr) {
            return STATUS_INVALID_PARAMETER;
        }
        t->endpoint = Impl(OpenParams->TargetDeviceObject)->Endpoint;
        // The framework references the file object itself and registers for the device's
        // target device change notifications on it.
        if (OpenParams->TargetFileObject != nullptr) {
            // A device that has left the namespace answers no more requests: the registration
            // for its change notifications, which could never be told of its removal, fails.
            if (s.namedDevices.count(Impl(OpenParams->TargetDeviceObject)->Name) == 0) {
                t->endpoint.reset();
                return STATUS_NO_SUCH_DEVICE;
            }
            auto ref = s.references.find(OpenParams->TargetFileObject);
            if (ref == s.references.end()) {
                BugCheck("WdfIoTargetOpen: the target file object is not referenced");
            }
            ++ref->second;
            t->remoteFile = OpenParams->TargetFileObject;
            t->deviceName = Impl(OpenParams->TargetDeviceObject)->Name;
            t->registered = ++s.registrations;
            s.remoteTargets.insert(t);
        }
    } else {
        return STATUS_NOT_SUPPORTED;
    }
    t->opened = *OpenParams;
    t->open = true;
    return STATUS_SUCCESS;
}

namespace kmdf {

// Closes the target for I/O; `forGood` also ends its registration and drops the framework's
// reference on the file object it was opened with.
void CloseTarget(IoTargetImpl* t, bool forGood) {
    auto& s = Current();
    // Closing the file, or ending the registration, runs pageable code.
    if (PagedPoolFenced() && (t->fileObject != nullptr || t->remoteFile != nullptr)) {
        BugCheck("WdfIoTargetClose: a file closed in a power callback of a stack that is not "
                 "power pageable");
    }
    if (forGood) {
        // The registration ends first, and that waits for its callbacks in flight on other
        // threads; one of them may still close the target for a query-remove, which gives
        // the file back then, before the query's outcome is decided.
        std::unique_lock guard(s.lock);
        s.remoteTargets.erase(t);
        WaitUntil(
            s, guard, s.targetsIdle,
            [t] {
                for (std::thread::id id : t->delivering) {
                    if (id != std::this_thread::get_id()) {
                        return false;
                    }
                }
                return true;
            },
            "WdfIoTargetClose");
    }
    PFILE_OBJECT file = nullptr;
    {
        std::lock_guard guard(s.lock);
        delete t->fileObject;
        t->fileObject = nullptr;
        t->endpoint.reset();
        t->open = false;
        file = t->remoteFile;
        t->remoteFile = nullptr;
    }
    if (file != nullptr) {
        ObDereferenceObject(file);
    }
}

} // namespace kmdf

VOID WdfIoTargetClose(WDFIOTARGET IoTarget) {
    SwitchPoint("WdfIoTargetClose");
    IoTargetImpl* t = Target(IoTarget, "WdfIoTargetClose");
    if (t->isDefault) {
        BugCheck("WdfIoTargetClose: a driver may not close the default I/O target");
    }
    CloseTarget(t, true);
}

// Only from the target's query-remove callback: closed, but still told whether the removal
// is cancelled or completes.
VOID WdfIoTargetCloseForQueryRemove(WDFIOTARGET IoTarget) {
    SwitchPoint("WdfIoTargetCloseForQueryRemove");
    IoTargetImpl* t = Target(IoTarget, "WdfIoTargetCloseForQueryRemove");
    CloseTarget(t, false);
}

WDFDEVICE WdfIoTargetGetDevice(WDFIOTARGET IoTarget) {
    SwitchPoint("WdfIoTargetGetDevice");
    IoTargetImpl* t = Target(IoTarget, "WdfIoTargetGetDevice");
    return reinterpret_cast<WDFDEVICE>(static_cast<Object*>(t->device));
}

NTSTATUS WdfIoTargetSendIoctlSynchronously(WDFIOTARGET IoTarget, WDFREQUEST Request,
                                           ULONG IoctlCode, PWDF_MEMORY_DESCRIPTOR InputBuffer,
                                           PWDF_MEMORY_DESCRIPTOR OutputBuffer,
                                           PWDF_REQUEST_SEND_OPTIONS RequestOptions,
                                           PULONG_PTR BytesReturned) {
    SwitchPoint("WdfIoTargetSendIoctlSynchronously");
    IoTargetImpl* t = Target(IoTarget, "WdfIoTargetSendIoctlSynchronously");
    UNREFERENCED_PARAMETER(Request);
    if (BytesReturned != nullptr) {
        *BytesReturned = 0;
    }
    void *in, *out;
    std::size_t inLength, outLength;
    if (!Describe(InputBuffer, &in, &inLength) || !Describe(OutputBuffer, &out, &outLength)) {
        return STATUS_INVALID_PARAMETER;
    }
    if (!t->open || t->endpoint == nullptr) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    NTSTATUS status = InjectedFailure("WdfIoTargetSendIoctlSynchronously");
    if (!NT_SUCCESS(status)) {
        return status;
    }
    LONGLONG timeout = 0;
    if (RequestOptions != nullptr && (RequestOptions->Flags & WDF_REQUEST_SEND_OPTION_TIMEOUT)) {
        timeout = RequestOptions->Timeout;
    }
    ULONG_PTR returned = 0;
    status =
        t->endpoint->DeviceIoControl(IoctlCode, in, inLength, out, outLength, &returned, timeout);
    if (status == STATUS_PENDING) {
        return CancelAtTimeout(*t->endpoint, IoctlCode, timeout);
    }
    if (BytesReturned != nullptr) {
        *BytesReturned = returned;
    }
    return status;
}

NTSTATUS WdfIoTargetQueryForInterface(WDFIOTARGET IoTarget, LPCGUID InterfaceType,
                                      PINTERFACE Interface, USHORT Size, USHORT Version,
                                      PVOID InterfaceSpecificData) {
    SwitchPoint("WdfIoTargetQueryForInterface");
    IoTargetImpl* t = Target(IoTarget, "WdfIoTargetQueryForInterface");
    if (InterfaceType == nullptr || Interface == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (!t->open || t->endpoint == nullptr) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    NTSTATUS status = InjectedFailure("WdfIoTargetQueryForInterface");
    if (!NT_SUCCESS(status)) {
        return status;
    }
    return t->endpoint->QueryInterface(*InterfaceType, Interface, Size, Version,
                                       InterfaceSpecificData);
}
