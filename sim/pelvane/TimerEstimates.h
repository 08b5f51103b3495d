#pragma once
// What each transition would cost on Windows: the scenario measured again with sleeps ending
// on the system clock tick at the usual timer resolutions, next to the exact durations.
#include "Scenario.h"
#include "TransitionLog.h"
#include "World.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace pelvane {

struct TimerModel {
    const char* label;          // "exact", "15.625 ms", ...
    std::uint64_t resolutionNs; // 0: sleeps last exactly their interval
};

// Exact, then the default tick of 15.625 ms and the raised resolutions of 1 and 0.5 ms.
const std::vector<TimerModel>& WindowsTimerModels();

struct ScenarioSetup {
    std::string scenario;
    std::vector<int> instances;
    WorldOptions world;
    long long counterFrequency = 0; // 0: the SoC's default
};

// Runs the scenario in a world of its own whose sleeps follow `resolutionNs` and returns the
// instances' transition times; failures of the run are not reported.
TransitionTimes MeasureTransitions(const ScenarioSetup& setup, std::uint64_t resolutionNs);
// The same, each transition reported to `observer` as it ends.
void MeasureTransitions(const ScenarioSetup& setup, std::uint64_t resolutionNs,
                        ScenarioObserver& observer);

// One line per instance and transition: the time with each model, in milliseconds.
// `perModel` holds the measurements in the order of `models`; the first one's transitions
// are the rows, a transition that another run did not reach shows "-".
void PrintTimerEstimates(const std::vector<TimerModel>& models,
                         const std::vector<const TransitionLog*>& perModel, std::ostream& out);

} // namespace pelvane
