#pragma once
// Named scenarios that pelvane-sim runs on the simulated SoC.
#include "World.h"

#include <kmdf/Machine.h>
#include <soc/Soc.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace pelvane {

struct ScenarioInfo {
    const char* name;
    const char* description;
};

const std::vector<ScenarioInfo>& Scenarios();
bool KnownScenario(const std::string& name);

// How long one transition of one instance took on the instance's own clock: "start" (device
// add, prepare hardware, D0 entry), each phase of the scenario by its name, "stop" at the end.
struct TransitionTime {
    int instance = -1;
    int order = 0; // the transition's place in the scenario
    std::string transition;
    std::uint64_t ns = 0;
};
using TransitionTimes = std::vector<TransitionTime>;

// What a run reports as it goes, so that a long run need not keep it: each round of the
// scenario's phases as it begins (from 0, on the calling thread, no instance running; only
// `cycle` has more than one) and each transition as it ends (one at a time, from the
// instance's thread).
class ScenarioObserver {
  public:
    virtual ~ScenarioObserver() = default;
    virtual void RoundBegins(int round) { (void)round; }
    virtual void TransitionEnded(const TransitionTime& t) = 0;
};

// What a run of pelvane-sim lets the machine keep of its callbacks, diagnostics and events:
// nothing reads them afterwards, and a soak must not grow with its length.
inline constexpr std::size_t kRunHistory = 64;

// Runs the scenario for the instances given in `world` (which it installs first), reporting
// failures on `errors`. Returns true when every step succeeded and the machine's books are
// balanced at the end. With more than one instance, `start` drives each on its own thread.
// With `times`, it receives each instance's transitions in scenario order.
bool RunScenario(const std::string& name, const std::vector<int>& instances, World& world,
                 kmdf::Machine& machine, std::ostream& errors, TransitionTimes* times = nullptr);
// The same, reporting to `observer` as the run goes.
bool RunScenario(const std::string& name, const std::vector<int>& instances, World& world,
                 kmdf::Machine& machine, std::ostream& errors, ScenarioObserver& observer);
// The same in a world with the default settings.
bool RunScenario(const std::string& name, const std::vector<int>& instances, soc::Soc& soc,
                 kmdf::Machine& machine, std::ostream& errors);

} // namespace pelvane
