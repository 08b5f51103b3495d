#pragma once
// Named scenarios that pelvane-sim runs on the simulated SoC.
#include "World.h"

#include <kmdf/Machine.h>
#include <soc/Soc.h>

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

// Runs the scenario for the instances given in `world` (which it installs first), reporting
// failures on `errors`. Returns true when every step succeeded and the machine's books are
// balanced at the end. With more than one instance, `start` drives each on its own thread.
bool RunScenario(const std::string& name, const std::vector<int>& instances, World& world,
                 kmdf::Machine& machine, std::ostream& errors);
// The same in a world with the default settings.
bool RunScenario(const std::string& name, const std::vector<int>& instances, soc::Soc& soc,
                 kmdf::Machine& machine, std::ostream& errors);

} // namespace pelvane
