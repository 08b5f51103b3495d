// The SoC version from the DSDT's "SOSI" and the record it names: found, missing, looked up
// once per driver load, and firmware data that must not be trusted for a place or a length.
#include "FrameWorld.h"
#include "frame/SocInfoRecord.h"

#include <cstring>
#include <memory>

namespace {

using pelvane::SocInformation;

class SocVersion : public FrameWorld {
  protected:
    ULONG VersionOfAStartedInstance(int instance) {
        kmdf::DeviceId id = Add(instance);
        EXPECT_EQ(machine.StartDevice(id), STATUS_SUCCESS);
        return Context(id)->SocVersion;
    }
};

TEST_F(SocVersion, EveryInstanceGetsTheVersionOfTheRecordTheDsdtNames) {
    EXPECT_EQ(VersionOfAStartedInstance(soc::kPrimary), 0x00020001u);
    EXPECT_EQ(VersionOfAStartedInstance(soc::kMultiport), 0x00020001u);
    ExpectBalancedAfterUnload();
}

TEST_F(SocVersion, DsdtWithoutTheNameGivesZeroAndIsNotAskedAgainUntilTheNextLoad) {
    SocInformation unnamed;
    unnamed.named = false;
    machine.SetFirmwareTable(pelvane::kAcpiProvider, pelvane::kDsdtTableId,
                             pelvane::BuildDsdt(unnamed));
    EXPECT_EQ(VersionOfAStartedInstance(soc::kPrimary), 0u);
    // The firmware now names a record; the instances of this load keep the first answer.
    SocInformation later;
    later.recordAddress = 0x9FD00000;
    later.version = 0x00030000;
    pelvane::InstallSocInformation(machine, soc, later);
    EXPECT_EQ(VersionOfAStartedInstance(soc::kSecondary), 0u);
    EXPECT_EQ(VersionOfAStartedInstance(soc::kMultiport), 0u);
    EXPECT_EQ(machine.CountDiagnostics(TRACE_LEVEL_ERROR), 0u);
    machine.UnloadDriver();
    ASSERT_EQ(machine.LoadDriver(DriverEntry), STATUS_SUCCESS);
    EXPECT_EQ(VersionOfAStartedInstance(soc::kPrimary), 0x00030000u);
    ExpectBalancedAfterUnload();
}

// One firmware shape per run: the version every instance gets from it.
struct FirmwareRow {
    const char* what;
    SocInformation info;
    ULONG version;
};

// At an address of its own: the fixture's record stays where it was installed.
SocInformation With(void (*change)(SocInformation&)) {
    SocInformation info;
    info.recordAddress = 0x9F000000;
    change(info);
    return info;
}

class SocFirmware : public SocVersion, public ::testing::WithParamInterface<FirmwareRow> {};

TEST_P(SocFirmware, GivesTheVersionOrZeroAndReadsNothingOutOfBounds) {
    machine.UnloadDriver();
    pelvane::InstallSocInformation(machine, soc, GetParam().info);
    ASSERT_EQ(machine.LoadDriver(DriverEntry), STATUS_SUCCESS);
    EXPECT_EQ(VersionOfAStartedInstance(soc::kPrimary), GetParam().version);
    ExpectBalancedAfterUnload();
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, SocFirmware,
    ::testing::Values(
        // The address ends exactly at the 4096th byte: still found.
        FirmwareRow{"AddressEndsAtTheSearchLimit",
                    With([](SocInformation& i) { i.nameOffset = 4096 - 13; }), 0x00020001},
        // The name is searched for in the first 4096 bytes; its address is read from the
        // table, past the search limit.
        FirmwareRow{"AddressCrossesTheSearchLimit",
                    With([](SocInformation& i) { i.nameOffset = 4096 - 12; }), 0x00020001},
        FirmwareRow{"NameAt4090OfALongerTable",
                    With([](SocInformation& i) { i.nameOffset = 4090; }), 0x00020001},
        // The same place in a table that ends before the address does.
        FirmwareRow{"AddressCrossesTheEndOfTheTable", With([](SocInformation& i) {
                        i.tableLength = 4100;
                        i.nameOffset = 4090;
                    }),
                    0},
        FirmwareRow{"NameBeyondTheSearchedBytes",
                    With([](SocInformation& i) { i.nameOffset = 4097; }), 0},
        // A short table whose name sits at its very end.
        FirmwareRow{"NameAtTheEndOfAShortTable", With([](SocInformation& i) {
                        i.tableLength = 0x100;
                        i.nameOffset = 0x100 - 6;
                    }),
                    0},
        FirmwareRow{"CountsWhoseSumWrapsAround", With([](SocInformation& i) {
                        i.firstCount = 0xFFFFFFF0u;
                        i.secondCount = 0x14u; // 32 bits: 4 + 44 words, a short record
                        i.recordBytes = 192;
                    }),
                    0},
        FirmwareRow{"LengthBeyondAnySaneRecord", With([](SocInformation& i) {
                        i.firstCount = 0x4000;
                        i.secondCount = 0x4000;
                        i.recordBytes = 176;
                    }),
                    0},
        FirmwareRow{"RecordShorterThanItsCountsSay",
                    With([](SocInformation& i) { i.recordBytes = 176; }), 0},
        FirmwareRow{"NoRecordAtTheAddress",
                    With([](SocInformation& i) { i.recordPresent = false; }), 0},
        FirmwareRow{"LargestSaneRecord", With([](SocInformation& i) {
                        i.firstCount = 16340;
                        i.secondCount = 0;
                        i.version = 0x00020100;
                    }),
                    0x00020100}),
    [](const ::testing::TestParamInfo<FirmwareRow>& info) { return std::string(info.param.what); });

TEST_F(SocVersion, FirmwareTableLibraryThatFailsOrHasNoDsdtGivesZero) {
    machine.UnloadDriver();
    machine.FailNext("AuxKlibInitialize", STATUS_UNSUCCESSFUL);
    ASSERT_EQ(machine.LoadDriver(DriverEntry), STATUS_SUCCESS);
    EXPECT_EQ(VersionOfAStartedInstance(soc::kPrimary), 0u);
    machine.UnloadDriver();

    machine.SetFirmwareTable(pelvane::kAcpiProvider, pelvane::kDsdtTableId, {});
    ASSERT_EQ(machine.LoadDriver(DriverEntry), STATUS_SUCCESS);
    EXPECT_EQ(VersionOfAStartedInstance(soc::kPrimary), 0u);
    ExpectBalancedAfterUnload();
}

// The search and the record on buffers of exactly their length, as the fuzz target runs them.
TEST(SocInfoRecord, SearchAndCountsStayInsideTheirBytes) {
    const unsigned char tail[] = {'x', 'S', 'O', 'S', 'I', 0x0E, 1, 2, 3, 4, 5, 6, 7, 8};
    auto exact = std::make_unique<unsigned char[]>(sizeof tail);
    std::memcpy(exact.get(), tail, sizeof tail);
    ULONGLONG address = 1;
    ASSERT_TRUE(FindSocInfoAddress(exact.get(), sizeof tail, &address));
    EXPECT_EQ(address, 0x0807060504030201ull);
    EXPECT_FALSE(FindSocInfoAddress(exact.get(), sizeof tail - 1, &address));
    EXPECT_EQ(address, 0u);
    EXPECT_FALSE(FindSocInfoAddress(exact.get(), 4, &address));

    std::vector<unsigned char> fixed(176, 0);
    fixed[156] = 3;
    fixed[164] = 1;
    ULONG length = 0;
    ASSERT_TRUE(GetSocInfoRecordLength(fixed.data(), 176, &length));
    EXPECT_EQ(length, 192u);
    EXPECT_FALSE(GetSocInfoRecordLength(fixed.data(), 175, &length));
    EXPECT_EQ(GetSocInfoVersion(fixed.data(), 11), 0u);
}

} // namespace
