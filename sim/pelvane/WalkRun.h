#pragma once
// One walk in progress: the SoC, the machine and the world drawn from the seed, a power policy
// owner per instance, and what the walk knows of the system from outside the driver (which
// failures it injected, which HS PHYs it made stick, when the power went).
#include "Walk.h"
#include "World.h"

#include <kmdf/Machine.h>
#include <kmdf/PowerPolicyOwner.h>
#include <soc/Soc.h>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>

namespace pelvane {

// A small generator whose sequence is the same on every platform.
class WalkRandom {
  public:
    explicit WalkRandom(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next();
    int Below(int n) { return static_cast<int>(Next() % static_cast<std::uint64_t>(n)); }
    bool Chance(int percent) { return Below(100) < percent; }

  private:
    std::uint64_t state_;
};

// The world of a walk, from its seed alone.
WorldOptions DrawWorld(std::uint64_t seed);

// The routines whose next call a walk may make fail.
const std::vector<std::string>& FailableRoutines();

enum class SystemState { Working, Asleep, Off, HibernationAborted, ShutDown };

struct InstanceLife {
    std::unique_ptr<kmdf::PowerPolicyOwner> owner;
    bool present = false;
    bool hsStuck = false;
    // An injected failure fired since the last clean bring-up: what the hardware shows may
    // then be what the driver had to give up, so the state checks wait for the next one.
    bool degraded = false;
    // The last D0 exit was a completed power-down to a low-power state: the wake events it
    // armed must be disarmed again in D0. Neither a D3Final exit nor a Multiport power-down
    // abandoned for a port reset (it writes PORTSC4) is undone by the next D0
    // entry: that one finds nothing to resume, and the wrapper keeps what they armed.
    bool lowPowerExit = false;
    // The owner's wake-from-Sx setting, which outlives the device's enumerations.
    bool wakeFromSx = false;
    // The device the walk last saw for the instance: another one after the framework had the
    // stack enumerated again.
    kmdf::DeviceId id = 0;
};

class WalkScheduler;

class WalkRun {
  public:
    WalkRun(const Walk& walk, const WalkRunOptions& options);
    ~WalkRun();

    // Driver entry, device add and start of every instance.
    bool Begin();
    // The events legal now, for a walk being drawn.
    std::vector<WalkEvent> Candidates(WalkRandom& random) const;
    bool Legal(const WalkEvent& e) const;
    // Applies a legal event, then checks; false when an invariant broke.
    bool Step(std::size_t step, const WalkEvent& e);
    // Stop, removal, unload and the service's withdrawal; the books.
    bool End(std::size_t step);
    bool Ended() const { return system_ == SystemState::ShutDown; }

    WalkResult Result();

    // Used by the checks (WalkChecks.cpp).
    soc::Soc& Soc() { return soc_; }
    World& GetWorld() { return *world_; }
    kmdf::Machine& GetMachine() { return *machine_; }
    const std::vector<int>& Instances() const { return instances_; }
    InstanceLife& Life(int instance) { return life_[instance]; }
    bool Fail(std::size_t step, const std::string& invariant, const std::string& detail);
    // Whether SS PHY `phy` was started since it last lost its power (the system off, or its
    // power control written 0).
    bool SsPhyProgrammed(int phy) const { return phyStarts_[phy] > phyOffAt_[phy]; }
    // Whether the firmware answered MPRD = 1 at the instance's last evaluation of it.
    bool MprdRead(int instance) const;

  private:
    struct Sink;
    void Apply(const WalkEvent& e);
    void System(const WalkEvent& e);
    void SystemTransition(const WalkEvent& e, NTSTATUS (kmdf::PowerPolicyOwner::*call)(),
                          const char* transition, bool d3final);
    void Transition(int instance, const char* name, NTSTATUS status, bool mayFail);
    void AddInstance(int instance);
    void RemoveInstance(int instance);
    void PowerOff();
    void WatchSsPhys();
    void Standby(const WalkEvent& e);
    void PortSituation(const WalkEvent& e);
    void StickHs(int instance, bool stuck);
    void Inject(const std::string& routine);
    // The PnP manager unloads the driver with its last device and loads it again for the next.
    bool LoadDriver(int instance);
    void UnloadIfUnused();
    void CheckBooksAtZero(const std::string& when);
    void ApplyAndUnload(const WalkEvent& e);
    void Restarted(int instance);
    void CheckGoneDevices(std::size_t step);
    bool InjectionFired();
    bool Running(int instance) const;
    std::vector<int> Order(const std::string& arg) const;
    // Runs `step` for each instance of `order`: in turn, or a thread each under the scheduler.
    void ForInstances(const std::vector<int>& order, const std::function<void(int)>& step);
    // Runs `body` on the walker's thread: with threads, under the scheduler with the system
    // worker beside it; otherwise on the calling thread.
    void Scheduled(const std::function<void()>& body, const std::string& label);
    void ApplyStep(const WalkEvent& e);

    std::vector<int> instances_;
    WalkRunOptions options_;
    soc::Soc soc_;
    std::unique_ptr<Sink> sink_;
    std::uint64_t seed_ = 0;
    std::unique_ptr<WalkScheduler> scheduler_;
    std::unique_ptr<kmdf::Hardware> hardware_; // the SoC behind the scheduler, with threads
    std::unique_ptr<kmdf::Machine> machine_;
    std::unique_ptr<World> world_;
    InstanceLife life_[kInstances];
    SystemState system_ = SystemState::Working;
    std::string armedRoutine_;
    std::size_t armedAt_ = 0;
    std::vector<std::string> stepFailures_; // transitions that failed in this step
    std::size_t currentStep_ = 0;
    std::optional<WalkEvent> deferred_; // a change of the service, to run beside the next event
    bool injectedThisStep_ = false;
    WalkResult result_;
    std::size_t applied_ = 0;
    bool ended_ = false;
    bool loaded_ = false;
    std::string loadedBooks_;             // the books once the driver has loaded, before any device
    std::vector<kmdf::DeviceId> devices_; // added and not yet found gone with nothing left
    std::uint64_t phyStarts_[4] = {0, 0, 0, 0};
    std::uint64_t phyOffAt_[4] = {0, 0, 0, 0};
};

// Every invariant a walk checks, by the name a failure reports.
const std::vector<std::string>& InvariantNames();

// After each step: the hardware and the platform as the rules require them.
bool CheckWalkStep(WalkRun& run, std::size_t step);

} // namespace pelvane
