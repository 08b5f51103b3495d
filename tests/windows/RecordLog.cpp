#include "RecordLog.h"

#include <fstream>
#include <iterator>

namespace {

const char* const RecordLogPath = "C:\\ProgramData\\MCUInterfaceRecords.log";

std::string ReadLog() {
    std::ifstream file(RecordLogPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

} // namespace

RecordLogTail::RecordLogTail() : start(ReadLog().size()) {}

std::string RecordLogTail::Appended() const {
    const std::string text = ReadLog();
    return text.size() > start ? text.substr(start) : std::string();
}
