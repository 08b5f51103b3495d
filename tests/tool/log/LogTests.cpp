#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include <gtest/gtest.h>

#include "HostRoot.h"
#include "Records.h"
#include "log/Log.h"
#include "log/Logger.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

TEST(LoggerLine, HasTagBlankTimeSeparatorMessageAndNewline) {
    EXPECT_EQ(Logger::FormatLine("Opened the device successfully.\n", 0, "2021-08-03 11:55:20"),
              "[DEBUG]    2021-08-03 11:55:20 : Opened the device successfully.\n\n");
    EXPECT_EQ(Logger::FormatLine("Timeout While Waiting Response:258", 3, "2021-08-03 11:55:20"),
              "[ERROR]    2021-08-03 11:55:20 : Timeout While Waiting Response:258\n");
    // Other levels have no tag, only the separating blank.
    EXPECT_EQ(Logger::FormatLine("x", 1, "2021-08-03 11:55:20"), " 2021-08-03 11:55:20 : x\n");
}

class RecordLog : public testing::Test {
  protected:
    HostRoot root;
};

TEST_F(RecordLog, DebugRecordGoesToTheFileOnly) {
    CaptureStdout();
    LogDebug("progress");
    EXPECT_EQ(GetCapturedStdout(), "");

    std::string text = ReadFileText(root.LogFile());
    EXPECT_TRUE(std::regex_match(
        text, std::regex(R"(\[DEBUG\]    \d{4}-\d\d-\d\d \d\d:\d\d:\d\d : progress\n)")))
        << text;
}

TEST_F(RecordLog, ErrorRecordGoesToTheFileAndStandardOutputAlike) {
    CaptureStdout();
    LogError("Unable to find any MCU devices!");
    std::string console = GetCapturedStdout();

    std::string text = ReadFileText(root.LogFile());
    EXPECT_EQ(console, text);
    EXPECT_TRUE(std::regex_match(
        text,
        std::regex(
            R"(\[ERROR\]    \d{4}-\d\d-\d\d \d\d:\d\d:\d\d : Unable to find any MCU devices!\n)")))
        << text;
}

TEST_F(RecordLog, RecordsAppendToWhatEarlierRunsLeft) {
    std::filesystem::create_directories(std::filesystem::path(root.LogFile()).parent_path());
    std::ofstream(root.LogFile()) << "[DEBUG]    2021-08-03 11:55:20 : earlier run\n";

    CaptureStdout();
    LogDebug("first");
    LogError("Opened the device successfully.\n");
    LogDebug("third");
    GetCapturedStdout();

    bool wellFormed = false;
    auto records = ParseRecords(ReadFileText(root.LogFile()), &wellFormed);
    EXPECT_TRUE(wellFormed);
    EXPECT_EQ(Messages(records),
              (std::vector<std::string>{"earlier run", "first", "Opened the device successfully.\n",
                                        "third"}));
}

TEST_F(RecordLog, UnwritableFolderStillEchoesErrors) {
    // A file where the folder should be: nothing can be created in "C:\ProgramData".
    std::filesystem::create_directories(root.Path() + "/drive_c");
    std::ofstream(root.Path() + "/drive_c/ProgramData") << "not a folder";

    CaptureStdout();
    LogDebug("lost");
    LogError("Open Handle failed!");
    std::string console = GetCapturedStdout();

    auto records = ParseRecords(console);
    EXPECT_EQ(Messages(records), std::vector<std::string>{"Open Handle failed!"});
    EXPECT_EQ(ReadFileText(root.Path() + "/drive_c/ProgramData"), "not a folder");
}

TEST_F(RecordLog, RecordsFromTwoThreadsStayWhole) {
    constexpr int perThread = 200;
    auto writer = [](const std::string& text) {
        for (int i = 0; i < perThread; ++i)
            LogDebug(text + std::to_string(i) + std::string(100, 'x'));
    };
    std::thread first(writer, "first ");
    std::thread second(writer, "second ");
    first.join();
    second.join();

    bool wellFormed = false;
    auto records = ParseRecords(ReadFileText(root.LogFile()), &wellFormed);
    EXPECT_TRUE(wellFormed);
    ASSERT_EQ(records.size(), 2u * perThread);
    for (const auto& record : records)
        EXPECT_TRUE(std::regex_match(record.message, std::regex("(first|second) \\d+x{100}")))
            << record.message;
}
