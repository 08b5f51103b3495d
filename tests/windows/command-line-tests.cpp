// Runs ostrel.exe (next to this program) as a child process, the way a line script does, and
// checks its console output, its records and the exit status a Windows parent sees. Under
// Wine no MCU interface is published: discovery fails at its size query.
#include <string>

#include "ChildProcess.h"
#include "Check.h"
#include "RecordLog.h"
#include "cli/CommandLine.h"

namespace {

constexpr DWORD UsageExit = 0xFFFFFFFF; // wmain returned -1
const std::string SizeQueryFailed = " : Error retrieving device interface list size.19\r\n";
const std::string NoDevice = " : Unable to find any MCU devices!\r\n";
const std::string OpenFailed = " : Open Handle failed!\r\n";

std::wstring Ostrel() {
    return ProgramFolder() + L"ostrel.exe";
}

void CheckUsage(const wchar_t* arguments) {
    const RecordLogTail log;
    const ChildResult run = RunChild(Ostrel(), arguments);
    CHECK(run.started);
    CHECK(run.exitCode == UsageExit);
    CHECK(run.output == WithCrLf(UsageText()));
    CHECK(log.Appended().empty());
}

void UsageCases() {
    Case("usage without a word");
    CheckUsage(L"");
    Case("usage for an unknown word");
    CheckUsage(L"foo");
    CheckUsage(L"rbtmcu2");
    CheckUsage(L"\"rbtmcu \"");
    CheckUsage(L"\"\"");
}

// Every failed discovery leaves its size-query record in front of the caller's own.
void CheckVerifyWithoutDevice(const wchar_t* arguments) {
    const RecordLogTail log;
    const ChildResult run = RunChild(Ostrel(), arguments);
    CHECK(run.exitCode == 1);
    const std::string records = log.Appended();
    for (const std::string* text : {&run.output, &records}) {
        CHECK_CONTAINS(*text, "[ERROR]    ");
        CHECK_CONTAINS(*text, SizeQueryFailed + "[ERROR]    ");
        CHECK_CONTAINS(*text, NoDevice);
        CHECK_CONTAINS(*text, OpenFailed);
        CHECK_CONTAINS(*text, " : VerifySecureBootAndOta Get Key Error!\r\n");
        CHECK(Occurrences(*text, "Get Key Error!") == 1); // the second key is never read
    }
    CHECK_CONTAINS(records, "[DEBUG]    ");
    CHECK_CONTAINS(records, " : FactoryBtMcuGetKey error code:5\r\n");
    CHECK(run.output.find("FactoryBtMcuGetKey") == std::string::npos); // debug: log only
}

void CheckEnableWithoutDevice(const wchar_t* arguments, const std::string& resultLine) {
    const RecordLogTail log;
    const ChildResult run = RunChild(Ostrel(), arguments);
    CHECK(run.exitCode == 1);
    const std::string records = log.Appended();
    // The presence check and the exchange each report the missing device.
    CHECK(Occurrences(records, SizeQueryFailed) == 2);
    CHECK(Occurrences(records, NoDevice) == 2);
    CHECK(Occurrences(records, OpenFailed) == 1);
    CHECK(Occurrences(run.output, NoDevice) == 2);
    const size_t line = run.output.rfind(resultLine);
    CHECK(line != std::string::npos && line + resultLine.size() == run.output.size());
    CHECK(run.output.find(OpenFailed) < line);
}

void CommandCases() {
    Case("rbtmcu without a device");
    CheckVerifyWithoutDevice(L"RbtMcu");
    Case("rkbd without a device");
    CheckVerifyWithoutDevice(L"rkbd");
    Case("ebtmcu without a device");
    CheckEnableWithoutDevice(L"EBTMCU", "bt mcu enable error code:0\r\n");
    Case("ekbd without a device, second word ignored");
    CheckEnableWithoutDevice(L"ekbd foo", "kbd enable error code:0\r\n");
}

} // namespace

int wmain() {
    UsageCases();
    CommandCases();
    return Summary("command-line-tests");
}
