// The stand-in's Plug and Play manager as the driver's later callbacks will meet it: the
// order of callbacks, what follows a failure, the states and actions passed, and the
// serialisation of one device's callbacks.
#include "Harness.h"

#include <atomic>
#include <csignal>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

// A small driver whose callbacks log what they are called with, and can be told to fail.
struct Script {
    std::vector<std::string> log;
    NTSTATUS prepare = STATUS_SUCCESS;
    NTSTATUS d0Entry = STATUS_SUCCESS;
    NTSTATUS d0Exit = STATUS_SUCCESS;
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    std::function<void()> onD0Entry; // runs inside D0 entry, when set
};
Script* g_script = nullptr;

class Inside {
  public:
    Inside() {
        if (g_script->inside.fetch_add(1) != 0) {
            ++g_script->overlaps;
        }
        std::this_thread::yield();
    }
    ~Inside() { g_script->inside.fetch_sub(1); }
};

NTSTATUS Prepare(WDFDEVICE, WDFCMRESLIST raw, WDFCMRESLIST translated) {
    Inside in;
    g_script->log.push_back("prepare " + std::to_string(WdfCmResourceListGetCount(raw)) + " " +
                            std::to_string(WdfCmResourceListGetCount(translated)));
    return g_script->prepare;
}
NTSTATUS Release(WDFDEVICE, WDFCMRESLIST) {
    Inside in;
    g_script->log.push_back("release");
    return STATUS_SUCCESS;
}
NTSTATUS D0Entry(WDFDEVICE device, WDF_POWER_DEVICE_STATE previous) {
    Inside in;
    g_script->log.push_back("d0entry " + std::to_string(previous) + " action " +
                            std::to_string(WdfDeviceGetSystemPowerAction(device)));
    if (g_script->onD0Entry) {
        g_script->onD0Entry();
    }
    return g_script->d0Entry;
}
NTSTATUS D0Exit(WDFDEVICE device, WDF_POWER_DEVICE_STATE target) {
    Inside in;
    g_script->log.push_back("d0exit " + std::to_string(target) + " action " +
                            std::to_string(WdfDeviceGetSystemPowerAction(device)));
    return g_script->d0Exit;
}

NTSTATUS Add(WDFDRIVER, PWDFDEVICE_INIT init) {
    WdfFdoInitSetFilter(init);
    WDF_PNPPOWER_EVENT_CALLBACKS callbacks;
    WDF_PNPPOWER_EVENT_CALLBACKS_INIT(&callbacks);
    callbacks.EvtDevicePrepareHardware = Prepare;
    callbacks.EvtDeviceReleaseHardware = Release;
    callbacks.EvtDeviceD0Entry = D0Entry;
    callbacks.EvtDeviceD0Exit = D0Exit;
    WdfDeviceInitSetPnpPowerEventCallbacks(init, &callbacks);
    WDFDEVICE device;
    NTSTATUS status = WdfDeviceCreate(&init, WDF_NO_OBJECT_ATTRIBUTES, &device);
    if (NT_SUCCESS(status)) {
        g_script->log.push_back(init == nullptr ? "added" : "init kept");
    }
    return status;
}

NTSTATUS Entry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath) {
    WDF_DRIVER_CONFIG config;
    WDF_DRIVER_CONFIG_INIT(&config, Add);
    return WdfDriverCreate(driverObject, registryPath, WDF_NO_OBJECT_ATTRIBUTES, &config,
                           WDF_NO_HANDLE);
}

class PnpManager : public MachineTest {
  protected:
    void SetUp() override {
        g_script = &script;
        ASSERT_EQ(machine.LoadDriver(Entry), STATUS_SUCCESS);
        kmdf::DeviceSpec spec;
        spec.instance = 0;
        CM_PARTIAL_RESOURCE_DESCRIPTOR memory{};
        memory.Type = CmResourceTypeMemory;
        spec.translated = {memory, memory};
        spec.raw = {memory};
        ASSERT_EQ(machine.AddDevice(spec, &id), STATUS_SUCCESS);
        script.log.clear();
    }
    void TearDown() override {
        machine.UnloadDriver();
        EXPECT_TRUE(machine.GetBooks().AllZero()) << machine.GetBooks().Describe();
        g_script = nullptr;
    }

    Script script;
    kmdf::DeviceId id = 0;
};

TEST_F(PnpManager, StartPowerCycleAndStopCallInOrderWithStatesAndActions) {
    ASSERT_EQ(machine.StartDevice(id), STATUS_SUCCESS);
    ASSERT_EQ(machine.ExitD0(id, WdfPowerDeviceD3, PowerActionSleep), STATUS_SUCCESS);
    ASSERT_EQ(machine.EnterD0(id), STATUS_SUCCESS);
    ASSERT_EQ(machine.NotifyUsage(id, DeviceUsageTypeHibernation, true), STATUS_SUCCESS);
    ASSERT_EQ(machine.ExitD0(id, WdfPowerDeviceD3, PowerActionHibernate), STATUS_SUCCESS);
    ASSERT_EQ(machine.EnterD0(id), STATUS_SUCCESS);
    ASSERT_EQ(machine.StopDevice(id), STATUS_SUCCESS);
    EXPECT_EQ(script.log,
              (std::vector<std::string>{"prepare 1 2", "d0entry 5 action 0", "d0exit 4 action 2",
                                        "d0entry 4 action 2", "d0exit 6 action 3",
                                        "d0entry 6 action 3", "d0exit 5 action 0", "release"}));
}

// A failed start makes the PnP manager remove the stack: release hardware runs (no D0 exit
// after a failed D0 entry), the device is gone and every later request is refused; only a new
// device add brings it back, and the removal or unload that follows touches nothing twice.
TEST_F(PnpManager, FailedStartRemovesTheDeviceUntilItIsAddedAgain) {
    struct Case {
        const char* name;
        NTSTATUS prepare;
        NTSTATUS d0Entry;
        NTSTATUS expected;
        std::vector<std::string> log;
    };
    const std::vector<Case> cases = {
        {"prepare hardware fails",
         STATUS_INTERNAL_ERROR,
         STATUS_SUCCESS,
         STATUS_INTERNAL_ERROR,
         {"prepare 0 0", "release"}},
        {"first D0 entry fails",
         STATUS_SUCCESS,
         STATUS_DEVICE_HARDWARE_ERROR,
         STATUS_DEVICE_HARDWARE_ERROR,
         {"prepare 0 0", "d0entry 5 action 0", "release"}},
    };
    kmdf::DeviceSpec spec;
    spec.instance = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kmdf::DeviceId failed = 0;
        ASSERT_EQ(machine.AddDevice(spec, &failed), STATUS_SUCCESS);
        script.log.clear();
        script.prepare = c.prepare;
        script.d0Entry = c.d0Entry;
        kmdf::PowerPolicyOwner owner(machine, failed);
        EXPECT_EQ(owner.Start(), c.expected);
        EXPECT_EQ(owner.State(), kmdf::PolicyState::Removed);
        EXPECT_FALSE(machine.DevicePresent(failed));
        EXPECT_FALSE(machine.DeviceStarted(failed));
        script.prepare = STATUS_SUCCESS;
        script.d0Entry = STATUS_SUCCESS;
        EXPECT_EQ(machine.StartDevice(failed), STATUS_INVALID_DEVICE_STATE);
        EXPECT_EQ(machine.EnterD0(failed), STATUS_INVALID_DEVICE_STATE);
        EXPECT_EQ(machine.ExitD0(failed, WdfPowerDeviceD3, PowerActionNone),
                  STATUS_INVALID_DEVICE_STATE);
        EXPECT_EQ(machine.StopDevice(failed), STATUS_SUCCESS);
        machine.RemoveDevice(failed);
        EXPECT_EQ(script.log, c.log) << "nothing runs after release hardware";

        kmdf::DeviceId again = 0;
        ASSERT_EQ(machine.AddDevice(spec, &again), STATUS_SUCCESS);
        EXPECT_EQ(machine.StartDevice(again), STATUS_SUCCESS);
        machine.RemoveDevice(again);
    }
    EXPECT_EQ(machine.StartDevice(id), STATUS_SUCCESS) << "other devices are untouched";
}

TEST_F(PnpManager, RemovingAStartedDeviceStopsItFirst) {
    ASSERT_EQ(machine.StartDevice(id), STATUS_SUCCESS);
    machine.RemoveDevice(id);
    EXPECT_EQ(script.log.back(), "release");
    EXPECT_EQ(script.log[script.log.size() - 2], "d0exit 5 action 0");
}

TEST_F(PnpManager, CallbacksOfOneDeviceNeverOverlap) {
    ASSERT_EQ(machine.StartDevice(id), STATUS_SUCCESS);
    std::atomic<int> transitions{0};
    auto cycle = [&] {
        for (int i = 0; i < 300; ++i) {
            // Both threads ask for both transitions; the one the state allows runs.
            if (NT_SUCCESS(machine.ExitD0(id, WdfPowerDeviceD3, PowerActionSleep))) {
                ++transitions;
            }
            if (NT_SUCCESS(machine.EnterD0(id))) {
                ++transitions;
            }
        }
    };
    std::thread a(cycle), b(cycle);
    a.join();
    b.join();
    EXPECT_GT(transitions.load(), 300);
    EXPECT_EQ(script.overlaps.load(), 0);
    EXPECT_EQ(machine.StartDevice(id), STATUS_INVALID_DEVICE_STATE);
}

// What the filter sees of each system event, through the power policy owner above it: the
// requests the framework delivers, with the action that WdfDeviceGetSystemPowerAction reports
// (the Dx request's until D0 entry has returned, None from then on).
TEST_F(PnpManager, PowerPolicyOwnerDeliversWhatTheFrameworkDelivers) {
    struct Case {
        const char* name;
        std::function<void(kmdf::PowerPolicyOwner&)> events;
        std::vector<std::string> log;
        kmdf::PolicyState end;
    };
    using O = kmdf::PowerPolicyOwner;
    const std::vector<Case> cases = {
        {"idle, active",
         [](O& o) { o.Idle(false), o.Active(); },
         {"d0exit 4 action 0", "d0entry 4 action 0"},
         kmdf::PolicyState::Started},
        {"sleep, resume, idle",
         [](O& o) { o.Sleep(), o.Resume(), o.Idle(false); },
         {"d0exit 4 action 2", "d0entry 4 action 2", "d0exit 4 action 0"},
         kmdf::PolicyState::WaitingUnarmed},
        {"idle unarmed, hibernate, resume, active",
         [](O& o) { o.Idle(false), o.Hibernate(), o.Resume(), o.Active(); },
         {"d0exit 4 action 0", "d0entry 4 action 0"},
         kmdf::PolicyState::Started},
        {"idle unarmed, sleep (no request)",
         [](O& o) { o.Idle(false), o.Sleep(); },
         {"d0exit 4 action 0"},
         kmdf::PolicyState::SystemAsleepNoWake},
        {"idle armed, hibernate, resume, active",
         [](O& o) { o.Idle(true), o.Hibernate(), o.Resume(), o.Active(); },
         {"d0exit 4 action 0", "d0entry 4 action 0", "d0exit 4 action 3", "d0entry 4 action 3"},
         kmdf::PolicyState::Started},
        {"fast startup, next boot",
         [](O& o) { o.FastStartup(), o.Resume(); },
         {"d0exit 4 action 3", "d0entry 4 action 3"},
         kmdf::PolicyState::Started},
        {"shutdown", [](O& o) { o.Shutdown(); }, {"d0exit 5 action 6"}, kmdf::PolicyState::Off},
        {"idle unarmed, shutdown (no request)",
         [](O& o) { o.Idle(false), o.Shutdown(); },
         {"d0exit 4 action 0"},
         kmdf::PolicyState::Off},
        {"idle unarmed, hibernate, resume, stop: back to D0 first",
         [](O& o) { o.Idle(false), o.Hibernate(), o.Resume(), o.Stop(); },
         {"d0exit 4 action 0", "d0entry 4 action 0", "d0exit 5 action 0", "release"},
         kmdf::PolicyState::Stopped},
        {"idle armed, stop",
         [](O& o) { o.Idle(true), o.Stop(); },
         {"d0exit 4 action 0", "d0entry 4 action 0", "d0exit 5 action 0", "release"},
         kmdf::PolicyState::Stopped},
        {"idle unarmed, sleep with wake from Sx enabled, resume: D0 first, then Dx",
         [](O& o) { o.EnableWakeFromSx(true), o.Idle(false), o.Sleep(), o.Resume(); },
         {"d0exit 4 action 0", "d0entry 4 action 0", "d0exit 4 action 2", "d0entry 4 action 2"},
         kmdf::PolicyState::Started},
        {"idle unarmed, hibernate with wake from Sx enabled (no request)",
         [](O& o) { o.EnableWakeFromSx(true), o.Idle(false), o.Hibernate(); },
         {"d0exit 4 action 0"},
         kmdf::PolicyState::SystemAsleepNoWake},
        {"surprise removal in D0",
         [](O& o) { o.SurpriseRemove(); },
         {"d0exit 5 action 0", "release"},
         kmdf::PolicyState::Removed},
        {"idle unarmed, surprise removal: no D0 exit",
         [](O& o) { o.Idle(false), o.SurpriseRemove(), o.Active(); },
         {"d0exit 4 action 0", "release"},
         kmdf::PolicyState::Removed},
        {"idle armed, surprise removal: no D0 exit",
         [](O& o) { o.Idle(true), o.SurpriseRemove(); },
         {"d0exit 4 action 0", "release"},
         kmdf::PolicyState::Removed},
        {"sleep, surprise removal refused while the system sleeps",
         [](O& o) { o.Sleep(), o.SurpriseRemove(); },
         {"d0exit 4 action 2"},
         kmdf::PolicyState::Sleeping},
        {"rebalance while started",
         [](O& o) { o.Rebalance(), o.Idle(false); },
         {"d0exit 5 action 0", "release", "prepare 0 0", "d0entry 5 action 0", "d0exit 4 action 0"},
         kmdf::PolicyState::WaitingUnarmed},
        {"idle armed, rebalance: back to D0 first",
         [](O& o) { o.Idle(true), o.Rebalance(); },
         {"d0exit 4 action 0", "d0entry 4 action 0", "d0exit 5 action 0", "release", "prepare 0 0",
          "d0entry 5 action 0"},
         kmdf::PolicyState::Started},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kmdf::DeviceId device = 0;
        kmdf::DeviceSpec spec;
        spec.instance = 1;
        ASSERT_EQ(machine.AddDevice(spec, &device), STATUS_SUCCESS);
        kmdf::PowerPolicyOwner owner(machine, device);
        ASSERT_EQ(owner.Start(), STATUS_SUCCESS);
        script.log.clear();
        c.events(owner);
        EXPECT_EQ(script.log, c.log);
        EXPECT_EQ(owner.State(), c.end) << kmdf::PolicyStateName(owner.State());
        machine.RemoveDevice(device);
    }
}

TEST_F(PnpManager, EventsTheSystemCannotMakeAreRefusedWithoutARequest) {
    kmdf::PowerPolicyOwner owner(machine, id);
    ASSERT_EQ(owner.Start(), STATUS_SUCCESS);
    script.log.clear();
    EXPECT_EQ(owner.Resume(), STATUS_INVALID_DEVICE_STATE);
    EXPECT_EQ(owner.Active(), STATUS_SUCCESS) << "needed while on: nothing to do";
    ASSERT_EQ(owner.Sleep(), STATUS_SUCCESS);
    EXPECT_EQ(owner.Idle(false), STATUS_INVALID_DEVICE_STATE);
    EXPECT_EQ(owner.Hibernate(), STATUS_INVALID_DEVICE_STATE);
    EXPECT_EQ(owner.Stop(), STATUS_INVALID_DEVICE_STATE) << "no stop while the system sleeps";
    EXPECT_EQ(script.log, (std::vector<std::string>{"d0exit 4 action 2"}));
}

// Requests the framework never sends a filter: a Dx request to D0 or D3Final (the framework's
// own, for a stop or a shutdown), PrepareForHibernation (the framework's choice), and a D0
// request after a shutdown's D3Final.
TEST_F(PnpManager, RequestsWindowsCannotSendAreRefused) {
    ASSERT_EQ(machine.StartDevice(id), STATUS_SUCCESS);
    script.log.clear();
    EXPECT_EQ(machine.ExitD0(id, WdfPowerDeviceD0, PowerActionSleep), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(machine.ExitD0(id, WdfPowerDeviceD3Final, PowerActionNone), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(machine.ExitD0(id, WdfPowerDevicePrepareForHibernation, PowerActionSleep),
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(machine.ExitD0(id, WdfPowerDevicePrepareForHibernation, PowerActionHibernate),
              STATUS_INVALID_PARAMETER)
        << "the framework, not the request, chooses PrepareForHibernation";
    ASSERT_EQ(machine.ExitD0(id, WdfPowerDeviceD3, PowerActionShutdownOff), STATUS_SUCCESS);
    EXPECT_EQ(machine.EnterD0(id), STATUS_INVALID_DEVICE_STATE);
    EXPECT_EQ(machine.StopDevice(id), STATUS_SUCCESS);
    EXPECT_EQ(script.log, (std::vector<std::string>{"d0exit 5 action 6", "release"}));
}

// A failed D0 exit: release hardware, and the device is gone; no D0 entry follows.
TEST_F(PnpManager, FailedD0ExitTearsTheStackDown) {
    kmdf::PowerPolicyOwner owner(machine, id);
    ASSERT_EQ(owner.Start(), STATUS_SUCCESS);
    script.log.clear();
    script.d0Exit = STATUS_UNSUCCESSFUL;
    EXPECT_EQ(owner.Idle(false), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(owner.Active(), STATUS_INVALID_DEVICE_STATE);
    EXPECT_EQ(script.log, (std::vector<std::string>{"d0exit 4 action 0", "release"}));
    EXPECT_EQ(owner.State(), kmdf::PolicyState::Removed);
    EXPECT_FALSE(machine.DevicePresent(id));
    EXPECT_FALSE(machine.DeviceStarted(id));
    EXPECT_EQ(machine.EnterD0(id), STATUS_INVALID_DEVICE_STATE) << "refused, not a stop";
    machine.RemoveDevice(id); // nothing left to remove
}

// The D0 exit of a stop or a removal fails: its status is the stop's, the hardware is
// released once, and the removal that follows finds nothing left to remove.
TEST_F(PnpManager, FailedD0ExitAtStopIsReportedAndTheRemovalGoesOn) {
    ASSERT_EQ(machine.StartDevice(id), STATUS_SUCCESS);
    script.log.clear();
    script.d0Exit = STATUS_DEVICE_HARDWARE_ERROR;
    EXPECT_EQ(machine.StopDevice(id), STATUS_DEVICE_HARDWARE_ERROR);
    EXPECT_FALSE(machine.DevicePresent(id));
    machine.RemoveDevice(id);

    kmdf::DeviceId second = 0;
    kmdf::DeviceSpec spec;
    ASSERT_EQ(machine.AddDevice(spec, &second), STATUS_SUCCESS);
    ASSERT_EQ(machine.StartDevice(second), STATUS_SUCCESS);
    machine.RemoveDevice(second);
    EXPECT_FALSE(machine.DevicePresent(second));
    EXPECT_EQ(script.log,
              (std::vector<std::string>{"d0exit 5 action 0", "release", "added", "prepare 0 0",
                                        "d0entry 5 action 0", "d0exit 5 action 0", "release"}));
}

TEST_F(PnpManager, FailedD0EntryOnAResumeTearsTheStackDownWithoutD0Exit) {
    kmdf::PowerPolicyOwner owner(machine, id);
    ASSERT_EQ(owner.Start(), STATUS_SUCCESS);
    ASSERT_EQ(owner.Hibernate(), STATUS_SUCCESS);
    script.log.clear();
    script.d0Entry = STATUS_DEVICE_HARDWARE_ERROR;
    EXPECT_EQ(owner.Resume(), STATUS_DEVICE_HARDWARE_ERROR);
    EXPECT_EQ(script.log, (std::vector<std::string>{"d0entry 4 action 3", "release"}));
    EXPECT_EQ(owner.State(), kmdf::PolicyState::Removed);
    EXPECT_EQ(owner.Stop(), STATUS_SUCCESS);
    EXPECT_EQ(script.log.size(), 2u);
}

// The framework, not the request, gives PrepareForHibernation: only while a hibernation file
// lies behind the device, and only with the hibernate action. A paging file changes nothing
// about the target, and the last notification taking the file away ends it.
TEST_F(PnpManager, HibernationFileBehindTheDeviceMakesTheHibernateExitPrepareForHibernation) {
    ASSERT_EQ(machine.StartDevice(id), STATUS_SUCCESS);
    EXPECT_TRUE(machine.PowerPageable(id));
    auto hibernate = [&] {
        ASSERT_EQ(machine.ExitD0(id, WdfPowerDeviceD3, PowerActionHibernate), STATUS_SUCCESS);
        ASSERT_EQ(machine.EnterD0(id), STATUS_SUCCESS);
    };
    hibernate();
    ASSERT_EQ(machine.NotifyUsage(id, DeviceUsageTypePaging, true), STATUS_SUCCESS);
    EXPECT_FALSE(machine.PowerPageable(id));
    hibernate();
    ASSERT_EQ(machine.NotifyUsage(id, DeviceUsageTypeHibernation, true), STATUS_SUCCESS);
    hibernate();
    ASSERT_EQ(machine.ExitD0(id, WdfPowerDeviceD3, PowerActionSleep), STATUS_SUCCESS);
    ASSERT_EQ(machine.EnterD0(id), STATUS_SUCCESS);
    ASSERT_EQ(machine.NotifyUsage(id, DeviceUsageTypeHibernation, false), STATUS_SUCCESS);
    hibernate();
    ASSERT_EQ(machine.NotifyUsage(id, DeviceUsageTypePaging, false), STATUS_SUCCESS);
    EXPECT_TRUE(machine.PowerPageable(id));
    EXPECT_EQ(machine.NotifyUsage(id, DeviceUsageTypePaging, false), STATUS_INVALID_DEVICE_STATE)
        << "no paging file left to take away";
    EXPECT_EQ(script.log,
              (std::vector<std::string>{"prepare 1 2", "d0entry 5 action 0",          // start
                                        "d0exit 4 action 3", "d0entry 4 action 3",    // pageable
                                        "d0exit 4 action 3", "d0entry 4 action 3",    // paging file
                                        "d0exit 6 action 3", "d0entry 6 action 3",    // hibernation
                                        "d0exit 4 action 2", "d0entry 4 action 2",    // sleep
                                        "d0exit 4 action 3", "d0entry 4 action 3"})); // file gone
}

// A rebalance hands prepare hardware the lists the arbiters gave and keeps them for later
// starts; a failure in it tears the stack down like a failed stop or start, and a rebalance
// while the system sleeps or after the device is gone is refused.
TEST_F(PnpManager, RebalanceStartsWithTheNewListsAndFailsAsAStopOrStartFails) {
    CM_PARTIAL_RESOURCE_DESCRIPTOR memory{};
    memory.Type = CmResourceTypeMemory;
    const kmdf::ResourceLists moved{{memory, memory}, {memory, memory, memory}};
    kmdf::PowerPolicyOwner owner(machine, id);
    ASSERT_EQ(owner.Start(), STATUS_SUCCESS);
    ASSERT_EQ(owner.Rebalance(moved), STATUS_SUCCESS);
    ASSERT_EQ(owner.Sleep(), STATUS_SUCCESS);
    EXPECT_EQ(owner.Rebalance(), STATUS_INVALID_DEVICE_STATE);
    ASSERT_EQ(owner.Resume(), STATUS_SUCCESS);
    ASSERT_EQ(owner.Stop(), STATUS_SUCCESS);
    ASSERT_EQ(owner.Start(), STATUS_SUCCESS);
    EXPECT_EQ(script.log,
              (std::vector<std::string>{
                  "prepare 1 2", "d0entry 5 action 0", "d0exit 5 action 0", "release",
                  "prepare 2 3", "d0entry 5 action 0", "d0exit 4 action 2", "d0entry 4 action 2",
                  "d0exit 5 action 0", "release", "prepare 2 3", "d0entry 5 action 0"}));

    struct Case {
        const char* name;
        NTSTATUS prepare, d0Exit;
        std::vector<std::string> log;
    };
    const std::vector<Case> cases = {
        {"D0 exit fails", STATUS_SUCCESS, STATUS_UNSUCCESSFUL, {"d0exit 5 action 0", "release"}},
        {"prepare hardware fails",
         STATUS_INTERNAL_ERROR,
         STATUS_SUCCESS,
         {"d0exit 5 action 0", "release", "prepare 1 2", "release"}},
    };
    machine.AllowRestarts(3);
    kmdf::DeviceSpec spec;
    spec.raw = {memory};
    spec.translated = {memory, memory};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kmdf::DeviceId device = 0;
        ASSERT_EQ(machine.AddDevice(spec, &device), STATUS_SUCCESS);
        kmdf::PowerPolicyOwner failing(machine, device);
        ASSERT_EQ(failing.Start(), STATUS_SUCCESS);
        script.log.clear();
        script.prepare = c.prepare;
        script.d0Exit = c.d0Exit;
        EXPECT_NE(failing.Rebalance(), STATUS_SUCCESS);
        EXPECT_EQ(script.log, c.log) << "no restart after a stop's or a start's failure";
        EXPECT_EQ(failing.State(), kmdf::PolicyState::Removed);
        EXPECT_FALSE(machine.DevicePresent(device));
        EXPECT_FALSE(machine.Reenumerated(device).has_value());
        EXPECT_EQ(failing.Rebalance(), STATUS_INVALID_DEVICE_STATE);
        script.prepare = STATUS_SUCCESS;
        script.d0Exit = STATUS_SUCCESS;
    }
}

// After a failed D0 exit or a failed D0 entry of a started device the framework has the parent
// enumerate it again, as often as the restart count allows: the device comes back through
// device add and a start before the request returns, and its owner carries on with it. A
// failed start, a failed stop and a surprise removal are never restarted, and without an
// allowance nothing comes back.
TEST_F(PnpManager, FailedPowerTransitionsEnumerateTheDeviceAgainUpToTheRestartCount) {
    const std::vector<std::string> restarted = {"release", "added", "prepare 1 2",
                                                "d0entry 5 action 0"};
    kmdf::PowerPolicyOwner owner(machine, id);
    ASSERT_EQ(owner.Start(), STATUS_SUCCESS);
    script.d0Exit = STATUS_UNSUCCESSFUL;
    EXPECT_EQ(owner.Idle(false), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(owner.State(), kmdf::PolicyState::Removed) << "no restart allowed";
    EXPECT_FALSE(machine.Reenumerated(id).has_value());

    CM_PARTIAL_RESOURCE_DESCRIPTOR memory{};
    memory.Type = CmResourceTypeMemory;
    kmdf::DeviceSpec spec;
    spec.raw = {memory};
    spec.translated = {memory, memory};
    ASSERT_EQ(machine.AddDevice(spec, &id), STATUS_SUCCESS);
    machine.AllowRestarts(2);
    kmdf::PowerPolicyOwner again(machine, id);
    ASSERT_EQ(again.Start(), STATUS_SUCCESS);
    script.log.clear();
    std::vector<kmdf::DeviceId> ids = {id};
    for (int failure = 0; failure < 3; ++failure) {
        EXPECT_EQ(again.Idle(false), STATUS_UNSUCCESSFUL);
        ids.push_back(again.Id());
    }
    std::vector<std::string> expected = {"d0exit 4 action 0"};
    expected.insert(expected.end(), restarted.begin(), restarted.end());
    expected.push_back("d0exit 4 action 0");
    expected.insert(expected.end(), restarted.begin(), restarted.end());
    expected.insert(expected.end(), {"d0exit 4 action 0", "release"});
    EXPECT_EQ(script.log, expected);
    EXPECT_EQ(again.State(), kmdf::PolicyState::Removed);
    ASSERT_EQ(ids.size(), 4u);
    EXPECT_EQ(machine.Reenumerated(ids[0]), ids[1]);
    EXPECT_EQ(machine.Reenumerated(ids[1]), ids[2]);
    EXPECT_EQ(ids[3], ids[2]) << "the restart count is spent";
    EXPECT_FALSE(machine.DevicePresent(ids[0]));
    EXPECT_FALSE(machine.DevicePresent(ids[2]));

    // A failed D0 entry on a resume: restarted, and the new start's own D0 entry fails too,
    // which is a failed start and ends it.
    script.d0Exit = STATUS_SUCCESS;
    ASSERT_EQ(machine.AddDevice(spec, &id), STATUS_SUCCESS);
    kmdf::PowerPolicyOwner resumed(machine, id);
    ASSERT_EQ(resumed.Start(), STATUS_SUCCESS);
    ASSERT_EQ(resumed.Sleep(), STATUS_SUCCESS);
    script.log.clear();
    script.d0Entry = STATUS_DEVICE_HARDWARE_ERROR;
    EXPECT_EQ(resumed.Resume(), STATUS_DEVICE_HARDWARE_ERROR);
    EXPECT_EQ(script.log,
              (std::vector<std::string>{"d0entry 4 action 2", "release", "added", "prepare 1 2",
                                        "d0entry 5 action 0", "release"}));
    EXPECT_EQ(resumed.State(), kmdf::PolicyState::Removed);
    script.d0Entry = STATUS_SUCCESS;

    // Stops and surprise removals leave for good.
    script.d0Exit = STATUS_UNSUCCESSFUL;
    for (bool surprise : {false, true}) {
        ASSERT_EQ(machine.AddDevice(spec, &id), STATUS_SUCCESS);
        ASSERT_EQ(machine.StartDevice(id), STATUS_SUCCESS);
        script.log.clear();
        EXPECT_EQ(surprise ? machine.SurpriseRemove(id) : machine.StopDevice(id),
                  STATUS_UNSUCCESSFUL);
        EXPECT_EQ(script.log, (std::vector<std::string>{"d0exit 5 action 0", "release"}));
        EXPECT_FALSE(machine.Reenumerated(id).has_value());
        EXPECT_EQ(machine.SurpriseRemove(id), STATUS_INVALID_DEVICE_STATE);
    }
    script.d0Exit = STATUS_SUCCESS;
}

using PnpManagerDeathTest = PnpManager;

constexpr ULONG kTag = 0x74736554; // "Test"

// Under a sanitizer the fault is reported by the sanitizer's own handler, which exits instead
// of letting the signal end the process.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define PELVANE_SANITIZED_SEGV 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define PELVANE_SANITIZED_SEGV 1
#endif
#endif
#ifndef PELVANE_SANITIZED_SEGV
#define PELVANE_SANITIZED_SEGV 0
#endif

// A stack that is not power pageable: D0 entry that touches a paged block faults, and one that
// allocates paged pool or runs pageable code bug-checks; non-paged pool is fine, and so is
// paged pool outside the power callbacks. The books tell the paged blocks apart.
TEST_F(PnpManagerDeathTest, PagedPoolInThePowerCallbacksOfANonPageableStackFaults) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ASSERT_EQ(machine.StartDevice(id), STATUS_SUCCESS);
    auto* paged = static_cast<volatile UCHAR*>(ExAllocatePool2(POOL_FLAG_PAGED, 16, kTag));
    auto* resident = static_cast<volatile UCHAR*>(ExAllocatePool2(POOL_FLAG_NON_PAGED, 16, kTag));
    ASSERT_NE(paged, nullptr);
    EXPECT_EQ(machine.GetBooks().pagedPoolAllocations, 1u);
    auto cycle = [&] {
        ASSERT_EQ(machine.ExitD0(id, WdfPowerDeviceD3, PowerActionSleep), STATUS_SUCCESS);
        ASSERT_EQ(machine.EnterD0(id), STATUS_SUCCESS);
    };
    script.onD0Entry = [&] {
        PAGED_CODE();
        paged[0] = resident[0];
    };
    cycle(); // pageable: paging I/O is there for a page that is out

    ASSERT_EQ(machine.NotifyUsage(id, DeviceUsageTypeDumpFile, true), STATUS_SUCCESS);
    script.onD0Entry = [&] { resident[1] = 1; };
    cycle();
    paged[1] = 2; // outside the callbacks

    script.onD0Entry = [&] { resident[2] = paged[0]; };
#if PELVANE_SANITIZED_SEGV
    EXPECT_DEATH(cycle(), "SEGV on unknown address");
#else
    EXPECT_EXIT(cycle(), testing::KilledBySignal(SIGSEGV), "");
#endif
    script.onD0Entry = [&] { ExFreePoolWithTag(ExAllocatePool2(POOL_FLAG_PAGED, 8, kTag), kTag); };
    EXPECT_DEATH(cycle(), "paged pool in a power callback");
    script.onD0Entry = [&] {
        WDFMEMORY memory;
        PVOID buffer;
        (void)WdfMemoryCreate(WDF_NO_OBJECT_ATTRIBUTES, PagedPool, kTag, 8, &memory, &buffer);
    };
    EXPECT_DEATH(cycle(), "paged pool in a power callback");
    script.onD0Entry = [] { PAGED_CODE(); };
    EXPECT_DEATH(cycle(), "pageable code in a power callback");

    script.onD0Entry = nullptr;
    ExFreePoolWithTag(const_cast<UCHAR*>(paged), kTag);
    ExFreePoolWithTag(const_cast<UCHAR*>(resident), kTag);
}

// The same stack, and the filter's device object showing the pageability that the framework
// took from the device below. A target may be created in D0 entry, but opening one by name is
// a file open and closing it a file close, which bug-check there, as a registration for PnP
// notifications does; outside the power callbacks, and once the stack is pageable again, the
// target is fine.
TEST_F(PnpManagerDeathTest, FileOpenOrCloseInThePowerCallbacksOfANonPageableStackBugChecks) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    machine.AddNamedDevice(L"\\Device\\Line0", std::make_shared<kmdf::Endpoint>());
    ASSERT_EQ(machine.StartDevice(id), STATUS_SUCCESS);
    const WDFDEVICE device = machine.Device(id);
    auto pageable = [&] {
        return (WdfDeviceWdmGetDeviceObject(device)->Flags & DO_POWER_PAGABLE) != 0;
    };
    WDFIOTARGET target = nullptr;
    auto create = [&] {
        ASSERT_EQ(WdfIoTargetCreate(device, WDF_NO_OBJECT_ATTRIBUTES, &target), STATUS_SUCCESS);
    };
    auto open = [&] {
        create();
        UNICODE_STRING name;
        RtlInitUnicodeString(&name, L"\\Device\\Line0");
        WDF_IO_TARGET_OPEN_PARAMS params;
        WDF_IO_TARGET_OPEN_PARAMS_INIT_OPEN_BY_NAME(&params, &name, GENERIC_READ | GENERIC_WRITE);
        ASSERT_EQ(WdfIoTargetOpen(target, &params), STATUS_SUCCESS);
    };
    auto close = [&] {
        WdfIoTargetClose(target);
        WdfObjectDelete(target);
        target = nullptr;
    };
    auto cycle = [&] {
        ASSERT_EQ(machine.ExitD0(id, WdfPowerDeviceD3, PowerActionHibernate), STATUS_SUCCESS);
        ASSERT_EQ(machine.EnterD0(id), STATUS_SUCCESS);
    };
    EXPECT_TRUE(pageable());
    script.onD0Entry = [&] {
        open();
        close();
    };
    cycle();

    ASSERT_EQ(machine.NotifyUsage(id, DeviceUsageTypePaging, true), STATUS_SUCCESS);
    EXPECT_FALSE(pageable());
    script.onD0Entry = [&] {
        create();
        WdfObjectDelete(target);
    };
    cycle();
    script.onD0Entry = [&] { open(); };
    EXPECT_DEATH(cycle(), "WdfIoTargetOpen: a file opened in a power callback");
    open();
    script.onD0Entry = [&] { WdfIoTargetClose(target); };
    EXPECT_DEATH(cycle(), "WdfIoTargetClose: a file closed in a power callback");
    script.onD0Entry = [&] { WdfObjectDelete(target); };
    EXPECT_DEATH(cycle(), "a file closed in a power callback");
    script.onD0Entry = [] {
        static const GUID interfaceClass = {0x1, 0x2, 0x3, {4, 5, 6, 7, 8, 9, 10, 11}};
        PVOID entry = nullptr;
        (void)IoRegisterPlugPlayNotification(
            EventCategoryDeviceInterfaceChange, 0, (PVOID)&interfaceClass,
            WdfDriverWdmGetDriverObject(WdfGetDriver()), [](PVOID, PVOID) { return 0; }, nullptr,
            &entry);
    };
    EXPECT_DEATH(cycle(), "IoRegisterPlugPlayNotification: pageable code");

    ASSERT_EQ(machine.NotifyUsage(id, DeviceUsageTypePaging, false), STATUS_SUCCESS);
    EXPECT_TRUE(pageable());
    script.onD0Entry = [&] { close(); };
    cycle();
    script.onD0Entry = nullptr;
}

} // namespace
