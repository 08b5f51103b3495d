// The firmware's PHY override records: buffer growth, the records that reach the list, and
// every malformed answer the walk over the output must refuse without reading past it.
#include "FirmwareHarness.h"

#include <cstring>

namespace {

using acpi::Integer;
using acpi::Override;
using acpi::Package;

constexpr NTSTATUS kInvalidData = static_cast<NTSTATUS>(0xC014000F);
constexpr NTSTATUS kOverflow = static_cast<NTSTATUS>(0x80000005);

class PhyOverrideReader : public FirmwareTest {};

std::vector<acpi::Argument> ManyOverrides(int n) {
    std::vector<acpi::Argument> out;
    for (int i = 0; i < n; ++i) {
        out.push_back(Override(0, 0x088E2000 + 4 * i, i));
    }
    return out;
}

TEST_F(PhyOverrideReader, AnAnswerOfLessThan1024BytesIsReadAtOnce) {
    // 12 + 6 x 28 = 180 bytes.
    firmware->SetPackages("PHYC", {Override(0, 0x088E2070, 0x55), Override(0, 0x088E206C, 0x61),
                                   Override(0, 0x088E3074, 0x2E), Override(0, 0x088E4078, 0x03),
                                   Override(0, 0x088E8000, 0xFFFFFFFF), Override(0, 0, 0)});
    EXPECT_EQ(ReadPhyOverrides(device, "PHYC", 1024), STATUS_SUCCESS);
    EXPECT_EQ(Overrides(), (std::vector<PHY_OVERRIDE>{{0, 0x088E2070, 0x55},
                                                      {0, 0x088E206C, 0x61},
                                                      {0, 0x088E3074, 0x2E},
                                                      {0, 0x088E4078, 0x03},
                                                      {0, 0x088E8000, 0xFFFFFFFF},
                                                      {0, 0, 0}}));
    EXPECT_EQ(Requests(), (std::vector<AcpiRequest>{{"PHYC", 1024, STATUS_SUCCESS}}));
    auto evaluations = firmware->Evaluations();
    EXPECT_EQ(evaluations[0].code, 0x0032C004u);
    EXPECT_EQ(evaluations[0].inputLength, 8u);
    EXPECT_EQ(evaluations[0].returned, 180u);
    ExpectPoolHoldsOnlyTheRecords();
}

TEST_F(PhyOverrideReader, TheBufferGrowsUpTo4096Bytes) {
    // 145 records take 12 + 145 x 28 = 4072 bytes.
    firmware->SetPackages("PHYC", ManyOverrides(145));
    EXPECT_EQ(ReadPhyOverrides(device, "PHYC", 1024), STATUS_SUCCESS);
    EXPECT_EQ(Requests(), (std::vector<AcpiRequest>{{"PHYC", 1024, kOverflow},
                                                    {"PHYC", 2048, kOverflow},
                                                    {"PHYC", 3072, kOverflow},
                                                    {"PHYC", 4096, STATUS_SUCCESS}}));
    auto records = Overrides();
    ASSERT_EQ(records.size(), 145u);
    EXPECT_EQ(records[144], (PHY_OVERRIDE{0, 0x088E2240, 144}));
    ExpectPoolHoldsOnlyTheRecords();
}

TEST_F(PhyOverrideReader, AnAnswerOf5000BytesFailsWithTheFourthStatus) {
    firmware->SetPackages("PHYC", ManyOverrides(178)); // 4996 bytes
    EXPECT_EQ(ReadPhyOverrides(device, "PHYC", 1024), kOverflow);
    EXPECT_EQ(Requests(), (std::vector<AcpiRequest>{{"PHYC", 1024, kOverflow},
                                                    {"PHYC", 2048, kOverflow},
                                                    {"PHYC", 3072, kOverflow},
                                                    {"PHYC", 4096, kOverflow}}));
    EXPECT_TRUE(Overrides().empty());
    ExpectPoolHoldsOnlyTheRecords();
}

TEST_F(PhyOverrideReader, ABufferTooSmallForTheHeaderAlsoGrows) {
    firmware->SetPackages("PHYC", {Override(0, 0x088E2070, 0x55)});
    EXPECT_EQ(ReadPhyOverrides(device, "PHYC", 16), STATUS_SUCCESS);
    EXPECT_EQ(Requests(), (std::vector<AcpiRequest>{{"PHYC", 16, STATUS_BUFFER_TOO_SMALL},
                                                    {"PHYC", 32, kOverflow},
                                                    {"PHYC", 48, STATUS_SUCCESS}}));
    EXPECT_EQ(Overrides(), (std::vector<PHY_OVERRIDE>{{0, 0x088E2070, 0x55}}));
}

TEST_F(PhyOverrideReader, OtherFailuresAreNotRetried) {
    EXPECT_EQ(ReadPhyOverrides(device, "PHYC", 1024), STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(Requests(), (std::vector<AcpiRequest>{{"PHYC", 1024, STATUS_OBJECT_NAME_NOT_FOUND}}));
    ExpectPoolHoldsOnlyTheRecords();
}

TEST_F(PhyOverrideReader, KindsOtherThanZeroAreDroppedWithTheirValuesReported) {
    firmware->SetPackages("PHYC", {Override(1, 0x088E2070, 0x55), Override(0, 0x088E2070, 0x55),
                                   Override(0xFFFFFFFF, 1, 2)});
    EXPECT_EQ(ReadPhyOverrides(device, "PHYC", 1024), STATUS_SUCCESS);
    EXPECT_EQ(Overrides(), (std::vector<PHY_OVERRIDE>{{0, 0x088E2070, 0x55}}));
    EXPECT_TRUE(ReportedError("kind 1 dropped: address 0x088E2070, value 0x00000055"));
    ExpectPoolHoldsOnlyTheRecords();
}

TEST_F(PhyOverrideReader, AnIntegerIsTheFirst32BitsOfItsData) {
    firmware->SetPackages("PHYC", {Package({acpi::Integer64(0x100000000ULL),
                                            acpi::Integer64(0xDEAD0000088E2070ULL), Integer(7)})});
    EXPECT_EQ(ReadPhyOverrides(device, "PHYC", 1024), STATUS_SUCCESS);
    EXPECT_EQ(Overrides(), (std::vector<PHY_OVERRIDE>{{0, 0x088E2070, 7}}));
}

// Each malformed answer: the status, and the records that were appended before it.
struct Malformed {
    const char* what;
    acpi::Answer answer;
    NTSTATUS status;
    std::vector<PHY_OVERRIDE> kept;
};

acpi::Answer Args(std::vector<acpi::Argument> arguments) {
    acpi::Answer a;
    a.arguments = std::move(arguments);
    return a;
}

std::vector<Malformed> MalformedAnswers() {
    const PHY_OVERRIDE first{0, 0x088E2070, 0x55};
    std::vector<Malformed> cases;
    acpi::Answer wrongSignature = Args({Override(0, 0x088E2070, 0x55)});
    wrongSignature.signature = 0x42696541;
    cases.push_back({"wrong signature", wrongSignature, kInvalidData, {}});
    cases.push_back({"integer argument after a package",
                     Args({Override(0, 0x088E2070, 0x55), Integer(0)}),
                     kInvalidData,
                     {first}});
    cases.push_back({"buffer argument", Args({acpi::Buffer({1, 2, 3})}), kInvalidData, {}});
    cases.push_back({"second of three with four integers",
                     Args({Override(0, 0x088E2070, 0x55),
                           Package({Integer(0), Integer(0x088E3070), Integer(1), Integer(2)}),
                           Override(0, 0x088E4070, 0x66)}),
                     kInvalidData,
                     {first}});
    cases.push_back(
        {"two integers", Args({Package({Integer(0), Integer(0x088E2070)})}), kInvalidData, {}});
    cases.push_back({"empty package", Args({Package({})}), kInvalidData, {}});
    cases.push_back({"string element",
                     Args({Package({Integer(0), acpi::String("x"), Integer(1)})}),
                     kInvalidData,
                     {}});
    // 24 bytes of elements; 22 stated: the third element ends past its package.
    cases.push_back({"stated length ends inside the third element",
                     Args({acpi::WithStatedLength(Override(0, 0x088E2070, 0x55), 22),
                           Override(0, 0x088E3070, 0x66)}),
                     kInvalidData,
                     {}});
    cases.push_back({"stated length ends inside an element header",
                     Args({acpi::WithStatedLength(Override(0, 0x088E2070, 0x55), 18)}),
                     kInvalidData,
                     {}});
    cases.push_back({"package longer than the output",
                     Args({Override(0, 0x088E2070, 0x55),
                           acpi::WithStatedLength(Override(0, 0x088E3070, 0x66), 200)}),
                     kInvalidData,
                     {first}});
    acpi::Answer countTooLarge =
        Args({Override(0, 0x088E2070, 0x55), Override(0, 0x088E3070, 0x66)});
    countTooLarge.count = 3;
    cases.push_back({"count larger than the output holds",
                     countTooLarge,
                     kInvalidData,
                     {first, {0, 0x088E3070, 0x66}}});
    acpi::Answer huge = Args({Override(0, 0x088E2070, 0x55)});
    huge.count = 0xFFFFFFFF;
    cases.push_back({"count of 2^32 - 1", huge, kInvalidData, {first}});
    acpi::Answer none = Args({});
    cases.push_back({"no packages", none, STATUS_SUCCESS, {}});
    return cases;
}

TEST_F(PhyOverrideReader, MalformedAnswersAreRefusedAndEarlierRecordsStay) {
    for (const Malformed& m : MalformedAnswers()) {
        SCOPED_TRACE(m.what);
        ForgetOverrides();
        firmware->SetObject("PHYC", m.answer);
        EXPECT_EQ(ReadPhyOverrides(device, "PHYC", 1024), m.status);
        EXPECT_EQ(Overrides(), m.kept);
        ExpectPoolHoldsOnlyTheRecords();
    }
    // One request each, never retried.
    EXPECT_EQ(firmware->Evaluations().size(), MalformedAnswers().size());
}

// Bytes that were in the buffer but not returned are never read: the walk stops where the
// returned bytes end, even in the middle of a package that the buffer holds in full.
TEST_F(PhyOverrideReader, OnlyTheReturnedBytesAreWalked) {
    acpi::Answer two = Args({Override(0, 0x088E2070, 0x55), Override(0, 0x088E3070, 0x66)});
    std::vector<std::uint8_t> bytes = acpi::EncodeOutput(two); // 68 bytes
    struct {
        std::size_t returned;
        NTSTATUS status;
        std::size_t records;
    } rows[] = {{0, kInvalidData, 0},  {3, kInvalidData, 0},  {11, kInvalidData, 0},
                {12, kInvalidData, 0}, {39, kInvalidData, 0}, {40, kInvalidData, 1},
                {43, kInvalidData, 1}, {67, kInvalidData, 1}, {68, STATUS_SUCCESS, 2}};
    for (auto& row : rows) {
        SCOPED_TRACE(row.returned);
        ForgetOverrides();
        firmware->SetRaw("PHYC", bytes, row.returned);
        EXPECT_EQ(ReadPhyOverrides(device, "PHYC", 1024), row.status);
        EXPECT_EQ(Overrides().size(), row.records);
        ExpectPoolHoldsOnlyTheRecords();
    }
}

// A package on its own, in a buffer that ends where its stated length ends: an element that
// runs past that end is refused without being read (the address sanitizer build would see it).
TEST_F(PhyOverrideReader, APackageEndingInsideAnElementIsRefused) {
    struct {
        std::uint16_t stated;
        NTSTATUS status;
    } rows[] = {{24, STATUS_SUCCESS}, {23, kInvalidData}, {22, kInvalidData}, {20, kInvalidData},
                {17, kInvalidData},   {13, kInvalidData}, {4, kInvalidData},  {0, kInvalidData}};
    for (auto& row : rows) {
        SCOPED_TRACE(row.stated);
        ForgetOverrides();
        std::vector<std::uint8_t> bytes =
            acpi::Encode(acpi::WithStatedLength(Override(0, 0x088E2070, 0x55), row.stated));
        bytes.resize(4 + row.stated);
        std::vector<std::uint8_t> exact(bytes);
        EXPECT_EQ(ParsePhyOverridePackage(device,
                                          reinterpret_cast<PACPI_METHOD_ARGUMENT>(exact.data()),
                                          static_cast<ULONG>(exact.size())),
                  row.status);
        EXPECT_EQ(Overrides().size(), row.status == STATUS_SUCCESS ? 1u : 0u);
        // Fewer bytes available than the package states.
        EXPECT_EQ(ParsePhyOverridePackage(device,
                                          reinterpret_cast<PACPI_METHOD_ARGUMENT>(exact.data()),
                                          static_cast<ULONG>(exact.size() - 1)),
                  kInvalidData);
        ExpectPoolHoldsOnlyTheRecords();
    }
}

TEST_F(PhyOverrideReader, AFailedAllocationStopsTheRead) {
    firmware->SetPackages("PHYC", {Override(0, 0x088E2070, 0x55), Override(0, 0x088E3070, 0x66),
                                   Override(0, 0x088E4070, 0x77)});
    machine.FailNext("ExAllocatePool2", STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(ReadPhyOverrides(device, "PHYC", 1024), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_TRUE(Requests().empty());

    machine.FailNext("WdfCollectionAdd", STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(ReadPhyOverrides(device, "PHYC", 1024), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_TRUE(Overrides().empty());
    ExpectPoolHoldsOnlyTheRecords();

    // The second record's memory object cannot be created: the first stays.
    machine.FailNext("WdfMemoryCreate", STATUS_SUCCESS);
    machine.FailNext("WdfMemoryCreate", STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(ReadPhyOverrides(device, "PHYC", 1024), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(Overrides(), (std::vector<PHY_OVERRIDE>{{0, 0x088E2070, 0x55}}));
    ExpectPoolHoldsOnlyTheRecords();
}

TEST_F(PhyOverrideReader, RecordsAreTaggedPagedMemoryOwnedByTheDevice) {
    firmware->SetPackages("PHYC", {Override(0, 0x088E2070, 0x55)});
    ASSERT_EQ(ReadPhyOverrides(device, "PHYC", 1024), STATUS_SUCCESS);
    EXPECT_EQ(machine.GetBooks().poolByTag.at(0x46485855), 1u);
    const std::size_t objects = machine.GetBooks().objects;
    machine.RemoveDevice(id);
    // The device, its default target, its work item, the list and the record.
    EXPECT_EQ(machine.GetBooks().objects, objects - 5);
    EXPECT_EQ(machine.GetBooks().poolAllocations, 0u);
}

TEST_F(PhyOverrideReader, ADeviceWithoutATargetBelowReadsNothing) {
    kmdf::DeviceSpec spec = pelvane::ControllerDevice(soc::kPrimary);
    kmdf::DeviceId other;
    ASSERT_EQ(machine.AddDevice(spec, &other), STATUS_SUCCESS);
    EXPECT_EQ(ReadPhyOverrides(machine.Device(other), "PHYC", 1024), STATUS_SUCCESS);
    EXPECT_EQ(machine.GetBooks().poolAllocations, 0u);
}

} // namespace
