#pragma once

#include <cstdint>
#include <fstream>
#include <string>

// Record levels and their tags (ten characters: the word in brackets padded with blanks).
constexpr int32_t LogLevelDebug = 0;
constexpr int32_t LogLevelError = 3;

// One record's worth of the log: opens the log file for appending, writes lines, closes it again
// when destroyed. Records at consoleLevel or above are echoed to standard output.
class Logger : public std::ofstream {
  public:
    Logger();
    ~Logger() override = default;

    void Write(std::string message, int32_t level);

    // The line written for `message` at `level` at the local time `timeText`.
    static std::string FormatLine(const std::string& message, int32_t level,
                                  const std::string& timeText);

  private:
    int32_t outputMode; // 0 file only, 1 standard output only, 2 both
    std::string path;
    int32_t consoleLevel;
};
