// The KMDF stand-in's own semantics that the driver relies on: object parenting and
// deletion, pool books, mappings, notifications with references, bounded formatting.
#include "Harness.h"

#include <aux_klib.h>
#include <ntstrsafe.h>
#include <wdf.h>

#include <cstring>

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

    ASSERT_EQ(IoUnregisterPlugPlayNotificationEx(entry), STATUS_SUCCESS);
    machine.ArriveInterface(kClass, L"\\??\\WAKE#2", L"\\Device\\WakeLine0");
    EXPECT_EQ(seen.calls, 2);
    machine.UnloadDriver();
    EXPECT_TRUE(machine.GetBooks().AllZero()) << machine.GetBooks().Describe();
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

} // namespace
