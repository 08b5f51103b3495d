// Each command word against mcu-sim's MCUs one by one: the frames it sends, the MCU that takes
// them, and that no other MCU's keys, flag, enable code or state count.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "SimulatedPlatform.h"

namespace {

using Lines = std::vector<std::string>;

const std::string FirstKey = "a0a1a2a3a4a5a6a7a8a9aaabacadaeafb0b1b2b3b4b5b6b7b8b9babbbcbdbebf";
const std::string SecondKey = "c0c1c2c3c4c5c6c7c8c9cacbcccdcecfd0d1d2d3d4d5d6d7d8d9dadbdcdddedf";

Lines Frames(const std::vector<TracedRequest>& requests) {
    Lines frames;
    for (const TracedRequest& request : requests) {
        frames.push_back(request.frame);
    }
    return frames;
}

TEST(McuAddress, EachWordSendsItsFramesToItsOwnMcu) {
    const struct {
        const char* word;
        Lines frames;
        const char* mcu;
    } words[] = {
        {"rbtmcu",
         {"090002000062110100", "090002000062110101", "0900020000641100", "0900020000031100"},
         "bt"},
        {"rkbd", {"090002000262110100", "090002000262110101", "0900020002641100"}, "kbd"},
        {"ebtmcu", {"0900020000631100"}, "bt"},
        {"ekbd", {"0900020002631100"}, "kbd"},
    };
    for (const auto& w : words) {
        SimulatedPlatform platform;
        ASSERT_TRUE(platform.StartMcuSim({"--trace"}));
        EXPECT_EQ(platform.RunOstrel({w.word}).exitStatus, 0) << w.word;
        const std::vector<TracedRequest> requests = platform.TracedRequests();
        EXPECT_EQ(Frames(requests), w.frames) << w.word;
        for (const TracedRequest& request : requests) {
            EXPECT_EQ(request.mcu, w.mcu) << w.word << " " << request.frame;
        }
    }
}

TEST(McuAddress, OnlyTheWordsOwnMcuDecides) {
    const std::vector<std::string> keysOnBtOnly = {
        "--first-key",    "00",           "--second-key",   "00", "--first-key",
        "bt=" + FirstKey, "--second-key", "bt=" + SecondKey};
    const std::vector<std::string> keysOnKbdOnly = {"--first-key",  "kbd=" + FirstKey,
                                                    "--second-key", "kbd=" + SecondKey,
                                                    "--first-key",  "00",
                                                    "--second-key", "00"};
    const struct {
        std::vector<std::string> options;
        const char* word;
        int exitStatus;
        std::string verdict; // the last record of the run
    } cases[] = {
        {keysOnBtOnly, "rbtmcu", 0, "Secure boot!"},
        {keysOnBtOnly, "rkbd", 1, "firat Key Not Equal!"},
        {keysOnKbdOnly, "rkbd", 0, "Secure boot!"},
        {keysOnKbdOnly, "rbtmcu", 1, "firat Key Not Equal!"},
        {{"--secure-boot-flag", "kbd=1"}, "rbtmcu", 0, "Secure boot!"},
        {{"--secure-boot-flag", "kbd=1"}, "rkbd", 1, "Not Secure boot!"},
        {{"--secure-boot-flag", "bt=1"}, "rkbd", 0, "Secure boot!"},
        {{"--secure-boot-flag", "bt=1"}, "rbtmcu", 1, "Not Secure boot!"},
        {{"--enable-code", "bt=7"}, "ebtmcu", 1, "bt mcu enable error code:7"},
        {{"--enable-code", "bt=7"}, "ekbd", 0, "kbd enable error code:0"},
        {{"--enable-code", "kbd=7"}, "ekbd", 1, "kbd enable error code:7"},
        {{"--enable-code", "kbd=7"}, "ebtmcu", 0, "bt mcu enable error code:0"},
    };
    for (const auto& c : cases) {
        SimulatedPlatform platform;
        ASSERT_TRUE(platform.StartMcuSim(c.options));
        const ProcessResult run = platform.RunOstrel({c.word});
        const std::string label = c.options[1] + " " + c.word;
        EXPECT_EQ(run.exitStatus, c.exitStatus) << label;
        const std::vector<Record> records = ParseRecords(platform.Records() + run.output);
        ASSERT_FALSE(records.empty()) << label;
        EXPECT_EQ(records.back().message, c.verdict) << label;
    }
}

TEST(McuAddress, EnableTurnsSecureBootOnForItsOwnMcuOnly) {
    SimulatedPlatform platform;
    ASSERT_TRUE(platform.StartMcuSim({"--secure-boot-flag", "1", "--trace"}));
    EXPECT_EQ(platform.RunOstrel({"rkbd"}).exitStatus, 1);
    EXPECT_EQ(platform.RunOstrel({"ekbd"}).output, "kbd enable error code:0\n");
    EXPECT_EQ(platform.RunOstrel({"rkbd"}).exitStatus, 0);
    EXPECT_EQ(platform.RunOstrel({"rbtmcu"}).exitStatus, 1);
    EXPECT_EQ(Messages(platform.Records(), "DEBUG").back(), "Not Secure boot!");
    EXPECT_EQ(platform.RunOstrel({"ebtmcu"}).exitStatus, 0);
    EXPECT_EQ(platform.RunOstrel({"rbtmcu"}).exitStatus, 0);
    const std::string trace = platform.SimulatorTrace();
    EXPECT_EQ(Occurrences(trace, "kbd enabled: secure boot on\n"), 1u) << trace;
    EXPECT_EQ(Occurrences(trace, "bt enabled: secure boot on\n"), 1u) << trace;
}

// The MCU needs 50 ms after a key or flag answer; the next exchange waits 50 ms of its own before
// its request. Only a lower bound: a slow machine makes the gaps longer, never shorter.
TEST(McuAddress, RequestsArriveNoSoonerThanBothWaitsAfterAKeyOrFlagAnswer) {
    SimulatedPlatform platform;
    ASSERT_TRUE(platform.StartMcuSim({"--trace"}));
    ASSERT_EQ(platform.RunOstrel({"rbtmcu"}).exitStatus, 0);
    const std::vector<TracedRequest> requests = platform.TracedRequests();
    ASSERT_EQ(requests.size(), 4u) << platform.SimulatorTrace();
    // key 0, key 1 and the flag, each followed by the next request.
    for (size_t i = 0; i + 1 < requests.size(); ++i) {
        ASSERT_GE(requests[i].answeredMs, requests[i].arrivedMs) << requests[i].frame;
        EXPECT_GE(requests[i + 1].arrivedMs - requests[i].answeredMs, 100.0)
            << requests[i].frame << " -> " << requests[i + 1].frame;
    }
}

} // namespace
