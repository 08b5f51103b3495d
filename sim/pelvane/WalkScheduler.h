#pragma once
// The threads of one walk step, one running at a time: the walker's own (the PnP and power
// manager's), a thread per instance of a system event, the system's notification thread for
// the wake-line service's changes and the system worker that runs the work items. At every
// register access, every wait and the entry of every framework or kernel routine of the walk's
// switch set the seed picks which thread goes on, so the shared PHY register, the arrival work
// and the power callbacks of different instances meet in an order that the seed fixes. The
// machine sees the SoC behind ScheduledHardware, which offers the switch.
#include "WalkRun.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace pelvane {

class WalkScheduler {
  public:
    explicit WalkScheduler(std::uint64_t seed, SwitchSet switches = SwitchSet::EveryCall)
        : switches_(switches), random_(seed) {}

    // Runs `main` on a thread of its own and `worker` over and over on another, while any
    // other thread is left, then once more; returns when every thread spawned meanwhile has
    // ended. Only one of them runs at a time.
    void Run(std::uint64_t seed, const std::function<void()>& main,
             const std::function<void()>& worker);
    // From a thread of the scheduler: a new thread, which may go on from the next switch.
    int Spawn(std::function<void()> task);
    // From a thread of the scheduler: lets the others go on until the tasks have ended.
    void Join(const std::vector<int>& tasks);
    // A point where another thread may go on (nothing on threads of no scheduler).
    void Point();
    // The entry of a framework or kernel routine: a point if the switch set has the routine,
    // and not a further read of the performance counter in a row.
    void Entered(const char* routine);
    // In a wait that cannot be satisfied yet: the others go on. When only waiting threads are
    // left for long, nothing will satisfy them: the stand-in's deadlock, which ends the walk as
    // a hang ends the system.
    void Blocked(const char* routine);
    bool OnThread() const;

  private:
    struct Task {
        std::thread thread;
        std::condition_variable turn; // told when its turn comes
        bool ended = false;
        std::string waitingIn;
        bool spinning = false; // its last point was a read of the performance counter
    };
    void Start(int id, std::function<void()> body);
    // The next thread to run; `passOver`, a waiting thread, only if it is the only one.
    void PickLocked(int passOver = -1);
    void SwitchLocked(std::unique_lock<std::mutex>& hold, bool waiting);
    void PointLocked(std::unique_lock<std::mutex>& hold);
    bool OthersEnded() const;

    std::mutex lock_;
    std::condition_variable allEnded_;
    std::deque<Task> tasks_;
    std::vector<int> runnable_;
    int current_ = -1;
    int worker_ = -1;
    std::uint64_t idleTurns_ = 0; // turns in a row that went to waiting threads
    SwitchSet switches_;
    WalkRandom random_;
};

class ScheduledHardware : public kmdf::Hardware {
  public:
    ScheduledHardware(soc::Soc& soc, WalkScheduler& scheduler) : soc_(soc), scheduler_(scheduler) {}

    kmdf::IoSpaceKind Classify(std::uint64_t physical, std::size_t length) override {
        return soc_.Classify(physical, length);
    }
    void* MemoryAt(std::uint64_t physical, std::size_t length) override {
        return soc_.MemoryAt(physical, length);
    }
    std::uint32_t Read32(std::uint64_t physical) override {
        scheduler_.Point();
        return soc_.Read32(physical);
    }
    void Write32(std::uint64_t physical, std::uint32_t value) override {
        scheduler_.Point();
        soc_.Write32(physical, value);
    }
    void Barrier() override { soc_.Barrier(); }
    std::int64_t QueryPerformanceCounter() override { return soc_.QueryPerformanceCounter(); }
    std::int64_t PerformanceFrequency() override { return soc_.PerformanceFrequency(); }
    void Sleep(std::int64_t interval100ns) override { soc_.Sleep(interval100ns); }
    void SetActor(int instance) override { soc_.SetActor(instance); }
    void OnDiagnostic(const kmdf::DiagnosticRecord& d) override { soc_.OnDiagnostic(d); }
    void OnEvent(const kmdf::EventRecord& e) override { soc_.OnEvent(e); }
    void OnCallback(const kmdf::CallbackTrace& c) override { soc_.OnCallback(c); }
    bool Scheduled() const override { return true; }
    void Yield(const char* routine) override { scheduler_.Entered(routine); }
    void Blocked(const char* routine) override { scheduler_.Blocked(routine); }

  private:
    soc::Soc& soc_;
    WalkScheduler& scheduler_;
};

} // namespace pelvane
