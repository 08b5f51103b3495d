#pragma once
// pelvane-sim's command line run in this process as the program runs it: read, then the
// scenario in a world of its own on a fresh SoC and machine.
#include "CommandLine.h"
#include "Scenario.h"

#include <functional>
#include <sstream>
#include <string>
#include <vector>

struct SimRun {
    bool parsed = false;
    bool ok = false;
    std::string errors; // the command line's messages, or the scenario's
};

// `inspect` sees the SoC and the machine after the scenario, before the machine goes.
inline SimRun RunSim(const std::vector<std::string>& args,
                     const std::function<void(soc::Soc&, kmdf::Machine&)>& inspect = {}) {
    SimRun run;
    std::ostringstream messages;
    auto line = pelvane::ParseCommandLine(args, messages);
    run.errors = messages.str();
    if (!line) {
        return run;
    }
    run.parsed = true;
    soc::Soc soc;
    kmdf::Machine machine(soc);
    pelvane::World world(soc, machine, line->world);
    std::ostringstream out;
    run.ok = pelvane::RunScenario(line->scenario, line->instances, world, machine, out);
    run.errors = out.str();
    if (inspect) {
        inspect(soc, machine);
    }
    return run;
}
