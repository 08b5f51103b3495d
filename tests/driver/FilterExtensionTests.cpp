// The device context as device add leaves it, and its layout.
#include "Harness.h"
#include "Platform.h"
#include "frame/Driver.h"

#include <cstddef>
#include <cstring>
#include <iterator>
#include <type_traits>

namespace {

TEST(FilterExtensionLayout, FieldsKeepTheirOrderAndWidths) {
    // Offsets strictly increase in declaration order; the widths are those of the record.
#define FIELD(name, width)                                                                         \
    { #name, offsetof(FILTER_EXTENSION, name), sizeof(FILTER_EXTENSION::name), width }
    struct Field {
        const char* name;
        std::size_t offset, size, width;
    } fields[] = {
        FIELD(Device, sizeof(void*)),
        FIELD(ControllerBase, sizeof(void*)),
        FIELD(ControllerLength, 4),
        FIELD(ClockResetBase, sizeof(void*)),
        FIELD(ClockResetLength, 4),
        FIELD(PhyBase, sizeof(void*)),
        FIELD(PhyLength, 4),
        FIELD(PoweredDown, 1),
        FIELD(Instance, 4),
        FIELD(PortPairCount, 4),
        FIELD(PortPairs, sizeof(void*)),
        FIELD(PortPairsMemory, sizeof(void*)),
        FIELD(SsPhyFailed, 1),
        FIELD(SocVersion, 4),
        FIELD(PhyOverrides, sizeof(void*)),
        FIELD(Ccvl, 1),
        FIELD(WakeLineTarget, sizeof(void*)),
        FIELD(WakeLineInterface, 40),
        FIELD(ArrivalNotification, sizeof(void*)),
        FIELD(WakeInterfaceReady, 1),
        FIELD(Gen1, 1),
        FIELD(Mprd, 1),
        FIELD(Mpdp, 1),
        FIELD(GpioConnectionIdLow, 4),
        FIELD(GpioConnectionIdHigh, 4),
        FIELD(GpioTarget, sizeof(void*)),
    };
#undef FIELD
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        SCOPED_TRACE(fields[i].name);
        EXPECT_EQ(fields[i].size, fields[i].width);
        if (i > 0) {
            EXPECT_GT(fields[i].offset, fields[i - 1].offset);
        }
    }
    EXPECT_TRUE(std::is_signed_v<decltype(FILTER_EXTENSION::Instance)>);
    EXPECT_EQ(sizeof(PORT_PAIR_STATE), 12u);
    EXPECT_EQ(offsetof(PORT_PAIR_STATE, LineBMode), 4u);
    EXPECT_EQ(offsetof(PORT_PAIR_STATE, LineAMode), 8u);
}

class FreshContext : public MachineTest {};

TEST_F(FreshContext, IsZeroButForItsDeviceItsArrivalLockItsWorkItemAndAnEmptyOverrideList) {
    ASSERT_EQ(machine.LoadDriver(DriverEntry), STATUS_SUCCESS);
    kmdf::DeviceId id;
    ASSERT_EQ(machine.AddDevice(pelvane::ControllerDevice(soc::kMultiport), &id), STATUS_SUCCESS);
    WDFDEVICE device = machine.Device(id);
    PFILTER_EXTENSION extension = GetFilterExtension(device);
    ASSERT_NE(extension, nullptr);
    EXPECT_EQ(extension->Device, device);
    ASSERT_NE(extension->PhyOverrides, nullptr);
    EXPECT_EQ(WdfCollectionGetCount(extension->PhyOverrides), 0u);

    FILTER_EXTENSION expected;
    std::memset(&expected, 0, sizeof expected);
    expected.Device = extension->Device;
    expected.PhyOverrides = extension->PhyOverrides;
    ASSERT_NE(extension->WakeLineWorkItem, nullptr);
    EXPECT_EQ(WdfWorkItemGetParentObject(extension->WakeLineWorkItem), device);
    expected.WakeLineWorkItem = extension->WakeLineWorkItem;
    ExInitializeRundownProtection(&expected.WakeLineRundown);
    // The lock of the wake-line notifications, an event initialised free.
    KeInitializeEvent(&expected.WakeLineArrivalLock, SynchronizationEvent, TRUE);
    EXPECT_EQ(extension->WakeLineArrivalLock.Header.SignalState, 1);
    EXPECT_EQ(std::memcmp(extension, &expected, sizeof expected), 0);

    // The override list and the work item belong to the device and go with it.
    const std::size_t withDevice = machine.GetBooks().objects;
    machine.RemoveDevice(id);
    EXPECT_EQ(machine.GetBooks().objects, withDevice - 4); // device, default target, list, item
}

TEST_F(FreshContext, IsNotFoundOnObjectsOfOtherTypes) {
    ASSERT_EQ(machine.LoadDriver(DriverEntry), STATUS_SUCCESS);
    kmdf::DeviceId id;
    ASSERT_EQ(machine.AddDevice(pelvane::ControllerDevice(soc::kPrimary), &id), STATUS_SUCCESS);
    PFILTER_EXTENSION extension = GetFilterExtension(machine.Device(id));
    EXPECT_EQ(GetFilterExtension(extension->PhyOverrides), nullptr);
}

TEST(PortPairs, NumberAndNameFollowInstanceAndPair) {
    EXPECT_EQ(PortNumber(INSTANCE_PRIMARY, 0), 0u);
    EXPECT_EQ(PortNumber(INSTANCE_SECONDARY, 0), 1u);
    EXPECT_EQ(PortNumber(INSTANCE_MULTIPORT, 0), 2u);
    EXPECT_EQ(PortNumber(INSTANCE_MULTIPORT, 1), 3u);
    EXPECT_STREQ(PortPairName(0), "Primary");
    EXPECT_STREQ(PortPairName(3), "Multiport 1");
    EXPECT_STREQ(PortPairName(4), "Unknown");
}

} // namespace
