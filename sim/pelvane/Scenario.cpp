// pelvane-sim scenarios.
#include "Scenario.h"

#include "Platform.h"
#include "frame/Driver.h"

#include <algorithm>
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

// One phase of a scenario: a power transition of every instance that runs (on a thread each),
// or something that happens in the world meanwhile (on the calling thread).
struct Phase {
    const char* name;
    std::function<NTSTATUS(kmdf::Machine&, kmdf::DeviceId)> transition;
    std::function<void()> world;
};

Phase Transition(const char* name, std::function<NTSTATUS(kmdf::Machine&, kmdf::DeviceId)> step) {
    return Phase{name, std::move(step), nullptr};
}

// Sleep and wake: D0 exit to D3 with a sleep action, then D0 entry.
void SleepWake(std::vector<Phase>& phases) {
    phases.push_back(Transition("D0 exit to D3 (sleep)", [](kmdf::Machine& m, kmdf::DeviceId id) {
        return m.ExitD0(id, WdfPowerDeviceD3, PowerActionSleep);
    }));
    phases.push_back(Transition("D0 entry from sleep", [](kmdf::Machine& m, kmdf::DeviceId id) {
        return m.EnterD0(id, PowerActionSleep);
    }));
}

// Hibernation: D0 exit to D3 with the hibernate action, then D0 entry resuming from it.
void Hibernate(std::vector<Phase>& phases) {
    phases.push_back(
        Transition("D0 exit to D3 (hibernate)", [](kmdf::Machine& m, kmdf::DeviceId id) {
            return m.ExitD0(id, WdfPowerDeviceD3, PowerActionHibernate);
        }));
    phases.push_back(
        Transition("D0 entry from hibernation", [](kmdf::Machine& m, kmdf::DeviceId id) {
            return m.EnterD0(id, PowerActionHibernate);
        }));
}

// Stop (D0 exit to D3Final, release hardware) and start again.
void StopRestart(std::vector<Phase>& phases) {
    phases.push_back(
        Transition("stop", [](kmdf::Machine& m, kmdf::DeviceId id) { return m.StopDevice(id); }));
    phases.push_back(Transition(
        "restart", [](kmdf::Machine& m, kmdf::DeviceId id) { return m.StartDevice(id); }));
}

std::vector<Phase> PhasesOf(const std::string& name, World& world) {
    std::vector<Phase> phases;
    if (name == "sleep-wake") {
        SleepWake(phases);
    } else if (name == "hibernate") {
        Hibernate(phases);
    } else if (name == "stop-restart") {
        StopRestart(phases);
    } else if (name == "late-service") {
        SleepWake(phases);
        phases.push_back(
            Phase{"wake-line service arrives", nullptr, [&world] { world.Publish(); }});
        SleepWake(phases);
    } else if (name == "cycle") {
        // One round; Run repeats it (RoundsOf).
        SleepWake(phases);
        Hibernate(phases);
        StopRestart(phases);
    }
    return phases;
}

// How many times Run goes through the phases: a soak's rounds are not listed one by one.
int RoundsOf(const std::string& name, const World& world) {
    return name == "cycle" ? world.Options().cycles : 1;
}

// The driver is loaded; each instance is added and started (prepare hardware, then D0
// entry), taken through the scenario's phases, then stopped (D0 exit to D3Final, release
// hardware) and removed; the driver is unloaded. Instances run at once, a thread each.
bool Run(const std::vector<int>& instances, const std::vector<Phase>& phases, int rounds,
         World& world, kmdf::Machine& machine, std::ostream& errors, ScenarioObserver& observer) {
    NTSTATUS status = machine.LoadDriver(DriverEntry);
    if (!NT_SUCCESS(status)) {
        errors << "pelvane-sim: driver entry failed, status " << Status(status) << "\n";
        return false;
    }
    std::mutex lock;
    bool ok = true;
    std::map<int, kmdf::DeviceId> ids;
    std::map<int, bool> added;
    std::map<int, bool> running;
    for (int instance : instances) {
        ids[instance] = 0;
        added[instance] = false;
        running[instance] = false;
    }
    soc::VirtualClock& clock = world.Soc().Clock();
    // Books the time the instance's clock moved since `before`.
    auto book = [&](int instance, int order, const char* transition, std::uint64_t before) {
        std::uint64_t ns = clock.NowNs(instance) - before;
        std::lock_guard<std::mutex> hold(lock);
        observer.TransitionEnded({instance, order, transition, ns});
    };
    auto fail = [&](int instance, const char* step, NTSTATUS failed) {
        std::lock_guard<std::mutex> hold(lock);
        errors << "pelvane-sim: " << step << " for " << soc::InstanceName(instance)
               << " failed, status " << Status(failed) << "\n";
        ok = false;
        running[instance] = false;
    };
    ForEachInstance(instances, [&](int instance) {
        kmdf::DeviceId id = 0;
        std::uint64_t before = clock.NowNs(instance);
        NTSTATUS s = machine.AddDevice(world.Device(instance), &id);
        if (!NT_SUCCESS(s)) {
            fail(instance, "device add", s);
            return;
        }
        {
            std::lock_guard<std::mutex> hold(lock);
            ids[instance] = id;
            added[instance] = true;
        }
        s = machine.StartDevice(id);
        book(instance, 0, "start", before);
        if (!NT_SUCCESS(s)) {
            fail(instance, "start", s);
            return;
        }
        std::lock_guard<std::mutex> hold(lock);
        running[instance] = true;
    });
    world.AfterStart();
    // A phase: something that happens in the world, or a transition of each running instance.
    auto runPhase = [&](const Phase& phase, int order) {
        if (phase.world) {
            phase.world();
            return;
        }
        ForEachInstance(instances, [&](int instance) {
            kmdf::DeviceId id;
            {
                std::lock_guard<std::mutex> hold(lock);
                if (!running[instance]) {
                    return;
                }
                id = ids[instance];
            }
            std::uint64_t before = clock.NowNs(instance);
            NTSTATUS s = phase.transition(machine, id);
            book(instance, order, phase.name, before);
            if (!NT_SUCCESS(s)) {
                fail(instance, phase.name, s);
            }
        });
    };
    int order = 0;
    for (int round = 0; round < rounds; ++round) {
        for (const Phase& phase : phases) {
            observer.PhaseBegins(++order, phase.name);
            runPhase(phase, order);
        }
    }
    ForEachInstance(instances, [&](int instance) {
        kmdf::DeviceId id;
        bool present;
        {
            std::lock_guard<std::mutex> hold(lock);
            id = ids[instance];
            present = added[instance];
        }
        if (!present) {
            return;
        }
        if (machine.DeviceStarted(id)) {
            std::uint64_t before = clock.NowNs(instance);
            NTSTATUS s = machine.StopDevice(id);
            book(instance, order + 1, "stop", before);
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
        {"sleep-wake", "start, D0 exit to D3 with a sleep action, D0 entry, stop"},
        {"d3final", "start, then D0 exit to D3Final and release hardware (a removal)"},
        {"hibernate", "start, D0 exit to D3 with the hibernate action, D0 entry resuming\n"
                      "           from hibernation, stop"},
        {"stop-restart", "start, stop (D3Final, release hardware), start again, stop"},
        {"late-service", "start without the wake-line service, sleep and wake, the service\n"
                         "           arrives, sleep and wake again, stop"},
        {"cycle", "start, then --cycles rounds of sleep and wake, hibernate and resume,\n"
                  "           stop and restart; stop"},
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
                 kmdf::Machine& machine, std::ostream& errors, ScenarioObserver& observer) {
    if (!KnownScenario(name)) {
        errors << "pelvane-sim: unknown scenario \"" << name << "\"\n";
        return false;
    }
    world.Install();
    bool ok = false;
    if (name == "load-add-unload") {
        ok = LoadAddUnload(instances, world, machine, errors);
    } else {
        ok = Run(instances, PhasesOf(name, world), RoundsOf(name, world), world, machine, errors,
                 observer);
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

bool RunScenario(const std::string& name, const std::vector<int>& instances, World& world,
                 kmdf::Machine& machine, std::ostream& errors, TransitionTimes* times) {
    struct Collect : ScenarioObserver {
        TransitionTimes measured;
        void TransitionEnded(const TransitionTime& t) override { measured.push_back(t); }
    } collect;
    bool ok = RunScenario(name, instances, world, machine, errors, collect);
    std::stable_sort(collect.measured.begin(), collect.measured.end(),
                     [](const TransitionTime& a, const TransitionTime& b) {
                         return a.instance != b.instance ? a.instance < b.instance
                                                         : a.order < b.order;
                     });
    if (times) {
        *times = std::move(collect.measured);
    }
    return ok;
}

} // namespace pelvane
