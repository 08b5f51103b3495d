// pelvane-sim scenarios.
#include "Scenario.h"

#include "Platform.h"
#include "frame/Driver.h"

#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace pelvane {

namespace {

std::string Status(NTSTATUS status) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(status));
    return text;
}

// The driver is loaded, a filter device is added for each instance, and the driver is
// unloaded again, which removes the devices first.
bool LoadAddUnload(const std::vector<int>& instances, World& world, kmdf::Machine& machine,
                   std::ostream& errors) {
    NTSTATUS status = machine.LoadDriver(DriverEntry);
    if (!NT_SUCCESS(status)) {
        errors << "pelvane-sim: driver entry failed, status " << Status(status) << "\n";
        return false;
    }
    bool ok = true;
    for (int instance : instances) {
        kmdf::DeviceId id;
        status = machine.AddDevice(world.Device(instance), &id);
        if (!NT_SUCCESS(status)) {
            errors << "pelvane-sim: device add for " << soc::InstanceName(instance)
                   << " failed, status " << Status(status) << "\n";
            ok = false;
        }
    }
    machine.UnloadDriver();
    return ok;
}

// Runs `step` for every instance: on the calling thread for one, on a thread each for more.
void ForEachInstance(const std::vector<int>& instances, const std::function<void(int)>& step) {
    if (instances.size() == 1) {
        step(instances[0]);
        return;
    }
    std::vector<std::thread> threads;
    for (int instance : instances) {
        threads.emplace_back(step, instance);
    }
    for (auto& t : threads) {
        t.join();
    }
}

// The driver is loaded; each instance is added and started (prepare hardware, then D0
// entry), then stopped (D0 exit, release hardware) and removed; the driver is unloaded.
bool Start(const std::vector<int>& instances, World& world, kmdf::Machine& machine,
           std::ostream& errors) {
    NTSTATUS status = machine.LoadDriver(DriverEntry);
    if (!NT_SUCCESS(status)) {
        errors << "pelvane-sim: driver entry failed, status " << Status(status) << "\n";
        return false;
    }
    std::mutex lock;
    bool ok = true;
    auto fail = [&](int instance, const char* step, NTSTATUS failed) {
        std::lock_guard<std::mutex> hold(lock);
        errors << "pelvane-sim: " << step << " for " << soc::InstanceName(instance)
               << " failed, status " << Status(failed) << "\n";
        ok = false;
    };
    std::map<int, kmdf::DeviceId> ids;
    std::map<int, bool> added;
    std::map<int, bool> started;
    for (int instance : instances) {
        ids[instance] = 0;
        added[instance] = false;
        started[instance] = false;
    }
    ForEachInstance(instances, [&](int instance) {
        kmdf::DeviceId id = 0;
        NTSTATUS s = machine.AddDevice(world.Device(instance), &id);
        if (!NT_SUCCESS(s)) {
            fail(instance, "device add", s);
            return;
        }
        s = machine.StartDevice(id);
        std::lock_guard<std::mutex> hold(lock);
        ids[instance] = id;
        added[instance] = true;
        started[instance] = NT_SUCCESS(s);
        if (!NT_SUCCESS(s)) {
            errors << "pelvane-sim: start for " << soc::InstanceName(instance) << " failed, status "
                   << Status(s) << "\n";
            ok = false;
        }
    });
    world.AfterStart();
    ForEachInstance(instances, [&](int instance) {
        kmdf::DeviceId id;
        bool running;
        bool present;
        {
            std::lock_guard<std::mutex> hold(lock);
            id = ids[instance];
            present = added[instance];
            running = started[instance];
        }
        if (!present) {
            return;
        }
        if (running) {
            NTSTATUS s = machine.StopDevice(id);
            if (!NT_SUCCESS(s)) {
                fail(instance, "stop", s);
            }
        }
        machine.RemoveDevice(id);
    });
    machine.UnloadDriver();
    return ok;
}

} // namespace

const std::vector<ScenarioInfo>& Scenarios() {
    static const std::vector<ScenarioInfo> scenarios = {
        {"start", "load the driver, add and start each instance (prepare hardware, D0 entry),\n"
                  "           stop and remove it, unload; instances run at once on threads"},
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
    World world(soc, machine);
    return RunScenario(name, instances, world, machine, errors);
}

bool RunScenario(const std::string& name, const std::vector<int>& instances, World& world,
                 kmdf::Machine& machine, std::ostream& errors) {
    if (!KnownScenario(name)) {
        errors << "pelvane-sim: unknown scenario \"" << name << "\"\n";
        return false;
    }
    world.Install();
    bool ok = false;
    if (name == "load-add-unload") {
        ok = LoadAddUnload(instances, world, machine, errors);
    } else if (name == "start") {
        ok = Start(instances, world, machine, errors);
    }
    world.Withdraw();
    kmdf::Books books = machine.GetBooks();
    if (!books.AllZero()) {
        errors << "pelvane-sim: books not balanced after the scenario: " << books.Describe()
               << "\n";
        ok = false;
    }
    return ok;
}

} // namespace pelvane
