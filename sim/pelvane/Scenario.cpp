// pelvane-sim scenarios.
#include "Scenario.h"

#include "Platform.h"
#include "frame/Driver.h"

#include <kmdf/PowerPolicyOwner.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
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

// What the host-controller driver above needs once the device is in D0: a core configured as
// a host (GCTL port capability direction, bits 13:12, = 1), as the bring-up leaves it.
bool HostControllerReady(soc::Soc& soc, int instance) {
    return (soc.Peek(soc::BlockKind::Controller, instance, 0xC110) & 0x3000) == 0x1000;
}

// One phase of a scenario: a power transition of every instance that runs (on a thread each),
// or something that happens in the world meanwhile (on the calling thread): a system power
// event, the power going off or on, the wake-line service arriving.
using Owner = kmdf::PowerPolicyOwner;
struct Phase {
    const char* name;
    std::function<NTSTATUS(Owner&)> transition;
    std::function<void()> world;
};

Phase Transition(const char* name, std::function<NTSTATUS(Owner&)> step) {
    return Phase{name, std::move(step), nullptr};
}

// The system power event, in the trace, then what the power policy owner of each instance
// makes of it.
void System(std::vector<Phase>& phases, World& world, const char* event, const char* name,
            std::function<NTSTATUS(Owner&)> step) {
    phases.push_back(Phase{event, nullptr, [&world, event] { world.System(event); }});
    phases.push_back(Transition(name, std::move(step)));
}

void PowerOff(std::vector<Phase>& phases, World& world) {
    phases.push_back(Phase{"power-off", nullptr, [&world] { world.PowerOff(); }});
}

// The power comes back and the system resumes.
void PowerOnResume(std::vector<Phase>& phases, World& world, const char* name) {
    phases.push_back(Phase{"power-on", nullptr, [&world] { world.PowerOn(); }});
    System(phases, world, "resume", name, [](Owner& o) { return o.Resume(); });
}

// Sleep and wake: D0 exit to D3 with a sleep action, then D0 entry.
void SleepWake(std::vector<Phase>& phases, World& world) {
    System(phases, world, "sleep", "D0 exit to D3 (sleep)", [](Owner& o) { return o.Sleep(); });
    System(phases, world, "resume", "D0 entry from sleep", [](Owner& o) { return o.Resume(); });
}

// Hibernation: D0 exit to D3 with the hibernate action, the power off and on again, then D0
// entry resuming from it.
void Hibernate(std::vector<Phase>& phases, World& world) {
    System(phases, world, "hibernate", "D0 exit to D3 (hibernate)",
           [](Owner& o) { return o.Hibernate(); });
    PowerOff(phases, world);
    PowerOnResume(phases, world, "D0 entry from hibernation");
}

// Runtime idle (not armed for wake): D0 exit to D3 with no system action.
void Idle(std::vector<Phase>& phases, World& world, bool armed) {
    System(phases, world, "idle", armed ? "D0 exit to D3 (idle, armed)" : "D0 exit to D3 (idle)",
           [armed](Owner& o) { return o.Idle(armed); });
}

// The controller is needed again.
void Active(std::vector<Phase>& phases, World& world) {
    System(phases, world, "active", "D0 entry, active", [](Owner& o) { return o.Active(); });
}

// Idle, then hibernation while idle, resume, and the controller needed again.
void IdleHibernate(std::vector<Phase>& phases, World& world, bool armed) {
    Idle(phases, world, armed);
    System(phases, world, "hibernate", armed ? "disarm, D0 exit to D3 (hibernate)" : "hibernate",
           [](Owner& o) { return o.Hibernate(); });
    PowerOff(phases, world);
    PowerOnResume(phases, world, "resume");
    Active(phases, world);
}

// Stop (D0 exit to D3Final, release hardware) and start again.
void StopRestart(std::vector<Phase>& phases) {
    phases.push_back(Transition("stop", [](Owner& o) { return o.Stop(); }));
    phases.push_back(Transition("restart", [](Owner& o) { return o.Start(); }));
}

// The controller is surprise-removed: from D0, D0 exit to D3Final and release hardware; from
// runtime idle, release hardware only.
void SurpriseRemoval(std::vector<Phase>& phases, World& world, const char* name) {
    phases.push_back(
        Phase{"surprise-removal", nullptr, [&world] { world.System("surprise-removal"); }});
    phases.push_back(Transition(name, [](Owner& o) { return o.SurpriseRemove(); }));
}

std::vector<Phase> PhasesOf(const std::string& name, World& world) {
    std::vector<Phase> phases;
    if (name == "sleep-wake") {
        SleepWake(phases, world);
    } else if (name == "hibernate") {
        Hibernate(phases, world);
    } else if (name == "stop-restart") {
        StopRestart(phases);
    } else if (name == "late-service") {
        SleepWake(phases, world);
        phases.push_back(
            Phase{"wake-line service arrives", nullptr, [&world] { world.Publish(); }});
        SleepWake(phases, world);
    } else if (name == "service-update") {
        phases.push_back(Phase{"wake-line service updated", nullptr, [&world] {
                                   world.Withdraw();
                                   world.Publish();
                               }});
        SleepWake(phases, world);
    } else if (name == "service-update-cancelled") {
        phases.push_back(Phase{"wake-line service update cancelled", nullptr,
                               [&world] { world.CancelledUpdate(); }});
        SleepWake(phases, world);
    } else if (name == "service-surprise-removal") {
        phases.push_back(Phase{"wake-line service surprise-removed", nullptr,
                               [&world] { world.SurpriseRemoveService(); }});
        SleepWake(phases, world);
        phases.push_back(
            Phase{"wake-line service arrives again", nullptr, [&world] { world.Publish(); }});
        SleepWake(phases, world);
    } else if (name == "surprise-removal") {
        SurpriseRemoval(phases, world, "D0 exit to D3Final, release hardware");
    } else if (name == "surprise-removal-idle") {
        Idle(phases, world, false);
        SurpriseRemoval(phases, world, "release hardware");
    } else if (name == "rebalance") {
        // The SoC's register blocks cannot move: the new lists are the ones the device had.
        phases.push_back(Phase{"rebalance", nullptr, [&world] { world.System("rebalance"); }});
        phases.push_back(Transition("D0 exit to D3Final, release, prepare, D0 entry",
                                    [](Owner& o) { return o.Rebalance(); }));
        SleepWake(phases, world);
    } else if (name == "idle-sleep-wake-enabled") {
        Idle(phases, world, false);
        System(phases, world, "sleep", "D0 entry, D0 exit to D3 (sleep, wake from Sx)",
               [](Owner& o) {
                   o.EnableWakeFromSx(true);
                   return o.Sleep();
               });
        System(phases, world, "resume", "D0 entry from sleep", [](Owner& o) { return o.Resume(); });
    } else if (name == "idle" || name == "d0-exit-fails") {
        Idle(phases, world, false);
        Active(phases, world);
    } else if (name == "idle-sleep") {
        Idle(phases, world, false);
        System(phases, world, "sleep", "sleep", [](Owner& o) { return o.Sleep(); });
        System(phases, world, "resume", "resume", [](Owner& o) { return o.Resume(); });
        Active(phases, world);
    } else if (name == "idle-hibernate" || name == "idle-hibernate-armed") {
        IdleHibernate(phases, world, name == "idle-hibernate-armed");
    } else if (name == "fast-startup") {
        System(phases, world, "fast-startup", "D0 exit to D3 (fast startup)",
               [](Owner& o) { return o.FastStartup(); });
        PowerOff(phases, world);
        PowerOnResume(phases, world, "D0 entry at the next boot");
    } else if (name == "shutdown") {
        System(phases, world, "shutdown", "D0 exit to D3Final (shutdown)",
               [](Owner& o) { return o.Shutdown(); });
        PowerOff(phases, world);
    } else if (name == "cycle") {
        // One round; Run repeats it (RoundsOf).
        SleepWake(phases, world);
        Hibernate(phases, world);
        StopRestart(phases);
        Idle(phases, world, false);
        Active(phases, world);
        IdleHibernate(phases, world, false);
    }
    return phases;
}

// How many times Run goes through the phases: a soak's rounds are not listed one by one.
int RoundsOf(const std::string& name, const World& world) {
    return name == "cycle" ? world.Options().cycles : 1;
}

// The driver is loaded; each instance is added and started (prepare hardware, then D0
// entry), taken through the scenario's phases by its power policy owner (`rounds` times), then
// stopped (D0 exit to D3Final, release hardware) and removed; the driver is unloaded. Instances
// run at once, a thread each. A D0 exit that fails on an instance whose HS PHY never confirms
// its suspend is what the driver must do there: the framework then tears the stack down, and
// the instance takes no further part. With `expectTeardown`, each such instance must have gone
// so.
bool Run(const std::vector<int>& instances, const std::vector<Phase>& phases, int rounds,
         World& world, kmdf::Machine& machine, std::ostream& errors, ScenarioObserver& observer,
         bool expectTeardown) {
    NTSTATUS status = machine.LoadDriver(DriverEntry);
    if (!NT_SUCCESS(status)) {
        errors << "pelvane-sim: driver entry failed, status " << Status(status) << "\n";
        return false;
    }
    std::mutex lock;
    bool ok = true;
    std::map<int, std::unique_ptr<Owner>> owners;
    std::map<int, bool> running;
    std::map<int, bool> tornDown;
    for (int instance : instances) {
        running[instance] = false;
        tornDown[instance] = false;
    }
    soc::VirtualClock& clock = world.Soc().Clock();
    // Books the time the instance's clock moved since `before`.
    auto book = [&](int instance, int order, const char* transition, std::uint64_t before) {
        std::uint64_t ns = clock.NowNs(instance) - before;
        std::lock_guard<std::mutex> hold(lock);
        observer.TransitionEnded({instance, order, transition, ns});
    };
    // A failed start removes the device too, but it is never the expected teardown. Within the
    // restart count the framework has the device enumerated again, and the new one carries on.
    auto fail = [&](int instance, const char* step, NTSTATUS failed, bool starting,
                    bool restarted) {
        std::lock_guard<std::mutex> hold(lock);
        running[instance] = restarted;
        auto owner = owners.find(instance);
        if (!starting && world.HsSuspendNeverConfirms(instance) && owner != owners.end() &&
            (restarted || owner->second->State() == kmdf::PolicyState::Removed)) {
            tornDown[instance] = true;
            return;
        }
        errors << "pelvane-sim: " << step << " for " << soc::InstanceName(instance)
               << " failed, status " << Status(failed) << "\n";
        ok = false;
    };
    ForEachInstance(instances, [&](int instance) {
        kmdf::DeviceId id = 0;
        std::uint64_t before = clock.NowNs(instance);
        NTSTATUS s = machine.AddDevice(world.Device(instance), &id);
        if (!NT_SUCCESS(s)) {
            fail(instance, "device add", s, false, false);
            return;
        }
        Owner* owner;
        {
            std::lock_guard<std::mutex> hold(lock);
            owner = (owners[instance] = std::make_unique<Owner>(machine, id)).get();
        }
        s = owner->Start();
        book(instance, 0, "start", before);
        if (!NT_SUCCESS(s)) {
            fail(instance, "start", s, true, false);
            return;
        }
        s = world.AnnounceSpecialFiles(instance, id);
        if (!NT_SUCCESS(s)) {
            fail(instance, "usage notification", s, false, false);
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
            Owner* owner;
            {
                std::lock_guard<std::mutex> hold(lock);
                if (!running[instance]) {
                    return;
                }
                owner = owners[instance].get();
            }
            std::uint64_t before = clock.NowNs(instance);
            bool starting = owner->State() == kmdf::PolicyState::Stopped;
            kmdf::DeviceId device = owner->Id();
            NTSTATUS s = phase.transition(*owner);
            book(instance, order, phase.name, before);
            if (!NT_SUCCESS(s)) {
                fail(instance, phase.name, s, starting, owner->Id() != device);
            } else if (owner->State() == kmdf::PolicyState::Removed) {
                std::lock_guard<std::mutex> hold(lock);
                running[instance] = false; // surprise-removed: it takes no further part
            } else if (owner->State() == kmdf::PolicyState::Started &&
                       !HostControllerReady(world.Soc(), instance)) {
                std::lock_guard<std::mutex> hold(lock);
                errors << "pelvane-sim: " << soc::InstanceName(instance) << " after " << phase.name
                       << ": the controller is not configured as a host\n";
                ok = false;
            }
        });
    };
    int order = 0;
    for (int round = 0; round < rounds; ++round) {
        observer.RoundBegins(round);
        for (const Phase& phase : phases) {
            runPhase(phase, ++order);
        }
    }
    ForEachInstance(instances, [&](int instance) {
        Owner* owner;
        {
            std::lock_guard<std::mutex> hold(lock);
            auto it = owners.find(instance);
            if (it == owners.end()) {
                return;
            }
            owner = it->second.get();
        }
        if (machine.DeviceStarted(owner->Id())) {
            std::uint64_t before = clock.NowNs(instance);
            NTSTATUS s = owner->Stop();
            book(instance, order + 1, "stop", before);
            if (!NT_SUCCESS(s)) {
                fail(instance, "stop", s, false, false);
            }
        }
        machine.RemoveDevice(owner->Id());
    });
    machine.UnloadDriver();
    if (world.HibernationImageLost()) {
        errors << "pelvane-sim: the hibernation image was not written to "
               << soc::InstanceName(*world.Options().hibernationDevice) << "\n";
        ok = false;
    }
    for (int instance : instances) {
        if (expectTeardown && world.HsSuspendNeverConfirms(instance) && !tornDown[instance]) {
            errors << "pelvane-sim: " << soc::InstanceName(instance)
                   << " was not torn down after a failed D0 exit\n";
            ok = false;
        }
    }
    return ok;
}

} // namespace

const std::vector<ScenarioInfo>& Scenarios() {
    static const std::vector<ScenarioInfo> scenarios = {
        {"start", "load the driver, add and start each instance (prepare hardware, D0 entry),\n"
                  "           stop and remove it, unload; instances run at once on threads"},
        {"sleep-wake", "start, D0 exit to D3 with a sleep action, D0 entry, stop"},
        {"d3final", "start, then D0 exit to D3Final and release hardware (a removal)"},
        {"hibernate", "start, D0 exit to D3 with the hibernate action, power off and on,\n"
                      "           D0 entry resuming from hibernation, stop"},
        {"stop-restart", "start, stop (D3Final, release hardware), start again, stop"},
        {"late-service", "start without the wake-line service, sleep and wake, the service\n"
                         "           arrives, sleep and wake again, stop"},
        {"service-update", "start, the wake-line service's driver is updated (query-remove,\n"
                           "           removal, a new instance), sleep and wake, stop"},
        {"service-update-cancelled", "start, query-remove of the wake-line service, then\n"
                                     "           cancelled, sleep and wake, stop"},
        {"service-surprise-removal", "start, the wake-line service is surprise-removed, sleep\n"
                                     "           and wake, a new instance, sleep and wake, stop"},
        {"surprise-removal", "start, the controller is surprise-removed in D0 (D0 exit to\n"
                             "           D3Final, release hardware)"},
        {"surprise-removal-idle", "start, runtime idle, then surprise removal (release\n"
                                  "           hardware only, no D0 exit)"},
        {"rebalance", "start, restart while started (D0 exit to D3Final, release hardware,\n"
                      "           prepare hardware, D0 entry), sleep and wake, stop"},
        {"idle-sleep-wake-enabled", "start, runtime idle not armed, system sleep with wake\n"
                                    "           from Sx enabled (D0 entry, then D0 exit with the\n"
                                    "           sleep action), resume, stop"},
        {"idle", "start, runtime idle (D0 exit to D3, no system action), active again\n"
                 "           (D0 entry), stop"},
        {"idle-sleep", "start, runtime idle not armed for wake, system sleep and resume (no\n"
                       "           request reaches the filter), active again, stop"},
        {"idle-hibernate", "start, runtime idle not armed for wake, hibernation (no request),\n"
                           "           power off and on, resume, active again (D0 entry\n"
                           "           told no action, after a power loss), stop"},
        {"idle-hibernate-armed", "as idle-hibernate, armed for wake: D0 entry to disarm,\n"
                                 "           then D0 exit with the hibernate action"},
        {"fast-startup", "start, hybrid shutdown (S4, the hibernate action), power off and\n"
                         "           on, the next boot resumes the session, stop"},
        {"shutdown", "start, shutdown (D0 exit to D3Final), power off"},
        {"d0-exit-fails", "as idle, with the HS PHY of --hs-suspend-stuck (default primary,\n"
                          "           or secondary when it runs without primary) never\n"
                          "           confirming its suspend: the D0 exit fails and the\n"
                          "           framework tears that instance down"},
        {"cycle", "start, then --cycles rounds of sleep and wake, hibernate and resume,\n"
                  "           stop and restart, idle, idle-hibernate; stop"},
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
    if (name == "d0-exit-fails" && !world.AnyHsSuspendNeverConfirms()) {
        // The scenario's default: Primary, or Secondary when only it can fail so.
        bool primary =
            std::find(instances.begin(), instances.end(), soc::kPrimary) != instances.end();
        bool secondary =
            std::find(instances.begin(), instances.end(), soc::kSecondary) != instances.end();
        world.NeverConfirmHsSuspend(!primary && secondary ? soc::kSecondary : soc::kPrimary);
    }
    world.Install();
    bool ok = false;
    if (name == "load-add-unload") {
        ok = LoadAddUnload(instances, world, machine, errors);
    } else {
        ok = Run(instances, PhasesOf(name, world), RoundsOf(name, world), world, machine, errors,
                 observer, name == "d0-exit-fails");
    }
    if (!world.Withdraw() || world.ServiceVetoed()) {
        errors << "pelvane-sim: the driver vetoed the wake-line service's removal\n";
        ok = false;
    }
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
