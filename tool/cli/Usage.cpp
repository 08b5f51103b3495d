#include <iostream>
#include <string>

#include "cli/CommandLine.h"

namespace {

// Fixed when this file is compiled; the compiler takes SOURCE_DATE_EPOCH into account, so a
// reproducible build prints the same text.
constexpr const char* BuildDate = __DATE__;
constexpr const char* BuildTime = __TIME__;

} // namespace

std::string UsageText() {
    std::string text;
    text += "\n";
    text += "USAGE:\n";
    text += "    To verfiy btmcu ota and boot key write in and secure boot enable:\n";
    text += "        Ostrel.exe rbtmcu\n";
    text += "    To enable btmcu ota and boot key:\n";
    text += "        Ostrel.exe ebtmcu\n";
    text += "    To verfiy kbd ota and boot key write in and secure boot enable:\n";
    text += "        Ostrel.exe rkbd\n";
    text += "    To enable kbd ota and boot key:\n";
    text += "        Ostrel.exe ekbd\n";
    text += "\n";
    text += "  This Ver ";
    text += BuildDate;
    text += " ";
    text += BuildTime;
    text += "\n";
    return text;
}

void PrintUsage() {
    std::cout << UsageText() << std::flush;
}
