// pelvane-sim scenarios.
#include "Scenario.h"

#include "Platform.h"
#include "frame/Driver.h"

#include <cstdio>

namespace pelvane {

namespace {

std::string Status(NTSTATUS status) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(status));
    return text;
}

// The driver is loaded, a filter device is added for each instance, and the driver is
// unloaded again, which removes the devices first.
bool LoadAddUnload(const std::vector<int>& instances, kmdf::Machine& machine,
                   std::ostream& errors) {
    NTSTATUS status = machine.LoadDriver(DriverEntry);
    if (!NT_SUCCESS(status)) {
        errors << "pelvane-sim: driver entry failed, status " << Status(status) << "\n";
        return false;
    }
    bool ok = true;
    for (int instance : instances) {
        kmdf::DeviceId id;
        status = machine.AddDevice(ControllerDevice(instance), &id);
        if (!NT_SUCCESS(status)) {
            errors << "pelvane-sim: device add for " << soc::InstanceName(instance)
                   << " failed, status " << Status(status) << "\n";
            ok = false;
        }
    }
    machine.UnloadDriver();
    return ok;
}

} // namespace

const std::vector<ScenarioInfo>& Scenarios() {
    static const std::vector<ScenarioInfo> scenarios = {
        {"load-add-unload", "load the driver, add a filter device per instance, unload"},
    };
    return scenarios;
}

bool KnownScenario(const std::string& name) {
    for (auto& s : Scenarios()) {
        if (name == s.name) {
            return true;
        }
    }
    return false;
}

bool RunScenario(const std::string& name, const std::vector<int>& instances, soc::Soc& soc,
                 kmdf::Machine& machine, std::ostream& errors) {
    (void)soc;
    bool ok = false;
    if (name == "load-add-unload") {
        ok = LoadAddUnload(instances, machine, errors);
    } else {
        errors << "pelvane-sim: unknown scenario \"" << name << "\"\n";
        return false;
    }
    kmdf::Books books = machine.GetBooks();
    if (!books.AllZero()) {
        errors << "pelvane-sim: books not balanced after the scenario: " << books.Describe()
               << "\n";
        ok = false;
    }
    return ok;
}

} // namespace pelvane
