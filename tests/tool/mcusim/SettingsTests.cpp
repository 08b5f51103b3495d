#include <gtest/gtest.h>

#include "McuSettings.h"

using namespace mcusim;

namespace {

bool Parse(std::vector<std::string> arguments, McuSettings& settings, std::string& error) {
    bool help = false;
    settings = McuSettings::Defaults();
    return ParseOptions(arguments, settings, error, help);
}

} // namespace

TEST(Settings, DefaultsAreTheDevelopmentKeysAndNoFault) {
    McuSettings settings = McuSettings::Defaults();
    ASSERT_EQ(settings.firstKey.size(), 32u);
    EXPECT_EQ(settings.firstKey.front(), 0xA0);
    EXPECT_EQ(settings.secondKey.back(), 0xDF);
    EXPECT_EQ(settings.secureBootFlag, 0u);
    EXPECT_EQ(settings.enableCode, 0);
    EXPECT_EQ(settings.versions.at("bt"), "BRIDGE_MCU 1.0.0.14");
    EXPECT_TRUE(settings.faults.empty());
    EXPECT_EQ(settings.interfaces, 1u);
}

TEST(Settings, OptionsSetAnswersAndFaults) {
    McuSettings settings;
    std::string error;
    ASSERT_TRUE(Parse({"--first-key",
                       "0102",
                       "--secure-boot-flag",
                       "1",
                       "--enable-code",
                       "-1",
                       "--version",
                       "kbd=TALMER_KBD 9.9",
                       "--fault",
                       "flag=noise:4",
                       "--fault",
                       "flag=short",
                       "--fault",
                       "all=delay:20",
                       "--answer",
                       "0x63=ff",
                       "--deny-open",
                       "32",
                       "--allow-opens",
                       "1",
                       "--interfaces",
                       "2",
                       "--path-length",
                       "256"},
                      settings, error))
        << error;
    EXPECT_EQ(settings.firstKey, (std::vector<uint8_t>{1, 2}));
    EXPECT_EQ(settings.secureBootFlag, 1u);
    EXPECT_EQ(settings.enableCode, -1);
    EXPECT_EQ(settings.versions.at("kbd"), "TALMER_KBD 9.9");
    ASSERT_EQ(settings.faults.at(0x64).size(), 2u);
    EXPECT_EQ(settings.faults.at(0x64)[0].kind, FaultKind::Noise);
    EXPECT_EQ(settings.faults.at(0x64)[0].value, 4u);
    EXPECT_EQ(settings.faults.at(0x64)[1].value, 8u);
    ASSERT_EQ(settings.faultsForAll.size(), 1u);
    EXPECT_EQ(settings.faultsForAll[0].kind, FaultKind::Delay);
    EXPECT_EQ(settings.answers.at(0x63), std::vector<uint8_t>{0xFF});
    EXPECT_EQ(settings.denyOpen, 32u);
    EXPECT_EQ(settings.allowOpens, 1u);
    EXPECT_EQ(settings.interfaces, 2u);
    EXPECT_EQ(settings.pathLength, 256u);
}

TEST(Settings, McuPrefixSetsOneMcuWhateverTheOrder) {
    McuSettings settings;
    std::string error;
    ASSERT_TRUE(Parse({"--first-key", "kbd=0102", "--first-key", "03", "--secure-boot-flag", "bt=1",
                       "--enable-code", "kbd=-2", "--second-key", "bt="},
                      settings, error))
        << error;
    EXPECT_EQ(settings.AnswersOf("kbd").firstKey, (std::vector<uint8_t>{1, 2}));
    EXPECT_EQ(settings.AnswersOf("bt").firstKey, std::vector<uint8_t>{3});
    EXPECT_EQ(settings.AnswersOf("bt").secureBootFlag, 1u);
    EXPECT_EQ(settings.AnswersOf("kbd").secureBootFlag, 0u);
    EXPECT_EQ(settings.AnswersOf("kbd").enableCode, -2);
    EXPECT_EQ(settings.AnswersOf("bt").enableCode, 0);
    EXPECT_TRUE(settings.AnswersOf("bt").secondKey.empty());
    EXPECT_EQ(settings.AnswersOf("kbd").secondKey.size(), 32u);
}

TEST(Settings, BadOptionsAreRefusedWithAReason) {
    McuSettings settings;
    for (std::vector<std::string> arguments : {std::vector<std::string>{"--first-key", "0g"},
                                               {"--fault", "flag=sometimes"},
                                               {"--first-key", "pen=00"},
                                               {"--enable-code", "tp=0"},
                                               {"--secure-boot-flag", "mouse=1"},
                                               {"--fault", "nothing=silent"},
                                               {"--fault", "key=overlong:56"},
                                               {"--version", "x=1"},
                                               {"--interfaces", "0"},
                                               {"--secure-boot-flag"},
                                               {"--bogus", "1"}}) {
        std::string error;
        EXPECT_FALSE(Parse(arguments, settings, error)) << arguments[0];
        EXPECT_FALSE(error.empty());
    }
}
