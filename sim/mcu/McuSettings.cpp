#include "McuSettings.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iostream>

namespace mcusim {
namespace {

bool ParseNumber(const std::string& text, long long low, long long high, long long& value) {
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(text.c_str(), &end, 0);
    return errno == 0 && *end == '\0' && value >= low && value <= high;
}

bool ParseCommand(const std::string& name, int& code) {
    static const std::map<std::string, int> names = {{"key", CommandGetKey},
                                                     {"enable", CommandEnable},
                                                     {"flag", CommandGetFlag},
                                                     {"version", CommandVersion},
                                                     {"tpversion", CommandTouchpadVersion},
                                                     {"all", -1}};
    auto found = names.find(name);
    if (found != names.end()) {
        code = found->second;
        return true;
    }
    long long number = 0;
    if (!ParseNumber(name, 0, 255, number))
        return false;
    code = static_cast<int>(number);
    return true;
}

bool ParseFault(const std::string& text, Fault& fault) {
    static const std::map<std::string, FaultKind> kinds = {{"silent", FaultKind::Silent},
                                                           {"noise", FaultKind::Noise},
                                                           {"zero-length", FaultKind::ZeroLength},
                                                           {"overlong", FaultKind::Overlong},
                                                           {"drop", FaultKind::Drop},
                                                           {"delay", FaultKind::Delay},
                                                           {"short", FaultKind::Short}};
    auto colon = text.find(':');
    auto found = kinds.find(text.substr(0, colon));
    if (found == kinds.end())
        return false;
    fault.kind = found->second;
    switch (fault.kind) {
    case FaultKind::Noise:
        fault.value = 2;
        break;
    case FaultKind::Overlong:
        fault.value = 57;
        break;
    case FaultKind::Delay:
        fault.value = 100;
        break;
    case FaultKind::Short:
        fault.value = 8;
        break;
    default:
        break;
    }
    if (colon == std::string::npos)
        return true;
    long long value = 0;
    if (!ParseNumber(text.substr(colon + 1), 0, 600000, value))
        return false;
    fault.value = static_cast<unsigned>(value);
    if (fault.kind == FaultKind::Overlong)
        return value > 56 && value <= 255;
    if (fault.kind == FaultKind::Short)
        return value <= 64;
    return true;
}

bool SplitAssignment(const std::string& text, std::string& name, std::string& value) {
    auto equals = text.find('=');
    if (equals == std::string::npos || equals == 0)
        return false;
    name = text.substr(0, equals);
    value = text.substr(equals + 1);
    return true;
}

bool IsMcuName(const std::string& name) {
    return name == "bt" || name == "kbd" || name == "pen" || name == "tp";
}

// "MCU=VALUE" is for that MCU alone, any other value for every MCU.
void SplitMcu(const std::string& text, std::string& mcu, std::string& value) {
    std::string name, rest;
    if (SplitAssignment(text, name, rest) && IsMcuName(name)) {
        mcu = name;
        value = rest;
    } else {
        mcu.clear();
        value = text;
    }
}

// --first-key, --second-key, --keys, --secure-boot-flag and --enable-code, for every MCU or,
// with MCU=, for the Bluetooth or keyboard MCU alone (the pen and touchpad take none of these
// commands).
bool ParseAnswerOption(const std::string& option, const std::string& text, McuSettings& settings,
                       std::string& error) {
    std::string mcu, value;
    SplitMcu(text, mcu, value);
    if (!mcu.empty() && mcu != "bt" && mcu != "kbd") {
        error = option + ": " + mcu + " takes no get key, get flag or enable; MCU is bt or kbd";
        return false;
    }
    McuOwnAnswers* own = mcu.empty() ? nullptr : &settings.own[mcu];
    long long number = 0;
    if (option == "--first-key" || option == "--second-key") {
        std::vector<uint8_t> key;
        if (!ParseHex(value, key)) {
            error = option + ": not hexadecimal bytes: " + value;
            return false;
        }
        const bool first = option == "--first-key";
        if (own)
            (first ? own->firstKey : own->secondKey) = key;
        else
            (first ? settings.firstKey : settings.secondKey) = key;
    } else if (option == "--keys") {
        std::vector<uint8_t> first, second;
        if (!ReadKeyFile(value, first, second)) {
            error = "--keys: cannot read two keys from " + value;
            return false;
        }
        if (own) {
            own->firstKey = first;
            own->secondKey = second;
        } else {
            settings.firstKey = first;
            settings.secondKey = second;
        }
    } else if (option == "--secure-boot-flag") {
        if (!ParseNumber(value, 0, 0xFFFFFFFFLL, number)) {
            error = "--secure-boot-flag: not a 32-bit number: " + value;
            return false;
        }
        const auto flag = static_cast<uint32_t>(number);
        if (own)
            own->secureBootFlag = flag;
        else
            settings.secureBootFlag = flag;
    } else {
        if (!ParseNumber(value, INT32_MIN, 0xFFFFFFFFLL, number)) {
            error = "--enable-code: not a 32-bit number: " + value;
            return false;
        }
        const auto code = static_cast<int32_t>(static_cast<uint32_t>(number));
        if (own)
            own->enableCode = code;
        else
            settings.enableCode = code;
    }
    return true;
}

} // namespace

bool ParseHex(const std::string& text, std::vector<uint8_t>& bytes) {
    bytes.clear();
    std::string digits;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c)) || c == ':')
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
        digits += c;
    }
    if (digits.size() % 2)
        return false;
    for (size_t i = 0; i < digits.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return true;
}

bool ReadKeyFile(const std::string& path, std::vector<uint8_t>& first,
                 std::vector<uint8_t>& second) {
    std::ifstream in(path);
    if (!in)
        return false;
    std::vector<std::vector<uint8_t>> keys;
    std::string line;
    while (std::getline(in, line)) {
        auto start = line.find_first_not_of(" \t\r");
        if (start == std::string::npos || line[start] == '#')
            continue;
        std::vector<uint8_t> key;
        if (!ParseHex(line, key))
            return false;
        keys.push_back(key);
    }
    if (keys.size() != 2)
        return false;
    first = keys[0];
    second = keys[1];
    return true;
}

McuSettings McuSettings::Defaults() {
    McuSettings settings;
    ParseHex(MCUSIM_FIRST_KEY, settings.firstKey);
    ParseHex(MCUSIM_SECOND_KEY, settings.secondKey);
    settings.versions = {{"bt", "BRIDGE_MCU 1.0.0.14"},
                         {"kbd", "TALMER_KBD 2.1.0.3 (UK)"},
                         {"pen", "QUILL_PEN 3.0.2.1"},
                         {"tp", "GLIDE_TP 4.2.0.7"}};
    return settings;
}

McuAnswers McuSettings::AnswersOf(const std::string& mcu) const {
    McuAnswers answers{firstKey, secondKey, secureBootFlag, enableCode};
    auto found = own.find(mcu);
    if (found == own.end())
        return answers;
    const McuOwnAnswers& mine = found->second;
    answers.firstKey = mine.firstKey.value_or(answers.firstKey);
    answers.secondKey = mine.secondKey.value_or(answers.secondKey);
    answers.secureBootFlag = mine.secureBootFlag.value_or(answers.secureBootFlag);
    answers.enableCode = mine.enableCode.value_or(answers.enableCode);
    return answers;
}

bool ParseOptions(const std::vector<std::string>& arguments, McuSettings& settings,
                  std::string& error, bool& help) {
    help = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& option = arguments[i];
        if (option == "--help" || option == "-h") {
            help = true;
            return true;
        }
        if (option == "--trace") {
            settings.trace = true;
            continue;
        }
        if (i + 1 >= arguments.size()) {
            error = option.rfind("--", 0) == 0 ? option + " needs a value"
                                               : "unknown argument " + option;
            return false;
        }
        const std::string& value = arguments[++i];
        long long number = 0;
        std::string name, text;
        if (option == "--first-key" || option == "--second-key" || option == "--keys" ||
            option == "--secure-boot-flag" || option == "--enable-code") {
            if (!ParseAnswerOption(option, value, settings, error))
                return false;
        } else if (option == "--version") {
            if (!SplitAssignment(value, name, text) ||
                (name != "bt" && name != "kbd" && name != "pen" && name != "tp") ||
                text.size() > 255) {
                error = "--version: expected MCU=TEXT with MCU bt, kbd, pen or tp: " + value;
                return false;
            }
            settings.versions[name] = text;
        } else if (option == "--answer") {
            int code = 0;
            std::vector<uint8_t> payload;
            if (!SplitAssignment(value, name, text) || !ParseCommand(name, code) || code < 0 ||
                !ParseHex(text, payload) || payload.size() > 255) {
                error = "--answer: expected COMMAND=HEX: " + value;
                return false;
            }
            settings.answers[static_cast<uint8_t>(code)] = payload;
        } else if (option == "--fault") {
            int code = 0;
            Fault fault{};
            if (!SplitAssignment(value, name, text) || !ParseCommand(name, code) ||
                !ParseFault(text, fault)) {
                error = "--fault: expected COMMAND=KIND[:N]: " + value;
                return false;
            }
            if (code < 0)
                settings.faultsForAll.push_back(fault);
            else
                settings.faults[static_cast<uint8_t>(code)].push_back(fault);
        } else if (option == "--deny-open") {
            if (!ParseNumber(value, 1, 0xFFFFFFFFLL, number)) {
                error = "--deny-open: expected a Windows error code: " + value;
                return false;
            }
            settings.denyOpen = static_cast<DWORD>(number);
        } else if (option == "--allow-opens") {
            if (!ParseNumber(value, 0, 1000000, number)) {
                error = "--allow-opens: expected a count: " + value;
                return false;
            }
            settings.allowOpens = static_cast<unsigned>(number);
        } else if (option == "--interfaces") {
            if (!ParseNumber(value, 1, 16, number)) {
                error = "--interfaces: expected 1 to 16: " + value;
                return false;
            }
            settings.interfaces = static_cast<unsigned>(number);
        } else if (option == "--path-length") {
            if (!ParseNumber(value, 64, 1024, number)) {
                error = "--path-length: expected 64 to 1024: " + value;
                return false;
            }
            settings.pathLength = static_cast<unsigned>(number);
        } else {
            error = "unknown option " + option;
            return false;
        }
    }
    return true;
}

std::string HelpText() {
    return R"(Usage: mcu-sim [OPTION]...
Plays the platform's MCU driver and the MCUs behind it on the Win32 stand-in: publishes the MCU
interface {DD0EBEDB-F1D6-4CFA-ACCA-71E66D3178CA} under $WINHOST_ROOT/DeviceInterfaces, answers
request frames, prints "ready" once the interface is published, and runs until SIGINT or SIGTERM.

MCUs (each answers only the frames addressed to it; any other frame gets no answer):
  bt    Bluetooth MCU   device 0: key, enable, flag at target 9; version at target 9
  kbd   keyboard MCU    device 2: key, enable, flag at target 9; version at target 5
  pen   pen MCU         device 1: version at target 7
  tp    touchpad MCU    device 0: tpversion at target 0

Answers (a plain value is for every MCU; MCU=VALUE, MCU bt or kbd, for that MCU alone
whatever the order of the options):
  --first-key [MCU=]HEX    key bytes answered for get-key selector 0 (any length)
  --second-key [MCU=]HEX   key bytes answered for get-key selector 1 (any length)
  --keys [MCU=]FILE        both keys from a key file (default: the build's key file)
  --secure-boot-flag [MCU=]N
                           get-flag answer, 4 bytes (default 0: secure boot on)
  --enable-code [MCU=]N    enable answer, signed, 4 bytes (default 0); an enable answered
                           with 0 turns secure boot on for that MCU alone, so that its get
                           flag answers 0 from then on
  --version MCU=TEXT       version text of MCU bt, kbd, pen or tp
  --answer COMMAND=HEX     answer COMMAND with exactly these payload bytes (may be empty),
                           for every MCU that takes it

Misbehaviour:
  --fault COMMAND=KIND     KIND is one of
                             silent        never answer
                             noise[:N]     N frames with other command codes first (default 2)
                             zero-length   answer with payload length 0
                             overlong[:L]  answer with payload length L, 57 to 255 (default 57)
                             drop          close every open file of the device instead
                             delay[:MS]    answer MS milliseconds late (default 100)
                             short[:B]     cut the answer frame to B bytes (default 8)
                           may be repeated; faults of one command combine
  --deny-open CODE         fail opens with this Windows error code (5 access denied,
                           32 sharing violation)
  --allow-opens N          let the first N opens succeed before --deny-open applies
  --interfaces N           publish N interfaces of the class (default 1)
  --path-length N          make the first interface path exactly N characters long
  --trace                  print every open, request (with its arrival time in ms since
                           the start), answer (with the MCU that gave it) and enable on
                           standard error
  --help                   print this text

COMMAND is key (0x62), enable (0x63), flag (0x64), version (0x03), tpversion (0x57), all, or a
command code; a code that no MCU takes is answered only through --answer. Get key answers 2
bytes (selector, key length) and the key.
)";
}

std::optional<int> ReadCommandLine(int argc, char** argv, McuSettings& settings) {
    std::string error;
    bool help = false;
    if (!ParseOptions(std::vector<std::string>(argv + 1, argv + argc), settings, error, help)) {
        std::cerr << "mcu-sim: " << error << "\n(mcu-sim --help lists the options)\n";
        return 2;
    }
    if (help) {
        std::cout << HelpText();
        return 0;
    }
    return std::nullopt;
}

} // namespace mcusim
