// The three instances run power cycles at once, a thread each, while the wake-line service's
// device comes and goes on another thread. Every callback must succeed, the only errors are
// those of a notification that finds the service gone, every call through the interface
// reaches a service that is still referenced, and nothing is left behind after unload. Under
// ThreadSanitizer the run also shows that the driver and the stand-in share nothing unordered.
#include "World.h"
#include "frame/Driver.h"

#include <evntrace.h>
#include <gtest/gtest.h>
#include <kmdf/PowerPolicyOwner.h>

#include <atomic>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

namespace {

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define RACES_UNDER_TSAN 1
#endif
#endif
#ifdef RACES_UNDER_TSAN
constexpr int kCycles = 40;
#else
constexpr int kCycles = 200;
#endif

struct Failure {
    int instance;
    std::string step;
    NTSTATUS status;
};

class Races : public ::testing::Test {
  protected:
    soc::Soc soc;
    std::mutex lock;
    std::vector<Failure> failures;

    void Check(int instance, const char* step, NTSTATUS status) {
        if (!NT_SUCCESS(status)) {
            std::lock_guard<std::mutex> hold(lock);
            failures.push_back({instance, step, status});
        }
    }

    // Start, kCycles rounds of sleep and wake, hibernate and resume, stop and restart, stop.
    void Cycle(kmdf::Machine& machine, pelvane::World& world, int instance) {
        kmdf::DeviceId id = 0;
        Check(instance, "device add", machine.AddDevice(world.Device(instance), &id));
        kmdf::PowerPolicyOwner owner(machine, id);
        Check(instance, "start", owner.Start());
        for (int round = 0; round < kCycles; ++round) {
            Check(instance, "sleep", owner.Sleep());
            Check(instance, "wake", owner.Resume());
            Check(instance, "hibernate", owner.Hibernate());
            Check(instance, "resume", owner.Resume());
            Check(instance, "stop", owner.Stop());
            Check(instance, "restart", owner.Start());
        }
        Check(instance, "last stop", owner.Stop());
        machine.RemoveDevice(id);
    }

    std::string Describe() {
        std::ostringstream out;
        for (const Failure& f : failures) {
            out << soc::InstanceName(f.instance) << " " << f.step << ": 0x" << std::hex
                << static_cast<unsigned>(f.status) << std::dec << "\n";
        }
        return out.str();
    }
};

// A notification that arrives while the service's device is going away finds no device to
// look up; that is the one error the driver may report here.
bool ExpectedWhileTheServiceLeaves(const kmdf::DiagnosticRecord& d) {
    return d.function == "BindWakeLineService" &&
           d.message.find("IoGetDeviceObjectPointer failed") != std::string::npos;
}

TEST_F(Races, PowerCyclesOnEveryInstanceWhileTheWakeLineServiceComesAndGoes) {
    soc.LimitTrace(20000);
    std::shared_ptr<wakeline::WakeLineService> service;
    std::vector<kmdf::DiagnosticRecord> diagnostics;
    int arrivals = 0;
    {
        kmdf::Machine machine(soc);
        pelvane::World world(soc, machine);
        world.Install();
        service = world.Service().shared_from_this();
        ASSERT_EQ(machine.LoadDriver(DriverEntry), STATUS_SUCCESS);

        std::atomic<int> cycling{pelvane::kInstances};
        std::thread comings([&] {
            // As often as it can: the more arrivals, the more of them meet a registration.
            while (cycling.load() > 0) {
                world.Withdraw();
                world.Publish();
                ++arrivals;
            }
        });
        std::vector<std::thread> instances;
        for (int instance = 0; instance < pelvane::kInstances; ++instance) {
            instances.emplace_back([&, instance] {
                Cycle(machine, world, instance);
                --cycling;
            });
        }
        for (auto& t : instances) {
            t.join();
        }
        comings.join();
        world.Withdraw();
        machine.UnloadDriver();
        EXPECT_TRUE(machine.GetBooks().AllZero()) << machine.GetBooks().Describe();
        diagnostics = machine.Diagnostics();
    }
    EXPECT_TRUE(failures.empty()) << Describe();
    EXPECT_GT(arrivals, 0);
    for (const kmdf::DiagnosticRecord& d : diagnostics) {
        if (d.level == TRACE_LEVEL_ERROR || d.level == TRACE_LEVEL_CRITICAL) {
            EXPECT_TRUE(ExpectedWhileTheServiceLeaves(d)) << d.function << ": " << d.message;
        }
    }
    EXPECT_EQ(service->References(), 0) << "every interface reference is given back";
    for (const wakeline::Call& call : service->Calls()) {
        EXPECT_EQ(call.status, STATUS_SUCCESS) << "line 0x" << std::hex << call.line;
    }
}

} // namespace
