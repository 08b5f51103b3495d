// "ebtmcu" and "ekbd" run as a process against mcu-sim: the result line, the exit status and
// the records of the presence check and the exchange.
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "SimulatedPlatform.h"

namespace {

using Lines = std::vector<std::string>;

const std::string Opened = "Opened the device successfully.\n";

struct EnableCase {
    std::vector<std::string> options;
    const char* word;
    std::string resultLine;
    int exitStatus;
};

TEST(EnableCommand, ResultLineAndExitStatusFollowTheMcuAnswer) {
    const EnableCase cases[] = {
        {{}, "ebtmcu", "bt mcu enable error code:0\n", 0},
        {{}, "EKBD", "kbd enable error code:0\n", 0},
        {{"--enable-code", "5"}, "ebtmcu", "bt mcu enable error code:5\n", 1},
        {{"--answer", "0x63=02"}, "ebtmcu", "bt mcu enable error code:2\n", 1},
        {{"--answer", "0x63=00000000"}, "ekbd", "kbd enable error code:0\n", 0},
        {{"--answer", "0x63=ffffffff"}, "ekbd", "kbd enable error code:-1\n", 1},
        {{"--answer", "0x63=0001"}, "ekbd", "kbd enable error code:256\n", 1},
    };
    for (const EnableCase& c : cases) {
        SimulatedPlatform platform;
        ASSERT_TRUE(platform.StartMcuSim(c.options));
        const ProcessResult run = platform.RunOstrel({c.word});
        EXPECT_EQ(run.output, c.resultLine);
        EXPECT_EQ(run.exitStatus, c.exitStatus) << c.resultLine;
        // The presence check and the two handles of the exchange, all closed again.
        EXPECT_EQ(Messages(platform.Records()), (Lines{Opened, Opened, Opened}));
    }
}

TEST(EnableCommand, SecondWordIsIgnored) {
    SimulatedPlatform platform;
    ASSERT_TRUE(platform.StartMcuSim());
    const ProcessResult run = platform.RunOstrel({"ekbd", "foo"});
    EXPECT_EQ(run.output, "kbd enable error code:0\n");
    EXPECT_EQ(run.exitStatus, 0);
}

TEST(EnableCommand, WithoutDeviceRecordsComeBeforeTheResultLine) {
    const std::pair<const char*, const char*> words[] = {{"ebtmcu", "bt mcu enable error code:0"},
                                                         {"ekbd", "kbd enable error code:0"}};
    for (const auto& [word, resultLine] : words) {
        SimulatedPlatform platform;
        const ProcessResult run = platform.RunOstrel({word});
        EXPECT_EQ(run.exitStatus, 1);
        const std::vector<Record> console = ParseRecords(run.output);
        const Lines errors = {"Error: No active device found.Is the sample driver loaded?",
                              "Unable to find any MCU devices!",
                              "Error: No active device found.Is the sample driver loaded?",
                              "Unable to find any MCU devices!", "Open Handle failed!"};
        EXPECT_EQ(Messages(run.output, "ERROR"), errors);
        ASSERT_FALSE(console.empty());
        EXPECT_EQ(console.back().level, "");
        EXPECT_EQ(console.back().message, resultLine);
        EXPECT_EQ(Messages(platform.Records()), errors);
    }
}

TEST(EnableCommand, TimeOutPrintsZeroAndFails) {
    SimulatedPlatform platform;
    ASSERT_TRUE(platform.StartMcuSim({"--fault", "0x63=silent"}));
    const ProcessResult run = platform.RunOstrel({"ekbd"});
    EXPECT_EQ(run.exitStatus, 1);
    const Lines errors = Messages(run.output, "ERROR");
    ASSERT_EQ(errors.size(), 2u) << run.output;
    EXPECT_EQ(errors[0].rfind("Timeout While Waiting Response:", 0), 0u);
    EXPECT_EQ(errors[1], "ReadFile failed - error:995");
    EXPECT_EQ(ParseRecords(run.output).back().message, "kbd enable error code:0");
}

} // namespace
