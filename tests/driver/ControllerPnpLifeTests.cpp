// Pelvane through the controller's own PnP life beyond an orderly stop: surprise removal in D0
// and in runtime idle, a restart while started, an idle device that sleeps with wake from Sx
// enabled, and a device enumerated again after a failed D0 exit. Each compares the whole
// sequence of callbacks with their states and actions, and what the driver did inside each.
#include "Harness.h"
#include "Scenario.h"
#include "World.h"
#include "frame/Driver.h"

#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kGctl = 0xC110;
// The first controller reset register of each instance (clock-and-reset block), pulsed only by
// the bring-up.
constexpr std::uint32_t kFirstReset[] = {0xF004, 0x10004, 0xA6004};
constexpr int kPairs[] = {1, 1, 2};

// One callback of the instance as the trace shows it: "D0Exit 4/0" (target or previous state,
// then the action), with what happened inside it.
struct Step {
    std::string callback;
    int wakeLineRequests = 0;
    bool bringUp = false;
    std::size_t accesses = 0;
};

std::string Name(const soc::TraceRecord& r) {
    std::string name = r.function.substr(std::string("EvtDevice").size());
    if (r.state >= 0) {
        name += " " + std::to_string(r.state) + "/" + std::to_string(r.action);
    }
    if (r.status != 0) {
        char status[16];
        std::snprintf(status, sizeof status, " -> 0x%08X", static_cast<unsigned>(r.status));
        name += status;
    }
    return name;
}

// The instance's callbacks, named on return (so that a failure shows), and whatever register
// access the instance made outside any callback.
std::vector<Step> Steps(const std::vector<soc::TraceRecord>& records, int instance,
                        std::size_t* outside) {
    std::vector<Step> steps;
    bool inside = false;
    Step current;
    *outside = 0;
    for (const soc::TraceRecord& r : records) {
        if (r.op == soc::Op::Callback && r.actor == instance) {
            inside = !r.returned;
            if (r.returned) {
                current.callback = Name(r);
                steps.push_back(current);
                current = Step{};
            }
        } else if (r.actor == instance && (r.op == soc::Op::Read || r.op == soc::Op::Write)) {
            if (!inside) {
                ++*outside;
            }
            ++current.accesses;
            if (r.op == soc::Op::Write && r.block == soc::BlockKind::ClockReset &&
                r.offset == kFirstReset[instance]) {
                current.bringUp = true;
            }
        } else if (r.actor == instance && r.op == soc::Op::Request && r.target == "wake-line") {
            ++current.wakeLineRequests;
        }
    }
    return steps;
}

std::vector<std::string> Names(const std::vector<Step>& steps) {
    std::vector<std::string> names;
    for (const Step& s : steps) {
        names.push_back(s.callback);
    }
    return names;
}

struct ScenarioRun {
    bool ok = false;
    std::string errors;
    std::vector<soc::TraceRecord> records;
};

ScenarioRun RunAlone(const std::string& scenario, int instance) {
    ScenarioRun run;
    soc::Soc soc;
    std::ostringstream errors;
    {
        kmdf::Machine machine(soc);
        pelvane::World world(soc, machine);
        run.ok = pelvane::RunScenario(scenario, {instance}, world, machine, errors);
    }
    run.errors = errors.str();
    run.records = soc.Records();
    return run;
}

// What Windows delivers on each path, and where the driver talks to the wake-line service and
// runs the bring-up: the low-power D0 exits configure every line (two per pair), D3Final none.
TEST(ControllerPnpLife, EachPathDeliversWhatTheFrameworkDeliversAndTheDriverFollows) {
    const std::string started[] = {"PrepareHardware", "D0Entry 5/0"};
    for (int instance = 0; instance < 3; ++instance) {
        SCOPED_TRACE(soc::InstanceName(instance));
        const int lines = 2 * kPairs[instance];
        struct Case {
            const char* scenario;
            std::vector<std::string> callbacks; // after the start
            std::vector<int> wakeLineRequests;  // per callback, the start's included
        };
        const std::vector<Case> cases = {
            {"surprise-removal", {"D0Exit 5/0", "ReleaseHardware"}, {0, 0, 0, 0}},
            {"surprise-removal-idle", {"D0Exit 4/0", "ReleaseHardware"}, {0, 0, lines, 0}},
            {"rebalance",
             {"D0Exit 5/0", "ReleaseHardware", "PrepareHardware", "D0Entry 5/0", "D0Exit 4/2",
              "D0Entry 4/2", "D0Exit 5/0", "ReleaseHardware"},
             {0, 0, 0, 0, 0, 0, lines, 0, 0, 0}},
            {"idle-sleep-wake-enabled",
             {"D0Exit 4/0", "D0Entry 4/0", "D0Exit 4/2", "D0Entry 4/2", "D0Exit 5/0",
              "ReleaseHardware"},
             {0, 0, lines, 0, lines, 0, 0, 0}},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.scenario);
            ScenarioRun run = RunAlone(c.scenario, instance);
            EXPECT_TRUE(run.ok) << run.errors;
            std::size_t outside = 0;
            std::vector<Step> steps = Steps(run.records, instance, &outside);
            std::vector<std::string> expected(std::begin(started), std::end(started));
            expected.insert(expected.end(), c.callbacks.begin(), c.callbacks.end());
            ASSERT_EQ(Names(steps), expected);
            std::vector<int> requests;
            for (const Step& s : steps) {
                requests.push_back(s.wakeLineRequests);
            }
            EXPECT_EQ(requests, c.wakeLineRequests);
            EXPECT_EQ(outside, 0u) << "register accesses outside the callbacks";
            // Release hardware only unmaps: after a surprise removal from idle the hardware
            // stays as the power-down left it.
            for (const Step& s : steps) {
                if (s.callback == "ReleaseHardware") {
                    EXPECT_EQ(s.accesses, 0u);
                }
            }
            if (std::string(c.scenario) == "rebalance") {
                EXPECT_TRUE(steps[4].bringUp) << "prepare hardware after the rebalance";
            }
        }
    }
}

// The framework restarts a device whose D0 exit failed: the parent enumerates it again and the
// new stack goes through device add, prepare hardware (the whole bring-up) and D0 entry. The
// driver starts it as a new device, binds to the wake-line service again, and after the
// restart count is spent, the second failure ends it; the books balance and the service can
// be updated without a veto.
TEST(ControllerPnpLife, DeviceEnumeratedAgainAfterAFailedD0ExitStartsAfresh) {
    for (int instance : {soc::kPrimary, soc::kSecondary}) {
        SCOPED_TRACE(soc::InstanceName(instance));
        soc::Soc soc;
        {
            kmdf::Machine machine(soc);
            pelvane::WorldOptions options;
            options.hsSuspendStuck = {instance};
            pelvane::World world(soc, machine, options);
            world.Install();
            machine.AllowRestarts(1);
            ASSERT_EQ(machine.LoadDriver(DriverEntry), STATUS_SUCCESS);
            kmdf::DeviceId id = 0;
            ASSERT_EQ(machine.AddDevice(world.Device(instance), &id), STATUS_SUCCESS);
            kmdf::PowerPolicyOwner owner(machine, id);
            ASSERT_EQ(owner.Start(), STATUS_SUCCESS);
            EXPECT_EQ(owner.Idle(false), STATUS_UNSUCCESSFUL);
            ASSERT_EQ(owner.State(), kmdf::PolicyState::Started);
            EXPECT_NE(owner.Id(), id);
            EXPECT_EQ(soc.Peek(soc::BlockKind::Controller, instance, kGctl) & 0x3000, 0x1000u)
                << "the new stack's controller is a host";
            EXPECT_EQ(GetFilterExtension(machine.Device(owner.Id()))->WakeInterfaceReady, 1)
                << "bound to the service again";
            EXPECT_EQ(owner.Idle(false), STATUS_UNSUCCESSFUL);
            EXPECT_EQ(owner.State(), kmdf::PolicyState::Removed);
            machine.UnloadDriver();
            EXPECT_TRUE(world.Withdraw()) << "no veto of the service's removal";
            EXPECT_TRUE(machine.GetBooks().AllZero()) << machine.GetBooks().Describe();
        }
        std::size_t outside = 0;
        std::vector<Step> steps = Steps(soc.Records(), instance, &outside);
        const std::string failed = "D0Exit 4/0 -> 0xC0000001";
        EXPECT_EQ(Names(steps), (std::vector<std::string>{
                                    "PrepareHardware", "D0Entry 5/0", failed, "ReleaseHardware",
                                    "PrepareHardware", "D0Entry 5/0", failed, "ReleaseHardware"}));
        ASSERT_EQ(steps.size(), 8u);
        EXPECT_TRUE(steps[0].bringUp);
        EXPECT_TRUE(steps[4].bringUp);
        EXPECT_EQ(outside, 0u);
    }
}

} // namespace
