#pragma once
// The instances of one system event on a thread each, with one thread running at a time: at
// every register access the seed picks which runnable thread goes on, so the shared PHY
// register and the power callbacks of different instances meet in an order that the seed
// fixes. The hardware the machine sees is the SoC behind ScheduledHardware, which offers the
// switch before each access.
#include "WalkRun.h"

#include <condition_variable>
#include <functional>
#include <mutex>

namespace pelvane {

class WalkScheduler {
  public:
    explicit WalkScheduler(std::uint64_t seed) : random_(seed) {}

    // Runs the tasks, a thread each, one at a time; returns when all have ended.
    void Run(std::uint64_t seed, const std::vector<std::function<void()>>& tasks);
    // A point where another runnable thread may go on (nothing on other threads).
    void Point();

  private:
    void PickLocked();

    std::mutex lock_;
    std::condition_variable turn_;
    std::vector<int> runnable_;
    int current_ = -1;
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

  private:
    soc::Soc& soc_;
    WalkScheduler& scheduler_;
};

} // namespace pelvane
