// pelvane-sim: loads Pelvane into the KMDF stand-in on the simulated SoC, runs a named
// scenario for one or more controller instances and prints the hardware trace.
#include "CommandLine.h"
#include "Manifest.h"
#include "Report.h"
#include "Scenario.h"
#include "Timeline.h"

#include <fstream>
#include <iostream>
#include <string>

namespace {

pelvane::EventNames LoadEventNames() {
    std::string error;
    auto manifest = timeline::LoadManifest(PELVANE_MANIFEST_PATH, &error);
    if (!manifest) {
        std::cerr << "pelvane-sim: events shown by id only: " << error << "\n";
        return {};
    }
    return manifest->EventNames();
}

bool WriteSvg(const std::string& path, const std::vector<soc::TraceRecord>& records,
              const pelvane::EventNames& names, const std::string& title) {
    std::ofstream file(path);
    timeline::TimelineOptions options;
    options.title = title;
    options.eventNames = names;
    timeline::WriteTimelineSvg(records, file, options);
    file.close();
    if (!file) {
        std::cerr << "pelvane-sim: cannot write \"" << path << "\"\n";
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    auto line =
        pelvane::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), std::cerr);
    if (!line) {
        return 2;
    }
    if (line->help) {
        pelvane::Usage(std::cout);
        return 0;
    }

    soc::Soc soc;
    if (line->counterFrequency > 0) {
        soc.Clock().SetFrequency(line->counterFrequency);
    }
    bool ok;
    kmdf::Books books;
    {
        kmdf::Machine machine(soc);
        pelvane::World world(soc, machine, line->world);
        ok = pelvane::RunScenario(line->scenario, line->instances, world, machine, std::cerr);
        books = machine.GetBooks();
    }
    std::vector<soc::TraceRecord> records = soc.Records();
    pelvane::EventNames names = LoadEventNames();
    std::string title = "pelvane-sim " + line->scenario;
    for (int instance : line->instances) {
        title += std::string(" ") + soc::InstanceName(instance);
    }
    if (!line->svg.empty() && !WriteSvg(line->svg, records, names, title)) {
        ok = false;
    }
    if (line->json) {
        soc.PrintJson(std::cout);
    } else {
        pelvane::PrintReadableTrace(records, names, std::cout);
        std::cout << "\nsummary\n";
        pelvane::PrintSummary(records, names, line->instances, books, std::cout);
        std::cout << "scenario " << line->scenario << " on";
        for (int instance : line->instances) {
            std::cout << " " << soc::InstanceName(instance);
        }
        std::cout << ": " << (ok ? "passed, books balanced" : "FAILED") << "\n";
    }
    return ok ? 0 : 1;
}
