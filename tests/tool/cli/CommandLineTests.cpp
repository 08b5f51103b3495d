#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "cli/CommandLine.h"

namespace {

TEST(EqualsIgnoreCase, FoldsAsciiLettersOnly) {
    EXPECT_TRUE(EqualsIgnoreCase(L"rbtmcu", L"rbtmcu"));
    EXPECT_TRUE(EqualsIgnoreCase(L"RBTMCU", L"rbtmcu"));
    EXPECT_TRUE(EqualsIgnoreCase(L"RbtMcu", L"rbtmcu"));
    EXPECT_TRUE(EqualsIgnoreCase(L"", L""));
    EXPECT_FALSE(EqualsIgnoreCase(L"rbtmcu ", L"rbtmcu"));
    EXPECT_FALSE(EqualsIgnoreCase(L"rbtmcu2", L"rbtmcu"));
    EXPECT_FALSE(EqualsIgnoreCase(L"rbtmc", L"rbtmcu"));
    EXPECT_FALSE(EqualsIgnoreCase(L"", L"rkbd"));
    // Only a to z fold: neighbours of the letter ranges and non-ASCII letters compare as is.
    EXPECT_FALSE(EqualsIgnoreCase(L"@", L"`"));
    EXPECT_FALSE(EqualsIgnoreCase(L"[", L"{"));
    EXPECT_FALSE(EqualsIgnoreCase(L"\u00e9", L"\u00c9"));
    EXPECT_FALSE(EqualsIgnoreCase(L"rkbd\u0131", L"rkbdi"));
    // Units whose low byte is a letter must not match it: the fullwidth small r (U+FF52), and
    // the low surrogate of U+10052 as a Windows argument carries that character (D800 DC52).
    EXPECT_FALSE(EqualsIgnoreCase(L"\uFF52", L"r"));
    EXPECT_FALSE(EqualsIgnoreCase(L"\uFF52", L"R"));
    const std::wstring pair = {static_cast<wchar_t>(0xD800), static_cast<wchar_t>(0xDC52)};
    EXPECT_FALSE(EqualsIgnoreCase(pair, std::wstring{static_cast<wchar_t>(0xD800), L'r'}));
    EXPECT_FALSE(EqualsIgnoreCase(pair, L"r"));
    EXPECT_TRUE(EqualsIgnoreCase(pair, pair));
}

TEST(EqualsIgnoreCase, LeavesTheArgumentAlone) {
    std::wstring argument = L"EkBd";
    EXPECT_TRUE(EqualsIgnoreCase(argument, L"ekbd"));
    EXPECT_EQ(argument, L"EkBd");
}

TEST(Usage, TextByteForByte) {
    const std::string text = UsageText();
    const std::string fixed = "\n"
                              "USAGE:\n"
                              "    To verfiy btmcu ota and boot key write in and secure boot "
                              "enable:\n"
                              "        Ostrel.exe rbtmcu\n"
                              "    To enable btmcu ota and boot key:\n"
                              "        Ostrel.exe ebtmcu\n"
                              "    To verfiy kbd ota and boot key write in and secure boot "
                              "enable:\n"
                              "        Ostrel.exe rkbd\n"
                              "    To enable kbd ota and boot key:\n"
                              "        Ostrel.exe ekbd\n"
                              "\n"
                              "  This Ver ";
    ASSERT_EQ(text.substr(0, fixed.size()), fixed);
    // "Aug  3 2021 11:55:20": the day right-aligned in two places.
    const std::regex stamp("(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
                           "( [1-9]|[12][0-9]|3[01]) [0-9]{4} [0-2][0-9]:[0-5][0-9]:[0-6][0-9]\n");
    EXPECT_TRUE(std::regex_match(text.substr(fixed.size()), stamp)) << text;
}

TEST(Usage, MissingOrUnknownWordPrintsUsageAndGivesMinusOne) {
    wchar_t program[] = L"ostrel";
    wchar_t empty[] = L"";
    wchar_t unknown[] = L"rbtmcu2";
    wchar_t padded[] = L"rkbd ";
    for (wchar_t* argument : {static_cast<wchar_t*>(nullptr), empty, unknown, padded}) {
        wchar_t* argv[] = {program, argument, nullptr};
        testing::internal::CaptureStdout();
        const int code = RunCommandLine(argument == nullptr ? 1 : 2, argv);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), UsageText());
        EXPECT_EQ(code, -1);
    }
}

} // namespace
