// pelvane-sim's scenarios as a program's caller sees them: success only when every step
// succeeded and the books balance, and a message that names what failed.
#include "Harness.h"
#include "Scenario.h"

#include <sstream>

namespace {

class Scenario : public MachineTest {
  protected:
    bool Run(const std::string& name, std::vector<int> instances = {0, 1, 2}) {
        return pelvane::RunScenario(name, instances, soc, machine, errors);
    }
    std::ostringstream errors;
};

TEST_F(Scenario, LoadAddUnloadSucceedsForEveryInstanceAndTracesEachDeviceAdd) {
    EXPECT_TRUE(Run("load-add-unload"));
    EXPECT_EQ(errors.str(), "");
    int adds = 0;
    for (auto& r : soc.Records()) {
        adds +=
            r.op == soc::Op::Trace && r.function == "EvtDriverDeviceAdd" && r.message == "entry";
    }
    EXPECT_EQ(adds, 3);
}

TEST_F(Scenario, FailedDeviceAddFailsTheScenarioNamingTheInstance) {
    machine.FailNext("WdfDeviceCreate", STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_FALSE(Run("load-add-unload", {2}));
    EXPECT_NE(errors.str().find("device add for multiport failed, status 0xC000009A"),
              std::string::npos)
        << errors.str();
}

TEST_F(Scenario, FailedDriverEntryFailsTheScenario) {
    machine.FailNext("WdfDriverCreate", STATUS_UNSUCCESSFUL);
    EXPECT_FALSE(Run("load-add-unload"));
    EXPECT_NE(errors.str().find("driver entry failed, status 0xC0000001"), std::string::npos);
}

TEST_F(Scenario, UnknownScenarioIsRefused) {
    EXPECT_FALSE(pelvane::KnownScenario("hibernate-twice"));
    EXPECT_FALSE(Run("hibernate-twice"));
    EXPECT_NE(errors.str().find("unknown scenario"), std::string::npos);
}

} // namespace
