// Transition times measured under the Windows timer models.
#include "TimerEstimates.h"

#include <kmdf/Machine.h>
#include <soc/Soc.h>

#include <cstdio>
#include <sstream>

namespace pelvane {

namespace {

std::string Milliseconds(std::uint64_t ns) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(ns) / 1e6);
    return text;
}

const TransitionTime* Find(const TransitionTimes& times, const TransitionTime& like) {
    for (const TransitionTime& t : times) {
        if (t.instance == like.instance && t.order == like.order &&
            t.transition == like.transition) {
            return &t;
        }
    }
    return nullptr;
}

} // namespace

const std::vector<TimerModel>& WindowsTimerModels() {
    static const std::vector<TimerModel> models = {
        {"exact", 0},
        {"15.625 ms", 15625000},
        {"1 ms", 1000000},
        {"0.5 ms", 500000},
    };
    return models;
}

TransitionTimes MeasureTransitions(const ScenarioSetup& setup, std::uint64_t resolutionNs) {
    soc::Soc soc;
    if (setup.counterFrequency > 0) {
        soc.Clock().SetFrequency(setup.counterFrequency);
    }
    soc.Clock().SetTimerResolution(resolutionNs);
    TransitionTimes times;
    std::ostringstream ignored;
    {
        kmdf::Machine machine(soc);
        World world(soc, machine, setup.world);
        RunScenario(setup.scenario, setup.instances, world, machine, ignored, &times);
    }
    return times;
}

void PrintTimerEstimates(const std::vector<TimerModel>& models,
                         const std::vector<TransitionTimes>& perModel, std::ostream& out) {
    if (perModel.empty() || perModel[0].empty()) {
        out << "  no transitions\n";
        return;
    }
    char line[200];
    std::snprintf(line, sizeof line, "  %-10s %-28s", "instance", "transition");
    out << line;
    for (const TimerModel& model : models) {
        std::snprintf(line, sizeof line, " %11s", model.label);
        out << line;
    }
    out << "\n";
    for (const TransitionTime& t : perModel[0]) {
        std::snprintf(line, sizeof line, "  %-10s %-28s", soc::InstanceName(t.instance),
                      t.transition.c_str());
        out << line;
        for (const TransitionTimes& times : perModel) {
            const TransitionTime* same = Find(times, t);
            std::snprintf(line, sizeof line, " %11s", same ? Milliseconds(same->ns).c_str() : "-");
            out << line;
        }
        out << "\n";
    }
}

} // namespace pelvane
