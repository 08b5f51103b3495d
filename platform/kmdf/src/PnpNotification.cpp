// Plug and Play notifications for device interfaces, and object look-up by name with
// the references it takes.
#include "State.h"

#include <algorithm>
#include <string>

using namespace kmdf;

namespace {

void Deliver(const Notification& n, const InterfaceInstance& i, const GUID& event) {
    UNICODE_STRING link;
    link.Buffer = const_cast<PWCH>(i.symbolicLink.c_str());
    link.Length = static_cast<USHORT>(i.symbolicLink.size() * sizeof(WCHAR));
    link.MaximumLength = link.Length;
    DEVICE_INTERFACE_CHANGE_NOTIFICATION record{};
    record.Version = 1;
    record.Size = sizeof record;
    record.Event = event;
    record.InterfaceClassGuid = i.interfaceClass;
    record.SymbolicLinkName = &link;
    CallbackScope scope("Notification", 0);
    scope.Returned(n.callback(&record, n.context));
}

// Routines of the PnP and object managers that are pageable and take paged pool.
void Pageable(const char* routine) {
    if (PagedPoolFenced()) {
        BugCheck(std::string(routine) + ": pageable code in a power callback of a stack that is "
                                        "not power pageable");
    }
}

} // namespace

NTSTATUS IoRegisterPlugPlayNotification(IO_NOTIFICATION_EVENT_CATEGORY EventCategory,
                                        ULONG EventCategoryFlags, PVOID EventCategoryData,
                                        PDRIVER_OBJECT DriverObject,
                                        PDRIVER_NOTIFICATION_CALLBACK_ROUTINE CallbackRoutine,
                                        PVOID Context, PVOID* NotificationEntry) {
    SwitchPoint("IoRegisterPlugPlayNotification");
    if (EventCategory != EventCategoryDeviceInterfaceChange || EventCategoryData == nullptr ||
        DriverObject == nullptr || CallbackRoutine == nullptr || NotificationEntry == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    *NotificationEntry = nullptr;
    Pageable("IoRegisterPlugPlayNotification");
    NTSTATUS status = InjectedFailure("IoRegisterPlugPlayNotification");
    if (!NT_SUCCESS(status)) {
        return status;
    }
    auto& s = Current();
    auto n = std::make_unique<Notification>();
    n->interfaceClass = *static_cast<const GUID*>(EventCategoryData);
    n->callback = CallbackRoutine;
    n->context = Context;
    n->owner = CallbackScope::OwnerNow();
    Notification* entry = n.get();
    std::vector<InterfaceInstance> existing;
    {
        std::lock_guard guard(s.lock);
        entry->registered = ++s.registrations;
        s.notifications[entry] = std::move(n);
        for (auto& i : s.interfaces) {
            if (IsEqualGUID(i.interfaceClass, entry->interfaceClass)) {
                existing.push_back(i);
            }
        }
    }
    // Interfaces that exist already are reported before the registration returns.
    if (EventCategoryFlags & PNPNOTIFY_DEVICE_INTERFACE_INCLUDE_EXISTING_INTERFACES) {
        for (auto& i : existing) {
            Deliver(*entry, i, GUID_DEVICE_INTERFACE_ARRIVAL);
        }
    }
    *NotificationEntry = entry;
    return STATUS_SUCCESS;
}

// Returns only when no callback of the registration runs any more.
NTSTATUS IoUnregisterPlugPlayNotificationEx(PVOID NotificationEntry) {
    SwitchPoint("IoUnregisterPlugPlayNotificationEx");
    Pageable("IoUnregisterPlugPlayNotificationEx");
    auto& s = Current();
    std::unique_lock guard(s.lock);
    auto it = s.notifications.find(NotificationEntry);
    if (it == s.notifications.end()) {
        return STATUS_INVALID_PARAMETER;
    }
    Notification* n = it->second.get();
    n->active = false;
    WaitUntil(
        s, guard, s.notificationsIdle, [n] { return n->inFlight == 0; },
        "IoUnregisterPlugPlayNotificationEx");
    s.notifications.erase(NotificationEntry);
    return STATUS_SUCCESS;
}

NTSTATUS IoGetDeviceObjectPointer(PUNICODE_STRING ObjectName, ACCESS_MASK DesiredAccess,
                                  PFILE_OBJECT* FileObject, PDEVICE_OBJECT* DeviceObject) {
    SwitchPoint("IoGetDeviceObjectPointer");
    UNREFERENCED_PARAMETER(DesiredAccess);
    if (ObjectName == nullptr || FileObject == nullptr || DeviceObject == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    *FileObject = nullptr;
    *DeviceObject = nullptr;
    Pageable("IoGetDeviceObjectPointer"); // a file open
    NTSTATUS status = InjectedFailure("IoGetDeviceObjectPointer");
    if (!NT_SUCCESS(status)) {
        return status;
    }
    auto& s = Current();
    std::lock_guard guard(s.lock);
    std::wstring name = UnicodeText(ObjectName);
    for (auto& i : s.interfaces) {
        if (i.symbolicLink == name) {
            name = i.deviceName;
            break;
        }
    }
    auto it = s.namedDevices.find(name);
    if (it == s.namedDevices.end()) {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    if (s.removePending.count(name) != 0) {
        return STATUS_DELETE_PENDING;
    }
    auto* file = new _FILE_OBJECT{it->second.get(), it->second, ++s.opens};
    s.references[file] = 1;
    *FileObject = file;
    *DeviceObject = it->second.get();
    return STATUS_SUCCESS;
}

VOID ObDereferenceObject(PVOID Object) {
    SwitchPoint("ObDereferenceObject");
    auto& s = Current();
    std::lock_guard guard(s.lock);
    auto it = s.references.find(Object);
    if (it == s.references.end()) {
        BugCheck("ObDereferenceObject: object holds no reference");
    }
    if (--it->second == 0) {
        delete static_cast<_FILE_OBJECT*>(Object);
        s.references.erase(it);
    }
}

// 'PnpI' in a pool dump: the lists IoGetDeviceInterfaces hands out.
constexpr ULONG kInterfaceListTag = 0x49706E50;

NTSTATUS IoGetDeviceInterfaces(const GUID* InterfaceClassGuid, PDEVICE_OBJECT PhysicalDeviceObject,
                               ULONG Flags, PZZWSTR* SymbolicLinkList) {
    SwitchPoint("IoGetDeviceInterfaces");
    if (InterfaceClassGuid == nullptr || SymbolicLinkList == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    *SymbolicLinkList = nullptr;
    if (PhysicalDeviceObject != nullptr || Flags != 0) {
        return STATUS_NOT_SUPPORTED; // only the enabled interfaces of the whole class
    }
    NTSTATUS status = InjectedFailure("IoGetDeviceInterfaces");
    if (!NT_SUCCESS(status)) {
        return status;
    }
    std::wstring list;
    {
        auto& s = Current();
        std::lock_guard guard(s.lock);
        for (auto& i : s.interfaces) {
            if (IsEqualGUID(i.interfaceClass, *InterfaceClassGuid)) {
                list += i.symbolicLink;
                list.push_back(L'\0');
            }
        }
    }
    list.push_back(L'\0');
    auto* out = static_cast<PWSTR>(
        ExAllocatePool2(POOL_FLAG_PAGED, list.size() * sizeof(WCHAR), kInterfaceListTag));
    if (out == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    std::copy(list.begin(), list.end(), out);
    *SymbolicLinkList = out;
    return STATUS_SUCCESS;
}

namespace kmdf {

namespace {

// Calls every active registration of the class, outside the lock; an unregistration waits
// for the calls in flight.
void Broadcast(Machine::State& s, const InterfaceInstance& i, const GUID& event) {
    std::vector<Notification*> targets;
    {
        std::lock_guard guard(s.lock);
        for (auto& [entry, n] : s.notifications) {
            if (n->active && IsEqualGUID(n->interfaceClass, i.interfaceClass)) {
                ++n->inFlight;
                targets.push_back(n.get());
            }
        }
    }
    std::sort(targets.begin(), targets.end(), [](const Notification* a, const Notification* b) {
        return a->registered < b->registered;
    });
    for (Notification* n : targets) {
        Deliver(*n, i, event);
        std::lock_guard guard(s.lock);
        --n->inFlight;
        s.notificationsIdle.notify_all();
    }
}

} // namespace

void Machine::ArriveInterface(const GUID& interfaceClass, const std::wstring& symbolicLink,
                              const std::wstring& deviceName) {
    WorkAfterReturn work{*this};
    InterfaceInstance i{interfaceClass, symbolicLink, deviceName};
    {
        std::lock_guard guard(state_->lock);
        state_->interfaces.push_back(i);
    }
    Broadcast(*state_, i, GUID_DEVICE_INTERFACE_ARRIVAL);
}

void Machine::RemoveInterface(const GUID& interfaceClass, const std::wstring& symbolicLink) {
    WorkAfterReturn work{*this};
    InterfaceInstance removed;
    {
        std::lock_guard guard(state_->lock);
        auto& list = state_->interfaces;
        auto it = std::find_if(list.begin(), list.end(), [&](const InterfaceInstance& i) {
            return IsEqualGUID(i.interfaceClass, interfaceClass) && i.symbolicLink == symbolicLink;
        });
        if (it == list.end()) {
            return;
        }
        removed = *it;
        list.erase(it);
    }
    Broadcast(*state_, removed, GUID_DEVICE_INTERFACE_REMOVAL);
}

} // namespace kmdf
