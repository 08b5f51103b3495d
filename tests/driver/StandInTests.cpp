// The KMDF stand-in's own semantics that the driver relies on: object parenting and
// deletion, pool books, mappings, notifications with references, bounded formatting.
#include "Harness.h"

#include <aux_klib.h>
#include <ntstrsafe.h>
#include <wdf.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <string>

#include <WppRecorderApi.h>

namespace {

class StandIn : public MachineTest {};

NTSTATUS NoDevices(WDFDRIVER, PWDFDEVICE_INIT) {
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS BareEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath) {
    WDF_DRIVER_CONFIG config;
    WDF_DRIVER_CONFIG_INIT(&config, NoDevices);
    return WdfDriverCreate(driverObject, registryPath, WDF_NO_OBJECT_ATTRIBUTES, &config,
                           WDF_NO_HANDLE);
}

TEST_F(StandIn, ChildrenGoWithTheirParentAndPoolIsCountedByTag) {
    ASSERT_EQ(machine.LoadDriver(BareEntry), STATUS_SUCCESS);
    WDFCOLLECTION list;
    ASSERT_EQ(WdfCollectionCreate(WDF_NO_OBJECT_ATTRIBUTES, &list), STATUS_SUCCESS);
    WDF_OBJECT_ATTRIBUTES attributes;
    WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
    attributes.ParentObject = list;
    WDFMEMORY memory;
    PVOID buffer;
    ASSERT_EQ(WdfMemoryCreate(&attributes, PagedPool, 0x46485855, 24, &memory, &buffer),
              STATUS_SUCCESS);
    EXPECT_EQ(static_cast<unsigned char*>(buffer)[0], 0xA5) << "memory objects are not zeroed";
    ASSERT_EQ(WdfCollectionAdd(list, memory), STATUS_SUCCESS);
    EXPECT_EQ(WdfCollectionGetItem(list, 0), static_cast<WDFOBJECT>(memory));
    EXPECT_EQ(WdfCollectionGetItem(list, 1), nullptr);
    EXPECT_EQ(machine.GetBooks().poolByTag.at(0x46485855), 1u);

    PVOID pool = ExAllocatePool2(POOL_FLAG_PAGED, 16, 0x46485855);
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(static_cast<unsigned char*>(pool)[15], 0);
    EXPECT_EQ(machine.GetBooks().poolByTag.at(0x46485855), 2u);
    ExFreePoolWithTag(pool, 0x46485855);

    WdfObjectDelete(list);
    EXPECT_EQ(machine.GetBooks().poolAllocations, 0u);
    machine.UnloadDriver();
    EXPECT_TRUE(machine.GetBooks().AllZero()) << machine.GetBooks().Describe();
}

TEST_F(StandIn, DeletedItemLeavesItsCollection) {
    ASSERT_EQ(machine.LoadDriver(BareEntry), STATUS_SUCCESS);
    WDFCOLLECTION list;
    WDFMEMORY a, b;
    ASSERT_EQ(WdfCollectionCreate(WDF_NO_OBJECT_ATTRIBUTES, &list), STATUS_SUCCESS);
    ASSERT_EQ(WdfMemoryCreate(WDF_NO_OBJECT_ATTRIBUTES, PagedPool, 'T', 4, &a, nullptr),
              STATUS_SUCCESS);
    ASSERT_EQ(WdfMemoryCreate(WDF_NO_OBJECT_ATTRIBUTES, PagedPool, 'T', 4, &b, nullptr),
              STATUS_SUCCESS);
    WdfCollectionAdd(list, a);
    WdfCollectionAdd(list, b);
    WdfObjectDelete(a);
    EXPECT_EQ(WdfCollectionGetCount(list), 1u);
    EXPECT_EQ(WdfCollectionGetItem(list, 0), static_cast<WDFOBJECT>(b));
}

TEST_F(StandIn, MappingsAreCountedAndStrayAccessesEndTheSystem) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    PHYSICAL_ADDRESS at;
    at.QuadPart = static_cast<LONGLONG>(soc::kControllerBase[soc::kSecondary]);
    PVOID base = MmMapIoSpaceEx(at, 0x100000, PAGE_READWRITE | PAGE_NOCACHE);
    ASSERT_NE(base, nullptr);
    EXPECT_EQ(machine.GetBooks().mappings, 1u);
    auto* reg = reinterpret_cast<volatile ULONG*>(static_cast<PUCHAR>(base) + 0xF8808);
    WRITE_REGISTER_NOFENCE_ULONG(reg, 0x100);
    EXPECT_EQ(soc.Peek(soc::BlockKind::Controller, soc::kSecondary, 0xF8808), 0x100u);

    EXPECT_DEATH(READ_REGISTER_NOFENCE_ULONG(
                     reinterpret_cast<volatile ULONG*>(static_cast<PUCHAR>(base) + 0xF880A)),
                 "misaligned");
    EXPECT_DEATH(READ_REGISTER_NOFENCE_ULONG(
                     reinterpret_cast<volatile ULONG*>(static_cast<PUCHAR>(base) + 0x100000)),
                 "not mapped");
    EXPECT_DEATH(MmUnmapIoSpace(base, 0x1000), "length differs");

    soc.FailMappingAt(soc::kPhyBase);
    at.QuadPart = static_cast<LONGLONG>(soc::kPhyBase);
    EXPECT_EQ(MmMapIoSpaceEx(at, soc::kPhySize, PAGE_READWRITE | PAGE_NOCACHE), nullptr);
    at.QuadPart = 0x40000000; // nothing there
    EXPECT_EQ(MmMapIoSpaceEx(at, 0x1000, PAGE_READWRITE | PAGE_NOCACHE), nullptr);

    MmUnmapIoSpace(base, 0x100000);
    EXPECT_EQ(machine.GetBooks().mappings, 0u);
}

TEST_F(StandIn, FirmwareMemoryIsReadThroughItsMapping) {
    soc.AddMemory(0x80000000, {1, 2, 3, 4, 5, 6, 7, 8, 0x78, 0x56, 0x34, 0x12});
    PHYSICAL_ADDRESS at;
    at.QuadPart = 0x80000000;
    auto* record = static_cast<PUCHAR>(MmMapIoSpaceEx(at, 12, PAGE_READONLY));
    ASSERT_NE(record, nullptr);
    ULONG version;
    std::memcpy(&version, record + 8, sizeof version);
    EXPECT_EQ(version, 0x12345678u);
    MmUnmapIoSpace(record, 12);

    std::vector<std::uint8_t> dsdt(64, 0);
    machine.SetFirmwareTable(0x41435049, 0x54445344, dsdt);
    ASSERT_EQ(AuxKlibInitialize(), STATUS_SUCCESS);
    ULONG size = 0;
    EXPECT_EQ(AuxKlibGetSystemFirmwareTable(0x41435049, 0x54445344, nullptr, 0, &size),
              STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, 64u);
}

struct Service : kmdf::Endpoint {
    NTSTATUS QueryInterface(const GUID&, INTERFACE* iface, USHORT size, USHORT version,
                            PVOID) override {
        iface->Size = size;
        iface->Version = version;
        return STATUS_SUCCESS;
    }
};

constexpr GUID kClass = {
    0x902fe583, 0xd28a, 0x49c4, {0xa8, 0xe0, 0x23, 0xef, 0xce, 0xdc, 0xf7, 0xc7}};

struct Seen {
    int calls = 0;
    std::wstring link;
};

NTSTATUS OnArrival(PVOID notification, PVOID context) {
    auto* n = static_cast<PDEVICE_INTERFACE_CHANGE_NOTIFICATION>(notification);
    auto* seen = static_cast<Seen*>(context);
    ++seen->calls;
    seen->link.assign(n->SymbolicLinkName->Buffer, n->SymbolicLinkName->Length / sizeof(WCHAR));
    return STATUS_SUCCESS;
}

TEST_F(StandIn, InterfaceNotificationsIncludeExistingOnesAndLookUpsHoldReferences) {
    ASSERT_EQ(machine.LoadDriver(BareEntry), STATUS_SUCCESS);
    machine.AddNamedDevice(L"\\Device\\WakeLine0", std::make_shared<Service>());
    machine.ArriveInterface(kClass, L"\\??\\WAKE#0", L"\\Device\\WakeLine0");

    Seen seen;
    PVOID entry = nullptr;
    GUID cls = kClass;
    ASSERT_EQ(IoRegisterPlugPlayNotification(EventCategoryDeviceInterfaceChange,
                                             PNPNOTIFY_DEVICE_INTERFACE_INCLUDE_EXISTING_INTERFACES,
                                             &cls, WdfDriverWdmGetDriverObject(WdfGetDriver()),
                                             OnArrival, &seen, &entry),
              STATUS_SUCCESS);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.link, L"\\??\\WAKE#0");
    machine.ArriveInterface(kClass, L"\\??\\WAKE#1", L"\\Device\\WakeLine0");
    EXPECT_EQ(seen.calls, 2);
    EXPECT_EQ(machine.GetBooks().notifications, 1u);

    UNICODE_STRING name;
    RtlInitUnicodeString(&name, L"\\??\\WAKE#1");
    PFILE_OBJECT file;
    PDEVICE_OBJECT device;
    ASSERT_EQ(IoGetDeviceObjectPointer(&name, FILE_ALL_ACCESS, &file, &device), STATUS_SUCCESS);
    EXPECT_EQ(machine.GetBooks().references, 1u);
    ObDereferenceObject(file);

    machine.RemoveInterface(kClass, L"\\??\\WAKE#1");
    EXPECT_EQ(seen.calls, 3) << "removals are reported to the same callback";
    EXPECT_EQ(IoGetDeviceObjectPointer(&name, FILE_ALL_ACCESS, &file, &device),
              STATUS_OBJECT_NAME_NOT_FOUND);

    ASSERT_EQ(IoUnregisterPlugPlayNotificationEx(entry), STATUS_SUCCESS);
    machine.ArriveInterface(kClass, L"\\??\\WAKE#2", L"\\Device\\WakeLine0");
    EXPECT_EQ(seen.calls, 3);
    machine.UnloadDriver();
    EXPECT_TRUE(machine.GetBooks().AllZero()) << machine.GetBooks().Describe();
}

// Allocates and frees twice; returns what the allocations gave, in the low two bits.
NTSTATUS AllocatingArrival(PVOID, PVOID context) {
    auto* got = static_cast<int*>(context);
    for (int i = 0; i < 2; ++i) {
        PVOID p = ExAllocatePool2(POOL_FLAG_PAGED, 16, 0x46485855);
        *got |= (p != nullptr ? 1 : 0) << i;
        if (p != nullptr) {
            ExFreePoolWithTag(p, 0x46485855);
        }
    }
    return STATUS_SUCCESS;
}

int g_arrivalAllocations;

// Registers for an interface that exists already, so that the notification runs nested in
// driver entry, then allocates once more itself.
extern "C" NTSTATUS NotifyingEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath) {
    NTSTATUS status = BareEntry(driverObject, registryPath);
    GUID cls = kClass;
    PVOID entry = nullptr;
    IoRegisterPlugPlayNotification(EventCategoryDeviceInterfaceChange,
                                   PNPNOTIFY_DEVICE_INTERFACE_INCLUDE_EXISTING_INTERFACES, &cls,
                                   driverObject, AllocatingArrival, &g_arrivalAllocations, &entry);
    IoUnregisterPlugPlayNotificationEx(entry);
    PVOID p = ExAllocatePool2(POOL_FLAG_PAGED, 16, 0x46485855);
    if (p == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    ExFreePoolWithTag(p, 0x46485855);
    return status;
}

TEST_F(StandIn, TheNthCallFailsOnceAndIsChargedToTheInnermostCallback) {
    machine.AddNamedDevice(L"\\Device\\WakeLine0", std::make_shared<Service>());
    machine.ArriveInterface(kClass, L"\\??\\WAKE#0", L"\\Device\\WakeLine0");
    g_arrivalAllocations = 0;
    machine.FailCall("ExAllocatePool2", 2, STATUS_INSUFFICIENT_RESOURCES);
    ASSERT_EQ(machine.LoadDriver(NotifyingEntry), STATUS_SUCCESS);
    EXPECT_EQ(g_arrivalAllocations, 0x1) << "only the second allocation fails";
    EXPECT_EQ(machine.CallCount("ExAllocatePool2"), 3u);
    EXPECT_EQ(machine.CallCount("IoRegisterPlugPlayNotification"), 1u);
    EXPECT_EQ(machine.CallCount("WdfDriverCreate"), 1u);

    auto callbacks = machine.Callbacks();
    ASSERT_EQ(callbacks.size(), 2u);
    EXPECT_EQ(callbacks[0].callback, "Notification");
    EXPECT_EQ(callbacks[0].failedRoutine, "ExAllocatePool2");
    EXPECT_EQ(callbacks[0].failedCall, 2u);
    EXPECT_EQ(callbacks[1].callback, "DriverEntry");
    EXPECT_EQ(callbacks[1].status, STATUS_SUCCESS);
    EXPECT_EQ(callbacks[1].failedRoutine, "") << "the nested callback's failure is not its own";

    machine.UnloadDriver();
    EXPECT_TRUE(machine.GetBooks().AllZero()) << machine.GetBooks().Describe();
}

struct Gate {
    std::atomic<bool> entered{false};
    std::atomic<bool> open{false};
    std::atomic<bool> finished{false};
};

NTSTATUS BlockingArrival(PVOID, PVOID context) {
    auto* gate = static_cast<Gate*>(context);
    gate->entered = true;
    while (!gate->open) {
        std::this_thread::yield();
    }
    gate->finished = true;
    return STATUS_SUCCESS;
}

TEST_F(StandIn, UnregistrationReturnsOnlyAfterTheRunningCallback) {
    ASSERT_EQ(machine.LoadDriver(BareEntry), STATUS_SUCCESS);
    Gate gate;
    PVOID entry = nullptr;
    GUID cls = kClass;
    ASSERT_EQ(IoRegisterPlugPlayNotification(EventCategoryDeviceInterfaceChange, 0, &cls,
                                             WdfDriverWdmGetDriverObject(WdfGetDriver()),
                                             BlockingArrival, &gate, &entry),
              STATUS_SUCCESS);
    std::thread system([&] { machine.ArriveInterface(kClass, L"\\??\\WAKE#9", L"\\Device\\X"); });
    while (!gate.entered) {
        std::this_thread::yield();
    }
    std::atomic<bool> unregistered{false};
    std::thread release([&] {
        IoUnregisterPlugPlayNotificationEx(entry);
        unregistered = true;
        EXPECT_TRUE(gate.finished) << "a callback ran after the unregistration returned";
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(unregistered);
    gate.open = true;
    release.join();
    system.join();
    EXPECT_TRUE(unregistered);
    EXPECT_EQ(machine.GetBooks().notifications, 0u);
}

TEST_F(StandIn, BoundedFormattersTruncateAndSaySo) {
    WCHAR path[100];
    EXPECT_EQ(RtlStringCbPrintfW(path, sizeof path, L"\\Device\\RESOURCE_HUB\\%08x%08x", 1u, 0x2au),
              STATUS_SUCCESS);
    EXPECT_EQ(std::wstring(path), L"\\Device\\RESOURCE_HUB\\000000010000002a");
    WCHAR name[8];
    EXPECT_EQ(RtlStringCbPrintfW(name, sizeof name, L"%s", L"TOO LONG NAME"),
              STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(std::wstring(name), L"TOO LON");
    char narrow[5];
    EXPECT_EQ(RtlStringCbPrintfA(narrow, sizeof narrow, "%s", "PHYC"), STATUS_SUCCESS);
    EXPECT_EQ(RtlStringCbPrintfA(narrow, sizeof narrow, "%s", "PHYCX"), STATUS_BUFFER_OVERFLOW);
    EXPECT_STREQ(narrow, "PHYC");
}

constexpr GUID kProvider = {
    0x552f0202, 0x67e3, 0x40cd, {0x83, 0xa9, 0x03, 0xe5, 0x30, 0x91, 0x7d, 0x36}};

TEST_F(StandIn, EventsAreWrittenOnlyWhileAConsumerWantsThem) {
    REGHANDLE handle = 0;
    ASSERT_EQ(EtwRegister(&kProvider, nullptr, nullptr, &handle), STATUS_SUCCESS);
    EVENT_DESCRIPTOR info, verbose;
    EventDescCreate(&info, 5, 0, 0, TRACE_LEVEL_INFORMATION, 0, 0, 0);
    EventDescCreate(&verbose, 6, 0, 0, TRACE_LEVEL_VERBOSE, 0, 0, 0x2);
    ULONG payload[2] = {1, 125000000};
    EVENT_DATA_DESCRIPTOR data[2];
    EventDataDescCreate(&data[0], &payload[0], sizeof(ULONG));
    EventDataDescCreate(&data[1], &payload[1], sizeof(ULONG));

    EXPECT_EQ(EtwWriteTransfer(handle, &info, nullptr, nullptr, 2, data), STATUS_SUCCESS);
    EXPECT_TRUE(machine.Events().empty());

    machine.EnableProvider(kProvider, TRACE_LEVEL_INFORMATION, 0x1);
    EXPECT_TRUE(EtwEventEnabled(handle, &info));
    EXPECT_FALSE(EtwEventEnabled(handle, &verbose));
    EXPECT_EQ(EtwWriteTransfer(handle, &info, nullptr, nullptr, 2, data), STATUS_SUCCESS);
    EXPECT_EQ(EtwWriteTransfer(handle, &verbose, nullptr, nullptr, 0, nullptr), STATUS_SUCCESS);
    ASSERT_EQ(machine.Events().size(), 1u);
    EXPECT_EQ(machine.Events()[0].id, 5);

    bool traced = false;
    for (auto& r : soc.Records()) {
        traced |= r.op == soc::Op::Event && r.eventId == 5 &&
                  r.payload == std::vector<std::uint32_t>{1, 125000000};
    }
    EXPECT_TRUE(traced);

    EXPECT_EQ(EtwUnregister(handle), STATUS_SUCCESS);
    EXPECT_EQ(EtwUnregister(handle), STATUS_INVALID_HANDLE);
    EXPECT_EQ(EtwWriteTransfer(handle, &info, nullptr, nullptr, 0, nullptr), STATUS_INVALID_HANDLE);
}

struct Ioctl : kmdf::Endpoint {
    NTSTATUS DeviceIoControl(ULONG code, const void* input, std::size_t inputLength, void* output,
                             std::size_t outputLength, ULONG_PTR* returned,
                             LONGLONG timeout) override {
        lastCode = code;
        lastTimeout = timeout;
        if (inputLength != 1 || outputLength != 1) {
            return STATUS_INVALID_PARAMETER;
        }
        *static_cast<UCHAR*>(output) = *static_cast<const UCHAR*>(input);
        *returned = 1;
        return hang ? STATUS_IO_TIMEOUT : STATUS_SUCCESS;
    }
    ULONG lastCode = 0;
    LONGLONG lastTimeout = 0;
    bool hang = false;
};

NTSTATUS AddPlain(WDFDRIVER, PWDFDEVICE_INIT init) {
    WDFDEVICE device;
    return WdfDeviceCreate(&init, WDF_NO_OBJECT_ATTRIBUTES, &device);
}

extern "C" NTSTATUS PlainEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath) {
    WDF_DRIVER_CONFIG config;
    WDF_DRIVER_CONFIG_INIT(&config, AddPlain);
    return WdfDriverCreate(driverObject, registryPath, WDF_NO_OBJECT_ATTRIBUTES, &config,
                           WDF_NO_HANDLE);
}

TEST_F(StandIn, IoTargetsOpenByNameCarryTimeoutsAndRefuseWhenClosed) {
    ASSERT_EQ(machine.LoadDriver(PlainEntry), STATUS_SUCCESS);
    auto gpio = std::make_shared<Ioctl>();
    machine.AddNamedDevice(L"\\Device\\RESOURCE_HUB\\000000010000002a", gpio);
    kmdf::DeviceSpec spec;
    spec.lowerDevice = std::make_shared<Ioctl>();
    kmdf::DeviceId id;
    ASSERT_EQ(machine.AddDevice(spec, &id), STATUS_SUCCESS);
    WDFDEVICE device = machine.Device(id);
    EXPECT_NE(WdfDeviceGetIoTarget(device), nullptr);

    WDFIOTARGET target;
    ASSERT_EQ(WdfIoTargetCreate(device, WDF_NO_OBJECT_ATTRIBUTES, &target), STATUS_SUCCESS);
    DECLARE_CONST_UNICODE_STRING(missing, L"\\Device\\RESOURCE_HUB\\0000000000000000");
    WDF_IO_TARGET_OPEN_PARAMS params;
    WDF_IO_TARGET_OPEN_PARAMS_INIT_OPEN_BY_NAME(&params, &missing, GENERIC_READ | GENERIC_WRITE);
    EXPECT_EQ(WdfIoTargetOpen(target, &params), STATUS_OBJECT_NAME_NOT_FOUND);

    DECLARE_CONST_UNICODE_STRING(hub, L"\\Device\\RESOURCE_HUB\\000000010000002a");
    WDF_IO_TARGET_OPEN_PARAMS_INIT_OPEN_BY_NAME(&params, &hub, GENERIC_READ | GENERIC_WRITE);
    EXPECT_EQ(params.CreateDisposition, FILE_OPEN);
    EXPECT_EQ(params.CreateOptions, FILE_NON_DIRECTORY_FILE);
    ASSERT_EQ(WdfIoTargetOpen(target, &params), STATUS_SUCCESS);

    UCHAR value = 1;
    WDF_MEMORY_DESCRIPTOR in, out;
    WDF_MEMORY_DESCRIPTOR_INIT_BUFFER(&in, &value, 1);
    WDF_MEMORY_DESCRIPTOR_INIT_BUFFER(&out, &value, 1);
    WDF_REQUEST_SEND_OPTIONS options;
    WDF_REQUEST_SEND_OPTIONS_INIT(&options, WDF_REQUEST_SEND_OPTION_SYNCHRONOUS);
    WDF_REQUEST_SEND_OPTIONS_SET_TIMEOUT(&options, WDF_REL_TIMEOUT_IN_MS(300));
    ULONG_PTR returned = 0;
    EXPECT_EQ(WdfIoTargetSendIoctlSynchronously(target, nullptr, 0x00480004, &in, &out, &options,
                                                &returned),
              STATUS_SUCCESS);
    EXPECT_EQ(gpio->lastCode, 0x00480004u);
    EXPECT_EQ(gpio->lastTimeout, -3000000);
    EXPECT_EQ(returned, 1u);
    gpio->hang = true;
    EXPECT_EQ(WdfIoTargetSendIoctlSynchronously(target, nullptr, 0x00480004, &in, &out, &options,
                                                nullptr),
              STATUS_IO_TIMEOUT);

    WdfIoTargetClose(target);
    EXPECT_EQ(
        WdfIoTargetSendIoctlSynchronously(target, nullptr, 0x00480004, &in, &out, nullptr, nullptr),
        STATUS_INVALID_DEVICE_STATE);
    WdfObjectDelete(target);
}

TEST_F(StandIn, TraceLevelDecidesWhichDiagnosticsAreRecorded) {
    machine.SetTraceLevel(TRACE_LEVEL_ERROR);
    WppStandInTrace(TRACE_LEVEL_INFORMATION, 1, "TRACE_DRIVER", "F", "info %d", 1);
    WppStandInTrace(TRACE_LEVEL_ERROR, 1, "TRACE_DRIVER", "F", "error %d", 2);
    EXPECT_FALSE(WppStandInEnabled(1, TRACE_LEVEL_INFORMATION));
    ASSERT_EQ(machine.Diagnostics().size(), 1u);
    EXPECT_EQ(machine.Diagnostics()[0].message, "error 2");
    EXPECT_EQ(machine.CountDiagnostics(TRACE_LEVEL_ERROR), 1u);
}

TEST_F(StandIn, MisusedPoolAndStaleHandlesEndTheSystem) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ASSERT_EQ(machine.LoadDriver(BareEntry), STATUS_SUCCESS);
    PVOID p = ExAllocatePool2(POOL_FLAG_NON_PAGED, 8, 0x46485855);
    EXPECT_DEATH(ExFreePoolWithTag(p, 0x11111111), "tag does not match");
    ExFreePoolWithTag(p, 0x46485855);
    EXPECT_DEATH(ExFreePoolWithTag(p, 0x46485855), "freed twice");
    EXPECT_DEATH(ExAllocatePool2(POOL_FLAG_PAGED, 8, 0), "must be tagged");

    WDFCOLLECTION list;
    ASSERT_EQ(WdfCollectionCreate(WDF_NO_OBJECT_ATTRIBUTES, &list), STATUS_SUCCESS);
    WdfObjectDelete(list);
    EXPECT_DEATH(WdfCollectionGetCount(list), "invalid or deleted framework handle");
}

} // namespace
