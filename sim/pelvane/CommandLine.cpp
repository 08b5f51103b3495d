// Reading pelvane-sim's options.
#include "CommandLine.h"

#include "Scenario.h"

#include "frame/Trace.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace pelvane {

namespace {

bool ParseInstances(const std::string& which, std::vector<int>& instances) {
    if (which == "all") {
        instances = {soc::kPrimary, soc::kSecondary, soc::kMultiport};
        return true;
    }
    auto instance = soc::InstanceByName(which);
    if (!instance) {
        return false;
    }
    instances = {*instance};
    return true;
}

// An unsigned number in the given base, all of the text, no larger than `max`.
bool ParseUnsigned(const std::string& text, int base, unsigned long long max,
                   unsigned long long& value) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    value = std::strtoull(text.c_str(), &end, base);
    return errno == 0 && end != text.c_str() && *end == 0 && value <= max;
}

bool ParseHex32(const std::string& text, std::uint32_t& value) {
    unsigned long long v = 0;
    if (!ParseUnsigned(text, 16, 0xFFFFFFFFull, v)) {
        return false;
    }
    value = static_cast<std::uint32_t>(v);
    return true;
}

bool ParseAcpi(const std::string& text, AcpiSetting& setting) {
    auto equals = text.find('=');
    if (equals == std::string::npos) {
        return false;
    }
    setting.name = text.substr(0, equals);
    std::string value = text.substr(equals + 1);
    if (setting.name != "GEN1" && setting.name != "MPRD" && setting.name != "MPDP" &&
        setting.name != "CCVL") {
        return false;
    }
    unsigned long long v = 0;
    if (value == "missing") {
        setting.kind = AcpiSetting::Kind::Missing;
        return true;
    }
    if (value.rfind("int:", 0) == 0) {
        setting.kind = AcpiSetting::Kind::Integer;
        if (!ParseUnsigned(value.substr(4), 0, 0xFFFFFFFFull, v)) {
            return false;
        }
    } else {
        setting.kind = AcpiSetting::Kind::Byte;
        if (!ParseUnsigned(value, 0, 0xFF, v)) {
            return false;
        }
    }
    setting.value = static_cast<std::uint32_t>(v);
    return true;
}

bool ParseOverride(const std::string& text, PhyOverride& o) {
    auto first = text.find(':');
    auto second = first == std::string::npos ? first : text.find(':', first + 1);
    if (second == std::string::npos) {
        return false;
    }
    return ParseHex32(text.substr(0, first), o.kind) &&
           ParseHex32(text.substr(first + 1, second - first - 1), o.address) &&
           ParseHex32(text.substr(second + 1), o.value);
}

bool ParseReadyAfter(const std::string& text, int& readyAfter) {
    if (text == "never") {
        readyAfter = -1;
        return true;
    }
    unsigned long long v = 0;
    if (!ParseUnsigned(text, 10, 1000000, v) || v == 0) {
        return false;
    }
    readyAfter = static_cast<int>(v);
    return true;
}

// Milliseconds as a decimal with up to six places ("15.625", "1", "0.5"), more than zero and
// at most a second, converted to nanoseconds without rounding.
bool ParseMilliseconds(const std::string& text, std::uint64_t& ns) {
    auto point = text.find('.');
    std::string whole = text.substr(0, point);
    std::string fraction = point == std::string::npos ? "" : text.substr(point + 1);
    if (fraction.size() > 6 || (point != std::string::npos && fraction.empty())) {
        return false;
    }
    unsigned long long ms = 0;
    unsigned long long part = 0;
    if (!ParseUnsigned(whole, 10, 1000, ms) ||
        (!fraction.empty() && !ParseUnsigned(fraction, 10, 999999, part))) {
        return false;
    }
    for (std::size_t digits = fraction.size(); digits < 6; ++digits) {
        part *= 10;
    }
    ns = ms * 1000000ull + part;
    return ns > 0 && ns <= 1000000000ull;
}

// K=HEX: PORTSC k (1..4) reads the value.
bool ParsePortValue(const std::string& text, PortValue& port) {
    auto equals = text.find('=');
    unsigned long long k = 0;
    if (equals == std::string::npos || !ParseUnsigned(text.substr(0, equals), 10, 4, k) || k == 0) {
        return false;
    }
    port.k = static_cast<int>(k);
    return ParseHex32(text.substr(equals + 1), port.value);
}

bool ParseResetTime(const std::string& text, std::optional<std::uint64_t>& ns) {
    if (text == "never") {
        ns = soc::PortModel::kNever;
        return true;
    }
    unsigned long long ms = 0;
    if (!ParseUnsigned(text, 10, 1000000, ms)) {
        return false;
    }
    ns = ms * 1'000'000ull;
    return true;
}

bool ParseService(const std::string& text, ServiceArrival& service) {
    if (text == "early") {
        service = ServiceArrival::Early;
    } else if (text == "late") {
        service = ServiceArrival::Late;
    } else if (text == "absent") {
        service = ServiceArrival::Absent;
    } else {
        return false;
    }
    return true;
}

} // namespace

const std::vector<std::string>& WppFlagNames() {
#define WPP_DEFINE_CONTROL_GUID(Name, Guid, Bits) Bits
#define WPP_DEFINE_BIT(Name) #Name,
    static const std::vector<std::string> names = {WPP_CONTROL_GUIDS};
#undef WPP_DEFINE_BIT
#undef WPP_DEFINE_CONTROL_GUID
    return names;
}

bool ParseWppSession(const std::string& text, std::optional<kmdf::WppSession>& session) {
    if (text == "off") {
        session.reset();
        return true;
    }
    auto colon = text.find(':');
    unsigned long long level = 0;
    if (!ParseUnsigned(text.substr(0, colon), 10, 0xFF, level)) {
        return false;
    }
    kmdf::WppSession parsed;
    parsed.level = static_cast<UCHAR>(level);
    if (colon != std::string::npos) {
        parsed.flags = 0;
        const auto& names = WppFlagNames();
        std::string list = text.substr(colon + 1) + ",";
        for (std::size_t at = 0, comma; (comma = list.find(',', at)) != std::string::npos;
             at = comma + 1) {
            auto known = std::find(names.begin(), names.end(), list.substr(at, comma - at));
            if (known == names.end()) {
                return false;
            }
            parsed.flags |= 1u << (known - names.begin());
        }
    }
    session = parsed;
    return true;
}

void Usage(std::ostream& out) {
    out << "usage: pelvane-sim [--scenario NAME] [--instance primary|secondary|multiport|all]\n"
           "                   [--json] [--svg FILE] [--counter-frequency HZ]\n"
           "                   [--ss-phy-ready-after N|never] [--acpi NAME=VALUE]...\n"
           "                   [--override KIND:ADDRESS:VALUE]... [--soc-version HEX]\n"
           "                   [--no-sosi] [--no-gpio] [--controller-length HEX]\n"
           "                   [--service early|late|absent]\n"
           "                   [--provider on|off] [--wpp off|LEVEL[:FLAG,...]] [--cycles N]\n"
           "                   [--timer-resolution MS]\n"
           "                   [--portsc K=HEX]... [--port-reset-ms N|never]\n"
           "                   [--hs-suspend-stuck primary|secondary]... [--restarts N]\n"
           "                   [--output FILE]\n"
           "                   [--paging-device WHICH] [--hibernation-device WHICH]\n"
           "                   [--estimates] [--help]\n"
           "       pelvane-sim --walk ... | --replay FILE  (pelvane-sim --walk --help)\n"
           "\n"
           "Loads the Pelvane driver into the KMDF stand-in on the simulated SoC, runs a\n"
           "scenario and prints every register access, delay, request, diagnostic and event\n"
           "with its virtual time as it is made, then a summary per instance and the duration\n"
           "of each transition.\n"
           "\n"
           "  --scenario NAME          scenario to run (default start)\n"
           "  --instance WHICH         controller instance, or all of them at once (default all)\n"
           "  --json                   print the trace as JSON lines, one object per record\n"
           "                           (keys t_ns, op, block, instance, offset, value, ...)\n"
           "  --output FILE            write the trace and summary to FILE instead of standard\n"
           "                           output\n"
           "  --estimates              also give each transition's duration with sleeps ending\n"
           "                           on a system clock tick of 15.625, 1 and 0.5 ms: the\n"
           "                           scenario runs again without output once per timer model\n"
           "                           other than this run's, which adds about a third of a\n"
           "                           text run's time per model (text output only)\n"
           "  --svg FILE               also write the timeline picture to FILE (of a cycle run\n"
           "                           longer than 3 rounds, the last 3)\n"
           "  --counter-frequency HZ   performance counter frequency (default 19200000)\n"
           "  --ss-phy-ready-after N   the status read at which each SS PHY reports ready,\n"
           "                           or never (default 1)\n"
           "  --acpi NAME=VALUE        switch GEN1, MPRD, MPDP or CCVL: a byte (0x01), int:N for\n"
           "                           an integer instead of a buffer, or missing (default all\n"
           "                           one-byte buffers holding 0); repeatable\n"
           "  --override K:A:V         a PHYC package {kind, address, value} in hexadecimal;\n"
           "                           repeatable, in firmware order (default none)\n"
           "  --soc-version HEX        version in the SoC information record (default 20001)\n"
           "  --no-sosi                the DSDT without the SOSI entry\n"
           "  --no-gpio                resource lists without the GPIO connection\n"
           "  --controller-length HEX  length of each controller's memory resource (default\n"
           "                           100000, the whole block)\n"
           "  --service WHEN           wake-line service published early (before the driver\n"
           "                           loads), late (after the start) or absent (default early)\n"
           "  --provider on|off        a trace consumer enables the driver's event provider\n"
           "                           (default on)\n"
           "  --wpp off|LEVEL[:FLAGS]  the WPP trace session: none, or the level (2 error,\n"
           "                           3 warning, 4 information, 5 verbose) and the flags it\n"
           "                           enables, comma-separated, such as TRACE_PHY,TRACE_POWER\n"
           "                           (default 5 with every flag); a trace call's arguments\n"
           "                           are evaluated only when its level and flag are enabled\n"
           "  --cycles N               rounds of the cycle scenario (default 1)\n"
           "  --timer-resolution MS    sleeps end on the first system clock tick at or after\n"
           "                           their due time, ticks MS milliseconds apart (15.625,\n"
           "                           1, 0.5); busy-waits stay exact (default: exact sleeps)\n"
           "  --portsc K=HEX           PORTSC K (1..4) of each instance run reads HEX (connect,\n"
           "                           enable, link state, speed, ...), with the port's reset\n"
           "                           behaviour on top; repeatable (default: powered, nothing\n"
           "                           attached, RxDetect)\n"
           "  --port-reset-ms N        a port reset the driver starts completes after N virtual\n"
           "                           ms, or never (default 10)\n"
           "  --hs-suspend-stuck WHICH the HS PHY of primary or secondary never confirms its\n"
           "                           suspend: a D0 exit to D3 fails and the framework tears\n"
           "                           that instance down; repeatable (default none)\n"
           "  --restarts N             the framework has a device enumerated again after a\n"
           "                           failed D0 exit or entry, up to N times (default 0)\n"
           "  --paging-device WHICH    a disk behind primary, secondary or multiport carries\n"
           "                           the paging file: that stack is not power pageable\n"
           "  --hibernation-device WHICH  a disk behind that instance carries the hibernation\n"
           "                           file: at S4 the image is written through it after the\n"
           "                           D0 exits, and the run fails when it is not (with\n"
           "                           hibernate, fast-startup, idle-hibernate and\n"
           "                           idle-hibernate-armed)\n"
           "  --help                   print this text\n"
           "\n"
           "Scenarios:\n";
    for (auto& s : Scenarios()) {
        out << "  " << s.name << "  " << s.description << "\n";
    }
    out << "\nExit status: 0 success, 1 the scenario failed or left the books unbalanced,\n"
           "2 bad command line.\n";
}

std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args,
                                            std::ostream& errors) {
    CommandLine line;
    auto bad = [&](const std::string& what, const std::string& value) {
        errors << "pelvane-sim: bad " << what << " \"" << value << "\"\n";
        return std::nullopt;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        bool hasValue = i + 1 < args.size();
        const std::string value = hasValue ? args[i + 1] : std::string();
        if (arg == "--help" || arg == "-h") {
            line.help = true;
            continue;
        } else if (arg == "--json") {
            line.json = true;
            continue;
        } else if (arg == "--estimates") {
            line.estimates = true;
            continue;
        } else if (arg == "--no-sosi") {
            line.world.sosi = false;
            continue;
        } else if (arg == "--no-gpio") {
            line.world.gpio = false;
            continue;
        }
        if (!hasValue) {
            errors << "pelvane-sim: unknown or incomplete option \"" << arg << "\"\n";
            Usage(errors);
            return std::nullopt;
        }
        ++i;
        if (arg == "--scenario") {
            if (!KnownScenario(value)) {
                errors << "pelvane-sim: unknown scenario \"" << value << "\"\n";
                return std::nullopt;
            }
            line.scenario = value;
        } else if (arg == "--instance") {
            if (!ParseInstances(value, line.instances)) {
                errors << "pelvane-sim: unknown instance \"" << value << "\"\n";
                return std::nullopt;
            }
        } else if (arg == "--counter-frequency") {
            unsigned long long hz = 0;
            if (!ParseUnsigned(value, 10, 1000000000000ull, hz) || hz == 0) {
                return bad("counter frequency", value);
            }
            line.counterFrequency = static_cast<long long>(hz);
        } else if (arg == "--svg") {
            line.svg = value;
        } else if (arg == "--output") {
            line.output = value;
        } else if (arg == "--ss-phy-ready-after") {
            if (!ParseReadyAfter(value, line.world.ssPhyReadyAfter)) {
                return bad("--ss-phy-ready-after (a read number from 1, or never)", value);
            }
        } else if (arg == "--acpi") {
            AcpiSetting setting;
            if (!ParseAcpi(value, setting)) {
                return bad("--acpi (GEN1|MPRD|MPDP|CCVL=byte, int:N or missing)", value);
            }
            line.world.acpi.push_back(setting);
        } else if (arg == "--override") {
            PhyOverride o;
            if (!ParseOverride(value, o)) {
                return bad("--override (KIND:ADDRESS:VALUE in hexadecimal)", value);
            }
            line.world.overrides.push_back(o);
        } else if (arg == "--soc-version") {
            std::uint32_t version = 0;
            if (!ParseHex32(value, version)) {
                return bad("--soc-version (hexadecimal)", value);
            }
            line.world.socVersion = version;
        } else if (arg == "--controller-length") {
            std::uint32_t length = 0;
            if (!ParseHex32(value, length)) {
                return bad("--controller-length (hexadecimal)", value);
            }
            line.world.controllerLength = length;
        } else if (arg == "--provider") {
            if (value != "on" && value != "off") {
                return bad("--provider (on or off)", value);
            }
            line.world.provider = value == "on";
        } else if (arg == "--wpp") {
            if (!ParseWppSession(value, line.world.wpp)) {
                std::string flags;
                for (const auto& name : WppFlagNames()) {
                    flags += (flags.empty() ? "" : ",") + name;
                }
                return bad("--wpp (off, or a level from 0 to 255 and any of " + flags + ")", value);
            }
        } else if (arg == "--cycles") {
            unsigned long long cycles = 0;
            if (!ParseUnsigned(value, 10, 1000000, cycles) || cycles == 0) {
                return bad("cycle count", value);
            }
            line.world.cycles = static_cast<int>(cycles);
        } else if (arg == "--restarts") {
            unsigned long long restarts = 0;
            if (!ParseUnsigned(value, 10, 1000, restarts)) {
                return bad("restart count", value);
            }
            line.world.restarts = static_cast<int>(restarts);
        } else if (arg == "--timer-resolution") {
            if (!ParseMilliseconds(value, line.timerResolutionNs)) {
                return bad("--timer-resolution (milliseconds, such as 15.625, 1 or 0.5)", value);
            }
        } else if (arg == "--portsc") {
            PortValue port;
            if (!ParsePortValue(value, port)) {
                return bad("--portsc (K=HEX, K from 1 to 4)", value);
            }
            line.world.portsc.push_back(port);
        } else if (arg == "--port-reset-ms") {
            if (!ParseResetTime(value, line.world.portResetNs)) {
                return bad("--port-reset-ms (milliseconds, or never)", value);
            }
        } else if (arg == "--hs-suspend-stuck") {
            auto instance = soc::InstanceByName(value);
            if (!instance || *instance == soc::kMultiport) {
                return bad("--hs-suspend-stuck (primary or secondary)", value);
            }
            line.world.hsSuspendStuck.push_back(*instance);
        } else if (arg == "--paging-device" || arg == "--hibernation-device") {
            auto instance = soc::InstanceByName(value);
            if (!instance) {
                return bad(arg + " (primary, secondary or multiport)", value);
            }
            (arg == "--paging-device" ? line.world.pagingDevice : line.world.hibernationDevice) =
                *instance;
        } else if (arg == "--service") {
            if (!ParseService(value, line.world.service)) {
                return bad("--service (early, late or absent)", value);
            }
        } else {
            errors << "pelvane-sim: unknown option \"" << arg << "\"\n";
            Usage(errors);
            return std::nullopt;
        }
    }
    const bool s4 = line.scenario == "hibernate" || line.scenario == "fast-startup" ||
                    line.scenario == "idle-hibernate" || line.scenario == "idle-hibernate-armed";
    if (!s4 && line.world.hibernationDevice) {
        errors << "pelvane-sim: --hibernation-device goes with hibernate, fast-startup,\n"
                  "idle-hibernate and idle-hibernate-armed\n";
        return std::nullopt;
    }
    if (line.scenario == "late-service") {
        // The service is not there when the controllers start; the scenario brings it.
        line.world.service = ServiceArrival::Absent;
    }
    return line;
}

} // namespace pelvane
