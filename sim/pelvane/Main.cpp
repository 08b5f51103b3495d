// pelvane-sim: loads Pelvane into the KMDF stand-in on the simulated SoC, runs a named
// scenario for one or more controller instances and prints the hardware trace.
#include "CommandLine.h"
#include "Manifest.h"
#include "Report.h"
#include "Scenario.h"
#include "Timeline.h"
#include "TimerEstimates.h"

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

// The transition times with each Windows timer model: this run's for its own model, a run of
// the same scenario in a world of its own for each other one.
void PrintEstimates(const pelvane::CommandLine& line, const pelvane::TransitionTimes& measured,
                    std::ostream& out) {
    const auto& models = pelvane::WindowsTimerModels();
    pelvane::ScenarioSetup setup{line.scenario, line.instances, line.world, line.counterFrequency};
    std::vector<pelvane::TransitionTimes> perModel;
    for (const pelvane::TimerModel& model : models) {
        perModel.push_back(model.resolutionNs == line.timerResolutionNs
                               ? measured
                               : pelvane::MeasureTransitions(setup, model.resolutionNs));
    }
    out << "\ntransition times in ms, sleeps exact and ending on a system clock tick of\n";
    pelvane::PrintTimerEstimates(models, perModel, out);
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
    soc.Clock().SetTimerResolution(line->timerResolutionNs);
    pelvane::TransitionTimes times;
    bool ok;
    kmdf::Books books;
    {
        kmdf::Machine machine(soc);
        pelvane::World world(soc, machine, line->world);
        ok = pelvane::RunScenario(line->scenario, line->instances, world, machine, std::cerr,
                                  &times);
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
        PrintEstimates(*line, times, std::cout);
        std::cout << "scenario " << line->scenario << " on";
        for (int instance : line->instances) {
            std::cout << " " << soc::InstanceName(instance);
        }
        std::cout << ": " << (ok ? "passed, books balanced" : "FAILED") << "\n";
    }
    return ok ? 0 : 1;
}
