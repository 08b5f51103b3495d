// "rbtmcu" and "rkbd" run as a process against mcu-sim: what the line engineer sees on the
// console, what the log keeps and the exit status.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "SimulatedPlatform.h"
#include "cli/CommandLine.h"

namespace {

using Lines = std::vector<std::string>;

const std::string Opened = "Opened the device successfully.\n";
const std::string KeyRead = "FactoryBtMcuGetKey error code:0";
const std::string FirstKey = "a0a1a2a3a4a5a6a7a8a9aaabacadaeafb0b1b2b3b4b5b6b7b8b9babbbcbdbebf";
const std::string SecondKey = "c0c1c2c3c4c5c6c7c8c9cacbcccdcecfd0d1d2d3d4d5d6d7d8d9dadbdcdddedf";

class VerifyCommand : public testing::Test {
  protected:
    ProcessResult RunWith(const std::vector<std::string>& simOptions, const std::string& word) {
        EXPECT_TRUE(platform.StartMcuSim(simOptions));
        return platform.RunOstrel({word});
    }

    SimulatedPlatform platform;
};

TEST_F(VerifyCommand, ProvisionedBluetoothMcuPasses) {
    const ProcessResult run = RunWith({"--version", "bt=BRIDGE_MCU 1.0.0.14"}, "RbtMcu");
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.output, "");
    // Two key reads, the flag and the version query, each opening two handles.
    const Lines expected = {
        Opened, Opened, KeyRead, Opened, Opened,        KeyRead, "All Key Equals!",
        Opened, Opened, Opened,  Opened, "Secure boot!"};
    EXPECT_EQ(Messages(platform.Records()), expected);
}

TEST_F(VerifyCommand, KeyboardMcuAsksForNoVersion) {
    const ProcessResult run = RunWith({"--version", "bt=BRIDGE_MCU 1.0.0.15"}, "rkbd");
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.output, "");
    const Lines expected = {Opened, Opened,        KeyRead,           Opened,
                            Opened, KeyRead,       "All Key Equals!", Opened,
                            Opened, "Secure boot!"};
    EXPECT_EQ(Messages(platform.Records()), expected);
}

TEST(VerifyBluetoothVersion, OnlyTheExactVersionsCancelSecureBoot) {
    const struct {
        const char* reply;
        int exitStatus;
    } cases[] = {{"BRIDGE_MCU 1.0.0.15", 1},
                 {"BRIDGE_MCU 1.0.0.13", 1},
                 {"BRIDGE_MCU 1.0.0.150", 0},
                 {"BRIDGE_MCU 1.0.0.15 (B)", 0}}; // not this component's reply: empty text
    for (const auto& c : cases) {
        SimulatedPlatform platform;
        ASSERT_TRUE(platform.StartMcuSim({"--version", std::string("bt=") + c.reply}));
        const ProcessResult run = platform.RunOstrel({"rbtmcu"});
        EXPECT_EQ(run.exitStatus, c.exitStatus) << c.reply;
        EXPECT_EQ(run.output, "") << c.reply;
        const Lines debug = Messages(platform.Records(), "DEBUG");
        EXPECT_EQ(debug.back(),
                  c.exitStatus == 0 ? "Secure boot!" : "Not Secure boot version is 15 or 13!");
    }
}

TEST_F(VerifyCommand, UnobtainableVersionLeavesTheFlagVerdict) {
    const ProcessResult run = RunWith({"--fault", "0x03=zero-length"}, "rbtmcu");
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(Messages(run.output), Lines{"IsVersion15 Get Version Error:5"});
    EXPECT_EQ(Messages(platform.Records(), "DEBUG").back(), "Secure boot!");
}

TEST(VerifyWithoutDevice, FailsAtTheFirstKeyWithTheChainOfRecords) {
    for (const char* word : {"rbtmcu", "rkbd"}) {
        SimulatedPlatform platform;
        const ProcessResult run = platform.RunOstrel({word});
        EXPECT_EQ(run.exitStatus, 1);
        const Lines console = {"Error: No active device found.Is the sample driver loaded?",
                               "Unable to find any MCU devices!", "Open Handle failed!",
                               "VerifySecureBootAndOta Get Key Error!"};
        EXPECT_EQ(Messages(run.output, "ERROR"), console) << word;
        EXPECT_EQ(Messages(run.output, "DEBUG"), Lines{});
        const Lines debug = {"FactoryBtMcuGetKey error code:5"};
        EXPECT_EQ(Messages(platform.Records(), "DEBUG"), debug);
        EXPECT_EQ(Messages(platform.Records(), "ERROR"), console);
    }
}

TEST_F(VerifyCommand, SilentMcuTimesOut) {
    const ProcessResult run = RunWith({"--fault", "0x62=silent"}, "rkbd");
    EXPECT_EQ(run.exitStatus, 1);
    const Lines console = Messages(run.output);
    ASSERT_EQ(console.size(), 3u) << run.output;
    EXPECT_EQ(console[0].rfind("Timeout While Waiting Response:", 0), 0u);
    EXPECT_EQ(console[1], "ReadFile failed - error:995");
    EXPECT_EQ(console[2], "VerifySecureBootAndOta Get Key Error!");
    EXPECT_EQ(Occurrences(platform.Records(), "FactoryBtMcuGetKey error code:4\n"), 1u);
}

TEST_F(VerifyCommand, DifferentFirstKeyEndsBeforeTheSecondRead) {
    const std::string other = FirstKey.substr(0, 62) + "00";
    const ProcessResult run = RunWith({"--first-key", other}, "rbtmcu");
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(Messages(run.output), Lines{"firat Key Not Equal!"});
    EXPECT_EQ(Occurrences(platform.Records(), "FactoryBtMcuGetKey"), 1u);
}

TEST_F(VerifyCommand, DifferentSecondKey) {
    const ProcessResult run = RunWith({"--second-key", FirstKey}, "rkbd");
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(Messages(run.output), Lines{"second Key Not Equal!"});
}

TEST_F(VerifyCommand, EmptySecondKeyKeepsTheFirstKeyBytes) {
    // Only the two header bytes come back: the first key's bytes are compared again.
    const ProcessResult run = RunWith({"--second-key", ""}, "rkbd");
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(Messages(run.output), Lines{"second Key Not Equal!"});
}

TEST_F(VerifyCommand, ShorterKeysCompareTheirBytesOnly) {
    // 30 key bytes equal to the second key's start, the rest still the first key's: a mix.
    const ProcessResult run = RunWith({"--second-key", SecondKey.substr(0, 60)}, "rkbd");
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(Messages(run.output), Lines{"second Key Not Equal!"});
}

TEST_F(VerifyCommand, KeyLongerThan32BytesIsRejected) {
    const ProcessResult run = RunWith({"--first-key", FirstKey + "c0"}, "rbtmcu");
    EXPECT_EQ(run.exitStatus, 1);
    const Lines console = {"Copy data Failed! error code:34",
                           "VerifySecureBootAndOta Get Key Error!"};
    EXPECT_EQ(Messages(run.output), console);
}

TEST(VerifySecureBootFlag, AnyNonZeroFlagFailsSilently) {
    const struct {
        std::vector<std::string> options;
        int exitStatus;
    } cases[] = {{{"--secure-boot-flag", "1"}, 1},
                 {{"--answer", "0x64=01"}, 1},
                 {{"--answer", "0x64=00000001"}, 1},
                 {{"--answer", "0x64=00"}, 0},
                 {{"--answer", "0x64=00000000"}, 0}};
    for (const auto& c : cases) {
        SimulatedPlatform platform;
        ASSERT_TRUE(platform.StartMcuSim(c.options));
        const ProcessResult run = platform.RunOstrel({"rkbd"});
        EXPECT_EQ(run.exitStatus, c.exitStatus) << c.options[1];
        // The verdict is a debug record: the console stays empty either way.
        EXPECT_EQ(run.output, "") << c.options[1];
        EXPECT_EQ(Messages(platform.Records(), "DEBUG").back(),
                  c.exitStatus == 0 ? "Secure boot!" : "Not Secure boot!");
    }
}

TEST_F(VerifyCommand, FailedFlagExchange) {
    const ProcessResult run = RunWith({"--fault", "0x64=zero-length"}, "rkbd");
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(Messages(platform.Records(), "DEBUG").back(),
              "VerifySecureBootAndOta Get Flag Error!");
}

TEST_F(VerifyCommand, RunsAppendToTheLog) {
    ASSERT_TRUE(platform.StartMcuSim());
    EXPECT_EQ(platform.RunOstrel({"rkbd"}).exitStatus, 0);
    EXPECT_EQ(platform.RunOstrel({"RKBD", "ignored"}).exitStatus, 0);
    EXPECT_EQ(Occurrences(platform.Records(), " : Secure boot!\n"), 2u);
}

TEST(CommandWord, MissingOrUnknownWordShowsUsage) {
    SimulatedPlatform platform;
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{}, {""}, {"rbtmcu2"}, {"rkbd "}, {"verify"}}) {
        const ProcessResult run = platform.RunOstrel(arguments);
        EXPECT_EQ(run.exitStatus, 255); // wmain returned -1
        EXPECT_EQ(run.output, UsageText());
    }
    EXPECT_EQ(platform.Records(), "");
}

} // namespace
