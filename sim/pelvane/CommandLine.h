#pragma once
// pelvane-sim's command line: the scenario, the instances, the output and the world's settings.
#include "World.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace pelvane {

struct CommandLine {
    std::string scenario = "start";
    std::vector<int> instances = {soc::kPrimary, soc::kSecondary, soc::kMultiport};
    bool json = false;
    bool help = false;
    long long counterFrequency = 0;      // 0: the SoC's default
    std::string svg;                     // the timeline picture's file, "" for none
    std::string output;                  // the trace's file, "" for standard output
    bool estimates = false;              // the scenario again under each other timer model
    std::uint64_t timerResolutionNs = 0; // sleeps end on a tick of this period; 0: exact
    WorldOptions world;
};

void Usage(std::ostream& out);

// The driver's WPP flags by name, in the order of its control GUID's WPP_DEFINE_BIT entries.
const std::vector<std::string>& WppFlagNames();

// --wpp: "off" (no session) or LEVEL[:FLAG,...] (every flag when none is named).
bool ParseWppSession(const std::string& text, std::optional<kmdf::WppSession>& session);

// The command line read, or nothing after a message on `errors` (exit status 2).
std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args,
                                            std::ostream& errors);

} // namespace pelvane
