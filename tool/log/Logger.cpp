#include "log/Logger.h"

#include <ctime>
#include <iostream>
#include <mutex>

namespace {

constexpr const char* LogFilePath = "C:\\ProgramData\\MCUInterfaceRecords.log";

const char* LevelTag(int32_t level) {
    switch (level) {
    case LogLevelDebug:
        return "[DEBUG]   ";
    case LogLevelError:
        return "[ERROR]   ";
    default:
        return "";
    }
}

std::string LocalTimeText() {
    // The read thread writes records too; std::localtime shares one result buffer.
    static std::mutex conversion;
    std::time_t now = std::time(nullptr);
    char text[64] = {};
    std::lock_guard guard(conversion);
    if (const std::tm* local = std::localtime(&now))
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", local);
    return text;
}

} // namespace

Logger::Logger() : outputMode(2), path(LogFilePath), consoleLevel(LogLevelError) {
    if (outputMode != 1)
        open(path, std::ios::out | std::ios::app);
}

std::string Logger::FormatLine(const std::string& message, int32_t level,
                               const std::string& timeText) {
    std::string line = LevelTag(level);
    line += ' ';
    line += timeText;
    line += " : ";
    line += message;
    line += '\n';
    return line;
}

void Logger::Write(std::string message, int32_t level) {
    // The whole line goes out in one write to each stream, so records written at the same moment
    // by two threads stay whole.
    std::string line = FormatLine(message, level, LocalTimeText());
    if (level >= consoleLevel && outputMode != 0) {
        std::cout.write(line.data(), static_cast<std::streamsize>(line.size()));
        std::cout.flush();
    }
    if (outputMode != 1)
        write(line.data(), static_cast<std::streamsize>(line.size()));
}
