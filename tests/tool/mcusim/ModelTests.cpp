#include <gtest/gtest.h>

#include "McuModel.h"

using namespace mcusim;

namespace {

std::vector<uint8_t> Request(uint8_t command, uint8_t device = 0,
                             std::vector<uint8_t> payload = {}) {
    std::vector<uint8_t> frame(8 + payload.size());
    const uint8_t header[8] = {9,      0,       2,    0,
                               device, command, 0x11, static_cast<uint8_t>(payload.size())};
    std::copy(header, header + 8, frame.begin());
    std::copy(payload.begin(), payload.end(), frame.begin() + 8);
    return frame;
}

Reaction React(const McuSettings& settings, const std::vector<uint8_t>& request) {
    return McuModel(settings).React(request.data(), request.size());
}

McuSettings WithFault(uint8_t command, FaultKind kind, unsigned value) {
    McuSettings settings = McuSettings::Defaults();
    settings.faults[command].push_back({kind, value});
    return settings;
}

} // namespace

TEST(Model, KeyAnswerIsSelectorLengthAndKey) {
    Reaction reaction = React(McuSettings::Defaults(), Request(0x62, 2, {1}));
    ASSERT_EQ(reaction.frames.size(), 1u);
    const auto& frame = reaction.frames[0];
    ASSERT_EQ(frame.size(), 64u);
    EXPECT_EQ(frame[5], 0x62);
    EXPECT_EQ(frame[4], 2);
    EXPECT_EQ(frame[7], 34);
    EXPECT_EQ(frame[8], 1);
    EXPECT_EQ(frame[9], 32);
    EXPECT_EQ(frame[10], 0xC0);
    EXPECT_EQ(frame[41], 0xDF);
}

TEST(Model, VersionFollowsTheDeviceByte) {
    McuSettings settings = McuSettings::Defaults();
    settings.versions["pen"] = "PEN 1";
    Reaction pen = React(settings, Request(0x03, 1));
    ASSERT_EQ(pen.frames.size(), 1u);
    EXPECT_EQ(pen.frames[0][7], 5);
    EXPECT_EQ(std::string(pen.frames[0].begin() + 8, pen.frames[0].begin() + 13), "PEN 1");
    EXPECT_TRUE(React(settings, Request(0x03, 3)).frames.empty());
}

TEST(Model, LongAnswersClaimTheirLengthButCarry56Bytes) {
    McuSettings settings = McuSettings::Defaults();
    settings.firstKey.assign(60, 0x11);
    Reaction reaction = React(settings, Request(0x62, 0, {0}));
    ASSERT_EQ(reaction.frames.size(), 1u);
    EXPECT_EQ(reaction.frames[0].size(), 64u);
    EXPECT_EQ(reaction.frames[0][7], 62);
}

TEST(Model, FaultsShapeTheAnswer) {
    auto noise = React(WithFault(0x64, FaultKind::Noise, 2), Request(0x64));
    ASSERT_EQ(noise.frames.size(), 3u);
    EXPECT_NE(noise.frames[0][5], 0x64);
    EXPECT_NE(noise.frames[1][5], 0x64);
    EXPECT_EQ(noise.frames[2][5], 0x64);

    EXPECT_TRUE(React(WithFault(0x64, FaultKind::Silent, 0), Request(0x64)).frames.empty());
    EXPECT_EQ(React(WithFault(0x64, FaultKind::ZeroLength, 0), Request(0x64)).frames[0][7], 0);
    EXPECT_EQ(React(WithFault(0x64, FaultKind::Overlong, 57), Request(0x64)).frames[0][7], 57);
    EXPECT_EQ(React(WithFault(0x64, FaultKind::Short, 10), Request(0x64)).frames[0].size(), 10u);
    EXPECT_EQ(React(WithFault(0x64, FaultKind::Delay, 30), Request(0x64)).delayMs, 30u);
    auto drop = React(WithFault(0x64, FaultKind::Drop, 0), Request(0x64));
    EXPECT_TRUE(drop.drop);
    EXPECT_TRUE(drop.frames.empty());
    // Faults of one command leave the others alone.
    EXPECT_EQ(React(WithFault(0x63, FaultKind::Silent, 0), Request(0x64)).frames.size(), 1u);
}

TEST(Model, MalformedRequestsAreIgnored) {
    auto wrongLength = Request(0x64);
    wrongLength[7] = 1;
    auto wrongMarker = Request(0x64);
    wrongMarker[6] = 0x12;
    for (const auto& request : {wrongLength, wrongMarker, std::vector<uint8_t>{9, 0, 2}})
        EXPECT_TRUE(React(McuSettings::Defaults(), request).frames.empty());
}
