#pragma once

// What the simulated MCU driver answers and how it misbehaves; filled from mcu-sim's options.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <windows.h>

namespace mcusim {

// Command codes of the frames that the MCUs answer.
constexpr uint8_t CommandVersion = 0x03;
constexpr uint8_t CommandTouchpadVersion = 0x57;
constexpr uint8_t CommandGetKey = 0x62;
constexpr uint8_t CommandEnable = 0x63;
constexpr uint8_t CommandGetFlag = 0x64;

enum class FaultKind {
    Silent,     // no answer at all
    Noise,      // `value` frames with other command codes before the answer
    ZeroLength, // the answer carries payload length 0
    Overlong,   // the answer carries payload length `value` (above 56)
    Drop,       // every open file of the device is closed instead of answering
    Delay,      // the answer comes `value` milliseconds late
    Short,      // the answer frame is cut to `value` bytes
};

struct Fault {
    FaultKind kind;
    unsigned value = 0;
};

// What one MCU answers to get key, get flag and enable.
struct McuAnswers {
    std::vector<uint8_t> firstKey;  // answered for key selector 0
    std::vector<uint8_t> secondKey; // answered for key selector 1
    uint32_t secureBootFlag = 0;
    int32_t enableCode = 0;
};

// The answers that one MCU gives in place of those for every MCU.
struct McuOwnAnswers {
    std::optional<std::vector<uint8_t>> firstKey;
    std::optional<std::vector<uint8_t>> secondKey;
    std::optional<uint32_t> secureBootFlag;
    std::optional<int32_t> enableCode;
};

struct McuSettings {
    // The answers of every MCU that has none of its own.
    std::vector<uint8_t> firstKey;
    std::vector<uint8_t> secondKey;
    uint32_t secureBootFlag = 0;
    int32_t enableCode = 0;
    std::map<std::string, McuOwnAnswers> own;        // by MCU: bt, kbd
    std::map<std::string, std::string> versions;     // by MCU: bt, kbd, pen, tp
    std::map<uint8_t, std::vector<uint8_t>> answers; // raw payloads replacing the above
    std::map<uint8_t, std::vector<Fault>> faults;    // by command code
    std::vector<Fault> faultsForAll;                 // for every command
    DWORD denyOpen = 0;      // Windows error code that opens fail with (0: none)
    unsigned allowOpens = 0; // opens that succeed before denyOpen applies
    unsigned interfaces = 1;
    unsigned pathLength = 0; // length of the first interface path (0: natural)
    bool trace = false;

    // The development provisioning pair, the default versions, no fault.
    static McuSettings Defaults();

    // What `mcu` answers: its own answers where it has them, else those for every MCU.
    McuAnswers AnswersOf(const std::string& mcu) const;
};

// Parses mcu-sim's options into `settings`. False with `error` set on a bad option; `help` is set
// when --help was given.
bool ParseOptions(const std::vector<std::string>& arguments, McuSettings& settings,
                  std::string& error, bool& help);

// The text of mcu-sim --help.
std::string HelpText();

// Reads mcu-sim's command line into `settings`. Returns the exit code when the program ends
// here: 0 after printing the help text, 2 after printing a bad option's error.
std::optional<int> ReadCommandLine(int argc, char** argv, McuSettings& settings);

// Parses hexadecimal bytes ("a0a1..." or "a0 a1 ..."); false when malformed.
bool ParseHex(const std::string& text, std::vector<uint8_t>& bytes);

// Reads a key file (two lines of hexadecimal key bytes; blank lines and '#' lines ignored).
bool ReadKeyFile(const std::string& path, std::vector<uint8_t>& first,
                 std::vector<uint8_t>& second);

} // namespace mcusim
