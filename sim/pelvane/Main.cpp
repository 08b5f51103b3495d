// pelvane-sim: loads Pelvane into the KMDF stand-in on the simulated SoC, runs a named
// scenario for one or more controller instances and prints the hardware trace.
#include "Scenario.h"

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

namespace {

void Usage(std::ostream& out) {
    out << "usage: pelvane-sim [--scenario NAME] [--instance primary|secondary|multiport|all]\n"
           "                   [--json] [--counter-frequency HZ] [--help]\n"
           "\n"
           "Loads the Pelvane driver into the KMDF stand-in on the simulated SoC, runs a\n"
           "scenario and prints every register access, delay, diagnostic and event with its\n"
           "virtual time.\n"
           "\n"
           "  --scenario NAME          scenario to run (default load-add-unload)\n"
           "  --instance WHICH         controller instance, or all of them (default all)\n"
           "  --json                   print the trace as JSON lines, one object per record\n"
           "                           (keys t_ns, op, block, instance, offset, value, ...)\n"
           "  --counter-frequency HZ   performance counter frequency (default 19200000)\n"
           "  --help                   print this text\n"
           "\n"
           "Scenarios:\n";
    for (auto& s : pelvane::Scenarios()) {
        out << "  " << s.name << "  " << s.description << "\n";
    }
    out << "\nExit status: 0 success, 1 the scenario failed or left the books unbalanced,\n"
           "2 bad command line.\n";
}

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

} // namespace

int main(int argc, char** argv) {
    std::string scenario = "load-add-unload";
    std::vector<int> instances = {soc::kPrimary, soc::kSecondary, soc::kMultiport};
    bool json = false;
    long long frequency = 0;

    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            Usage(std::cout);
            return 0;
        } else if (arg == "--json") {
            json = true;
        } else if (arg == "--scenario" && hasValue) {
            scenario = argv[++i];
        } else if (arg == "--instance" && hasValue) {
            if (!ParseInstances(argv[++i], instances)) {
                std::cerr << "pelvane-sim: unknown instance \"" << argv[i] << "\"\n";
                return 2;
            }
        } else if (arg == "--counter-frequency" && hasValue) {
            char* end = nullptr;
            frequency = std::strtoll(argv[++i], &end, 10);
            if (end == argv[i] || *end != 0 || frequency <= 0) {
                std::cerr << "pelvane-sim: bad counter frequency \"" << argv[i] << "\"\n";
                return 2;
            }
        } else {
            std::cerr << "pelvane-sim: unknown or incomplete option \"" << arg << "\"\n";
            Usage(std::cerr);
            return 2;
        }
    }
    if (!pelvane::KnownScenario(scenario)) {
        std::cerr << "pelvane-sim: unknown scenario \"" << scenario << "\"\n";
        return 2;
    }

    soc::Soc soc;
    if (frequency > 0) {
        soc.Clock().SetFrequency(frequency);
    }
    bool ok;
    {
        kmdf::Machine machine(soc);
        ok = pelvane::RunScenario(scenario, instances, soc, machine, std::cerr);
    }
    if (json) {
        soc.PrintJson(std::cout);
    } else {
        soc.PrintText(std::cout);
        std::cout << "scenario " << scenario << " on";
        for (int instance : instances) {
            std::cout << " " << soc::InstanceName(instance);
        }
        std::cout << ": " << (ok ? "passed, books balanced" : "FAILED") << "\n";
    }
    return ok ? 0 : 1;
}
