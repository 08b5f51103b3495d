// Calls GetDriverVersion, built from the tool's sources, under Wine. The registry value of the
// MCU software package is written beforehand with Wine's own reg tool:
//   version-export-tests absent          the key does not exist
//   version-export-tests present TEXT    the value holds TEXT
#include <cstring>
#include <string>

#include <windows.h>

#include "Check.h"
#include "RecordLog.h"
#include "version/ComponentTable.h"
#include "version/GetDriverVersion.h"

namespace {

constexpr char Untouched = '#';

struct Call {
    int32_t result;
    char buffer[64];
    int32_t length;
    std::string records;
};

Call CallGetDriverVersion(const char* name, int32_t bufferLength = 64) {
    Call call{};
    std::memset(call.buffer, Untouched, sizeof(call.buffer));
    call.length = -7;
    const RecordLogTail log;
    call.result = GetDriverVersion(name, call.buffer, bufferLength, &call.length);
    call.records = log.Appended();
    return call;
}

void ArgumentCases() {
    Case("unknown name");
    Call call = CallGetDriverVersion("mcu_software");
    CHECK(call.result == 1);
    CHECK_CONTAINS(call.records, " : The Device name is Not find! string id is :-1\r\n");
    CHECK(call.buffer[0] == Untouched && call.length == -7);

    Case("registry kind without a source");
    call = CallGetDriverVersion("MCU_DRIVER");
    CHECK(call.result == 1);
    CHECK_CONTAINS(call.records, " : Retrieve App version Failed! error code:1\r\n");

    Case("zero buffer length");
    call = CallGetDriverVersion("MCU_SOFTWARE", 0);
    CHECK(call.result == 1);
    CHECK_CONTAINS(call.records, " : The length of DeviceID should not be zero!\r\n");
}

// Both tables must be usable by a process that maps the executable without running its
// start-up code, so they live in the image's read-only data.
void TableCases() {
    Case("tables are read-only image data");
    for (const void* table : {static_cast<const void*>(ComponentTable),
                              static_cast<const void*>(RegistrySourceTable)}) {
        MEMORY_BASIC_INFORMATION region{};
        CHECK(VirtualQuery(table, &region, sizeof(region)) == sizeof(region));
        CHECK(region.Type == MEM_IMAGE);
        CHECK(region.Protect == PAGE_READONLY);
    }
    CHECK(FindComponent("PEN_APP") == 12);
}

void AbsentCase() {
    Case("registry key absent");
    const Call call = CallGetDriverVersion("MCU_SOFTWARE");
    CHECK(call.result == 5);
    const std::string first = " : Error: unable to query information about the registry\r\n";
    const std::string second = " : Retrieve App version Failed! error code:5\r\n";
    CHECK_CONTAINS(call.records, first);
    CHECK_CONTAINS(call.records, second);
    CHECK(call.records.find(first) < call.records.find(second));
    CHECK(Occurrences(call.records, "[ERROR]    ") == 2);
    CHECK(call.buffer[0] == Untouched && call.length == -7);
}

void PresentCase(const std::string& expected) {
    Case("registry value present");
    const Call call = CallGetDriverVersion("MCU_SOFTWARE");
    CHECK(call.result == 0);
    CHECK(std::string(call.buffer) == expected);
    CHECK(call.length == static_cast<int32_t>(expected.size()));
    CHECK(call.records.empty());
}

std::string Narrow(const wchar_t* text) {
    std::string out;
    for (; *text != L'\0'; ++text) {
        out += static_cast<char>(*text);
    }
    return out;
}

} // namespace

int wmain(int argc, wchar_t* argv[]) {
    ArgumentCases();
    TableCases();
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"absent") {
        AbsentCase();
    } else if (mode == L"present" && argc > 2) {
        PresentCase(Narrow(argv[2]));
    } else {
        CHECK(!"usage: version-export-tests absent | present TEXT");
    }
    return Summary("version-export-tests");
}
