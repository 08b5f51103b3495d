// Prepare and release hardware: recognition, mappings, port pairs, the GPIO connection, what
// each failure leaves behind, and the books over many starts and stops.
#include "FrameWorld.h"
#include "frame/HardwareResources.h"

#include <cstring>
#include <thread>

namespace {

using pelvane::ResourceOptions;

class HardwareResources : public FrameWorld {
  protected:
    // What the last prepare hardware left when it returned: a failed start removes the device
    // right after release hardware, so its context cannot be read afterwards.
    kmdf::Books PrepareBooks() const {
        kmdf::Books books;
        for (const auto& r : machine.Callbacks()) {
            if (r.callback == "EvtDevicePrepareHardware") {
                books = r.books;
            }
        }
        return books;
    }
    static std::size_t PortPairPool(const kmdf::Books& books) {
        auto it = books.poolByTag.find(0x46485855);
        return it == books.poolByTag.end() ? 0 : it->second;
    }
};

TEST_F(HardwareResources, MultiportIsMappedWithTwoPairsItsGpioTargetAndTheRegistration) {
    kmdf::DeviceId id = Add(soc::kMultiport);
    const kmdf::Books before = machine.GetBooks();
    ASSERT_EQ(machine.StartDevice(id), STATUS_SUCCESS);
    PFILTER_EXTENSION e = Context(id);

    EXPECT_EQ(e->Instance, 2);
    EXPECT_EQ(e->PortPairCount, 2u);
    ASSERT_NE(e->ControllerBase, nullptr);
    EXPECT_EQ(e->ControllerLength, 0x100000u);
    ASSERT_NE(e->ClockResetBase, nullptr);
    EXPECT_EQ(e->ClockResetLength, 0x200000u);
    ASSERT_NE(e->PhyBase, nullptr);
    EXPECT_EQ(e->PhyLength, 0x14000u);
    EXPECT_EQ(machine.GetBooks().mappings, 3u);

    ASSERT_NE(e->PortPairsMemory, nullptr);
    size_t size = 0;
    EXPECT_EQ(WdfMemoryGetBuffer(e->PortPairsMemory, &size), e->PortPairs);
    EXPECT_EQ(size, 24u);
    const PORT_PAIR_STATE zero[2] = {};
    EXPECT_EQ(std::memcmp(e->PortPairs, zero, sizeof zero), 0);
    EXPECT_EQ(machine.GetBooks().poolByTag.at(0x46485855), 1u);

    // The connection of the multiport's resources, opened at its resource hub path.
    EXPECT_EQ(e->GpioConnectionIdLow, 0x2Bu);
    EXPECT_EQ(e->GpioConnectionIdHigh, 0x1u);
    EXPECT_NE(e->GpioTarget, nullptr);
    EXPECT_EQ(e->SocVersion, 0x00020001u);
    EXPECT_NE(e->ArrivalNotification, nullptr);
    EXPECT_EQ(machine.CountDiagnostics(TRACE_LEVEL_ERROR), 0u);
    // The bring-up ran on the mapped blocks: the Multiport reset pulses come first.
    EXPECT_GT(RegisterAccesses(), 0u);

    ASSERT_EQ(machine.StopDevice(id), STATUS_SUCCESS);
    EXPECT_EQ(e->ControllerBase, nullptr);
    EXPECT_EQ(e->ClockResetBase, nullptr);
    EXPECT_EQ(e->PhyBase, nullptr);
    EXPECT_EQ(e->PortPairs, nullptr);
    EXPECT_EQ(e->PortPairsMemory, nullptr);
    EXPECT_EQ(e->GpioTarget, nullptr);
    EXPECT_EQ(e->ArrivalNotification, nullptr);
    const kmdf::Books after = machine.GetBooks();
    EXPECT_EQ(after.objects, before.objects);
    EXPECT_EQ(after.mappings, 0u);
    EXPECT_EQ(after.poolAllocations, 0u);
    EXPECT_EQ(after.notifications, 0u);
    ExpectBalancedAfterUnload();
}

// Each device's books hold what its own callbacks took: the three mappings, the port pairs and
// the registration of Multiport are its own, and its removal gives them back while Primary
// keeps its own.
TEST_F(HardwareResources, EachDeviceHoldsWhatItsCallbacksTookAndARemovedOneNothing) {
    kmdf::DeviceId primary = Add(soc::kPrimary);
    kmdf::DeviceId multiport = Add(soc::kMultiport);
    ASSERT_EQ(machine.StartDevice(primary), STATUS_SUCCESS);
    ASSERT_EQ(machine.StartDevice(multiport), STATUS_SUCCESS);
    const kmdf::Books mine = machine.GetBooks(multiport);
    EXPECT_EQ(mine.mappings, 3u);
    EXPECT_EQ(PortPairPool(mine), 1u);
    EXPECT_EQ(mine.notifications, 1u);
    EXPECT_GT(mine.objects, 0u);
    EXPECT_EQ(mine.references, 0u); // the driver's, not kept per device
    const std::string primaryBooks = machine.GetBooks(primary).Describe();
    EXPECT_EQ(machine.GetBooks(primary).mappings, 3u);

    machine.RemoveDevice(multiport);
    EXPECT_TRUE(machine.GetBooks(multiport).AllZero()) << machine.GetBooks(multiport).Describe();
    EXPECT_EQ(machine.GetBooks(primary).Describe(), primaryBooks);
    machine.RemoveDevice(primary);
    EXPECT_TRUE(machine.GetBooks(primary).AllZero());
    ExpectBalancedAfterUnload();
}

TEST_F(HardwareResources, EachControllerAddressNamesItsInstanceAndAnyOtherFails) {
    struct Row {
        std::uint64_t start;
        NTSTATUS status;
        LONG instance;
        ULONG pairs;
    } rows[] = {
        {0x0A600000, STATUS_SUCCESS, 0, 1},
        {0x0A800000, STATUS_SUCCESS, 1, 1},
        {0x0A400000, STATUS_SUCCESS, 2, 2},
        {0x0A500000, (NTSTATUS)0xC00000E5, 3, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.start);
        ResourceOptions options;
        options.memoryAt = row.start;
        kmdf::DeviceId id = Add(soc::kPrimary, options);
        const std::size_t mappingsBefore = machine.GetBooks().mappings;
        EXPECT_EQ(machine.StartDevice(id), row.status);
        if (NT_SUCCESS(row.status)) {
            EXPECT_EQ(Context(id)->Instance, row.instance);
            EXPECT_EQ(Context(id)->PortPairCount, row.pairs);
        } else {
            // No instance, no port pairs: nothing was mapped and the device is removed.
            EXPECT_EQ(PrepareBooks().mappings, mappingsBefore);
            EXPECT_EQ(PortPairPool(PrepareBooks()), 0u);
            EXPECT_FALSE(machine.DevicePresent(id));
        }
        machine.RemoveDevice(id);
    }
    EXPECT_TRUE(ReportedError("0x000000000A500000"));
    EXPECT_EQ(machine.CountDiagnostics(TRACE_LEVEL_ERROR), 1u);
    ExpectBalancedAfterUnload();
}

TEST_F(HardwareResources, ReleaseAfterAFirstDescriptorOfNoControllerUndoesNothingAndSucceeds) {
    ResourceOptions options;
    options.memoryAt = 0x0A500000;
    const kmdf::Books before = machine.GetBooks();
    kmdf::DeviceId id = Add(soc::kSecondary, options);
    EXPECT_EQ(machine.StartDevice(id), STATUS_INTERNAL_ERROR); // then release and removal
    const kmdf::Books after = machine.GetBooks();
    EXPECT_EQ(after.objects, before.objects) << "the removed device leaves nothing";
    EXPECT_EQ(after.mappings, 0u);
    EXPECT_EQ(after.notifications, 0u);
    EXPECT_TRUE(Reported("released"));
    EXPECT_FALSE(Reported("GPIO connection")) << "the GPIO resource comes after the failure";
    EXPECT_FALSE(machine.DevicePresent(id));
    ExpectBalancedAfterUnload();
}

TEST_F(HardwareResources, HighAddressBitIsIgnoredForRecognitionButMappedInFull) {
    const std::uint64_t high = 0x10A600000ull;
    soc.AddMemory(high, std::vector<std::uint8_t>(0x100000, 0));
    ResourceOptions options;
    options.highAddressBit = true;
    kmdf::DeviceId id = Add(soc::kPrimary, options);
    ASSERT_EQ(machine.StartDevice(id), STATUS_SUCCESS);
    EXPECT_EQ(Context(id)->Instance, 0);
    EXPECT_EQ(Context(id)->PortPairCount, 1u);
    EXPECT_EQ(Context(id)->ControllerBase, soc.MemoryAt(high, 0x100000));
    ExpectBalancedAfterUnload();
}

TEST_F(HardwareResources, OnlyTheFirstGpioConnectionIsTakenAndASecondIsReported) {
    ResourceOptions options;
    options.gpioConnections = 2;
    kmdf::DeviceId id = Add(soc::kSecondary, options);
    ASSERT_EQ(machine.StartDevice(id), STATUS_SUCCESS);
    EXPECT_EQ(Context(id)->GpioConnectionIdLow, 0x2Au);
    EXPECT_EQ(Context(id)->GpioConnectionIdHigh, 0x1u);
    EXPECT_NE(Context(id)->GpioTarget, nullptr);
    EXPECT_EQ(machine.CountDiagnostics(TRACE_LEVEL_ERROR), 1u);
    EXPECT_TRUE(ReportedError("second GPIO connection 0x00000002000000A1"));
    ExpectBalancedAfterUnload();
}

TEST_F(HardwareResources, GpioTargetThatCannotBeMadeLeavesItNoneWithoutFailingTheStart) {
    machine.RemoveNamedDevice(L"\\Device\\RESOURCE_HUB\\0000000100000029");
    kmdf::DeviceId primary = Add(soc::kPrimary);
    EXPECT_EQ(machine.StartDevice(primary), STATUS_SUCCESS);
    EXPECT_EQ(Context(primary)->GpioTarget, nullptr);
    EXPECT_TRUE(ReportedError("GPIO target WdfIoTargetOpen failed, status 0xC0000034"));

    machine.FailNext("WdfIoTargetCreate", STATUS_INSUFFICIENT_RESOURCES);
    kmdf::DeviceId secondary = Add(soc::kSecondary);
    EXPECT_EQ(machine.StartDevice(secondary), STATUS_SUCCESS);
    EXPECT_EQ(Context(secondary)->GpioTarget, nullptr);

    ResourceOptions none;
    none.gpioConnections = 0;
    kmdf::DeviceId multiport = Add(soc::kMultiport, none);
    EXPECT_EQ(machine.StartDevice(multiport), STATUS_SUCCESS);
    EXPECT_EQ(Context(multiport)->GpioTarget, nullptr);
    EXPECT_EQ(machine.CountDiagnostics(TRACE_LEVEL_ERROR), 2u);

    // Called with no connection ID, as D0 entry may: none, and an error.
    EXPECT_EQ(OpenGpioTarget(machine.Device(multiport)), nullptr);
    EXPECT_TRUE(ReportedError("no GPIO connection ID"));
    ExpectBalancedAfterUnload();
}

// One row of the failure table per run, each on a machine and SoC of its own.
struct FailureRow {
    const char* what;
    void (*arrange)(soc::Soc&, kmdf::Machine&);
    NTSTATUS status;
    std::size_t errors;
};

class PrepareFailure : public FrameWorld, public ::testing::WithParamInterface<FailureRow> {};

TEST_P(PrepareFailure, AnswersWithItsStatusAndReleaseBalancesTheBooks) {
    const FailureRow& row = GetParam();
    row.arrange(soc, machine);
    kmdf::DeviceId id = Add(soc::kPrimary);
    EXPECT_EQ(machine.StartDevice(id), row.status);
    EXPECT_EQ(machine.CountDiagnostics(TRACE_LEVEL_ERROR), row.errors);
    if (NT_SUCCESS(row.status)) {
        EXPECT_EQ(Context(id)->ArrivalNotification, nullptr);
    }
    machine.RemoveDevice(id);
    EXPECT_EQ(machine.GetBooks().mappings, 0u);
    ExpectBalancedAfterUnload();
}

INSTANTIATE_TEST_SUITE_P(
    Table, PrepareFailure,
    ::testing::Values(FailureRow{"ControllerBlock",
                                 [](soc::Soc& s, kmdf::Machine&) { s.FailMappingAt(0x0A600000); },
                                 (NTSTATUS)0xC00000E5, 0},
                      FailureRow{"ClockResetBlock",
                                 [](soc::Soc& s, kmdf::Machine&) { s.FailMappingAt(0x00100000); },
                                 (NTSTATUS)0xC00000E5, 0},
                      FailureRow{"PhyBlock",
                                 [](soc::Soc& s, kmdf::Machine&) { s.FailMappingAt(0x088E0000); },
                                 (NTSTATUS)0xC00000E5, 0},
                      FailureRow{"PortPairMemory",
                                 [](soc::Soc&, kmdf::Machine& m) {
                                     m.FailNext("WdfMemoryCreate", STATUS_INSUFFICIENT_RESOURCES);
                                 },
                                 STATUS_INSUFFICIENT_RESOURCES, 1},
                      FailureRow{"Registration",
                                 [](soc::Soc&, kmdf::Machine& m) {
                                     m.FailNext("IoRegisterPlugPlayNotification",
                                                STATUS_INSUFFICIENT_RESOURCES);
                                 },
                                 STATUS_SUCCESS, 2}),
    [](const ::testing::TestParamInfo<FailureRow>& info) { return std::string(info.param.what); });

TEST_F(HardwareResources, ListWithoutMemoryFailsBeforeAnyBlockIsMappedOrRegisterTouched) {
    ResourceOptions options;
    options.memoryResources = 0;
    kmdf::DeviceId id = Add(soc::kPrimary, options);
    EXPECT_EQ(machine.StartDevice(id), STATUS_INTERNAL_ERROR);
    EXPECT_TRUE(ReportedError("no memory resource"));
    EXPECT_FALSE(Reported("SoC version")) << "prepare went on past the resources";
    EXPECT_EQ(PrepareBooks().mappings, 0u) << "no clock and reset block";
    EXPECT_EQ(PortPairPool(PrepareBooks()), 0u) << "no port pair memory";
    EXPECT_EQ(RegisterAccesses(), 0u);
    EXPECT_FALSE(machine.DevicePresent(id));
    ExpectBalancedAfterUnload();
}

TEST_F(HardwareResources, SecondMemoryResourceReplacesTheFirstMappingWithoutLeakingIt) {
    ResourceOptions options;
    options.memoryResources = 2;
    kmdf::DeviceId id = Add(soc::kMultiport, options);
    ASSERT_EQ(machine.StartDevice(id), STATUS_SUCCESS);
    EXPECT_EQ(machine.GetBooks().mappings, 3u);
    EXPECT_EQ(Context(id)->Instance, 2);
    ASSERT_EQ(machine.StopDevice(id), STATUS_SUCCESS);
    EXPECT_EQ(machine.GetBooks().mappings, 0u);
    ExpectBalancedAfterUnload();
}

TEST_F(HardwareResources, PrepareAndReleaseAlternateManyTimesWithTheBooksBalanced) {
    kmdf::DeviceId id = Add(soc::kMultiport);
    const kmdf::Books before = machine.GetBooks();
    for (int round = 0; round < 50; ++round) {
        ASSERT_EQ(machine.StartDevice(id), STATUS_SUCCESS) << round;
        Context(id)->PortPairs[1].LineAMode = 7; // state that the next prepare must clear
        Context(id)->Gen1 = 1;
        ASSERT_EQ(machine.StopDevice(id), STATUS_SUCCESS) << round;
        EXPECT_EQ(Context(id)->Gen1, 0);
        const kmdf::Books after = machine.GetBooks();
        ASSERT_EQ(after.objects, before.objects) << round;
        ASSERT_EQ(after.mappings, 0u) << round;
        ASSERT_EQ(after.poolAllocations, 0u) << round;
        ASSERT_EQ(after.notifications, 0u) << round;
        ASSERT_EQ(after.references, 0u) << round;
    }
    ASSERT_EQ(machine.StartDevice(id), STATUS_SUCCESS);
    EXPECT_EQ(Context(id)->PortPairs[1].LineAMode, 0u);
    EXPECT_EQ(machine.CountDiagnostics(TRACE_LEVEL_ERROR), 0u);
    ExpectBalancedAfterUnload();
}

TEST_F(HardwareResources, InstancesStartingAtOnceEachMapTheirBlocksAndGetOneVersion) {
    std::vector<kmdf::DeviceId> ids;
    for (int i = 0; i < 3; ++i) {
        ids.push_back(Add(i));
    }
    std::vector<std::thread> threads;
    std::vector<NTSTATUS> results(3, STATUS_UNSUCCESSFUL);
    for (int i = 0; i < 3; ++i) {
        threads.emplace_back([&, i] {
            NTSTATUS s = STATUS_SUCCESS;
            for (int round = 0; NT_SUCCESS(s) && round < 10; ++round) {
                s = machine.StartDevice(ids[i]);
                if (NT_SUCCESS(s)) {
                    s = machine.StopDevice(ids[i]);
                }
            }
            if (NT_SUCCESS(s)) {
                s = machine.StartDevice(ids[i]);
            }
            results[i] = s;
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(results[i], STATUS_SUCCESS);
        EXPECT_EQ(Context(ids[i])->Instance, i);
        EXPECT_EQ(Context(ids[i])->SocVersion, 0x00020001u);
    }
    EXPECT_EQ(machine.GetBooks().mappings, 9u); // each instance maps the shared blocks too
    ExpectBalancedAfterUnload();
}

} // namespace
