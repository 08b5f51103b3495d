#include <gtest/gtest.h>

#include "McuModel.h"

using namespace mcusim;

namespace {

std::vector<uint8_t> Request(uint8_t command, uint8_t device = 0, std::vector<uint8_t> payload = {},
                             uint8_t target = 9) {
    std::vector<uint8_t> frame(8 + payload.size());
    const uint8_t header[8] = {target, 0,       2,    0,
                               device, command, 0x11, static_cast<uint8_t>(payload.size())};
    std::copy(header, header + 8, frame.begin());
    std::copy(payload.begin(), payload.end(), frame.begin() + 8);
    return frame;
}

Reaction React(const McuSettings& settings, const std::vector<uint8_t>& request) {
    return McuModel(settings).React(request.data(), request.size());
}

Reaction React(McuModel& model, const std::vector<uint8_t>& request) {
    return model.React(request.data(), request.size());
}

uint8_t FlagAnswer(McuModel& model, uint8_t device) {
    Reaction reaction = React(model, Request(0x64, device));
    return reaction.frames.size() == 1 ? reaction.frames[0][8] : 0xEE;
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

TEST(Model, VersionFollowsTheTargetAndDeviceBytes) {
    McuSettings settings = McuSettings::Defaults();
    settings.versions["pen"] = "PEN 1";
    Reaction pen = React(settings, Request(0x03, 1, {}, 7));
    ASSERT_EQ(pen.frames.size(), 1u);
    EXPECT_EQ(pen.frames[0][7], 5);
    EXPECT_EQ(std::string(pen.frames[0].begin() + 8, pen.frames[0].begin() + 13), "PEN 1");
    EXPECT_TRUE(React(settings, Request(0x03, 3)).frames.empty());
    EXPECT_TRUE(React(settings, Request(0x03, 1)).frames.empty()); // the pen is at target 7
}

TEST(Model, EachFrameReachesTheMcuOfItsAddressOnly) {
    const struct {
        uint8_t target, device, command;
        const char* mcu; // "" for no answer
    } rows[] = {
        {9, 0, 0x62, "bt"},
        {9, 0, 0x63, "bt"},
        {9, 0, 0x64, "bt"},
        {9, 0, 0x03, "bt"},
        {9, 2, 0x62, "kbd"},
        {9, 2, 0x63, "kbd"},
        {9, 2, 0x64, "kbd"},
        {5, 2, 0x03, "kbd"},
        {7, 1, 0x03, "pen"},
        {0, 0, 0x57, "tp"},
        // Right command, wrong address, or an MCU that does not take the command.
        {9, 2, 0x03, ""},
        {5, 0, 0x03, ""},
        {9, 1, 0x03, ""},
        {9, 0, 0x57, ""},
        {0, 0, 0x03, ""},
        {9, 1, 0x62, ""},
        {9, 3, 0x64, ""},
        {5, 2, 0x62, ""},
        {0, 0, 0x64, ""},
        {7, 1, 0x63, ""},
    };
    McuSettings settings = McuSettings::Defaults();
    for (const auto& row : rows) {
        const std::vector<uint8_t> payload =
            row.command == 0x62 ? std::vector<uint8_t>{0} : std::vector<uint8_t>{};
        Reaction reaction = React(settings, Request(row.command, row.device, payload, row.target));
        EXPECT_EQ(reaction.mcu, row.mcu)
            << int(row.target) << "/" << int(row.device) << "/" << int(row.command);
        EXPECT_EQ(reaction.frames.size(), *row.mcu ? 1u : 0u);
    }
}

TEST(Model, EachMcuHasItsOwnAnswersAndEnableState) {
    McuSettings settings = McuSettings::Defaults();
    settings.secureBootFlag = 1;
    settings.own["bt"].firstKey = std::vector<uint8_t>{0xB7};
    settings.own["kbd"].enableCode = 5;
    McuModel model(settings);

    EXPECT_EQ(React(model, Request(0x62, 0, {0})).frames[0][10], 0xB7);
    EXPECT_EQ(React(model, Request(0x62, 2, {0})).frames[0][10], 0xA0);

    // The keyboard MCU refuses (code 5): nothing changes. The Bluetooth MCU enables itself only.
    Reaction refused = React(model, Request(0x63, 2));
    EXPECT_EQ(refused.frames[0][8], 5);
    EXPECT_FALSE(refused.enables);
    EXPECT_EQ(FlagAnswer(model, 0), 1);
    Reaction enabled = React(model, Request(0x63, 0));
    EXPECT_TRUE(enabled.enables);
    EXPECT_EQ(enabled.mcu, "bt");
    EXPECT_EQ(FlagAnswer(model, 0), 0);
    EXPECT_EQ(FlagAnswer(model, 2), 1);
    EXPECT_TRUE(model.Enabled("bt"));
    EXPECT_FALSE(model.Enabled("kbd"));
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
