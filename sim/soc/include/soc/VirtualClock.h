#pragma once
// Virtual time of the simulated system, one clock per actor. An actor is the controller
// instance whose callback runs on a thread (-1 for none in particular); each actor's clock
// advances only by that actor's own sleeps and counter reads, so that instances running at
// the same time on different threads each see exactly the durations of their own waits.
// A thread acts for the actor last set with SetActor; the calls without an actor argument
// use the calling thread's.
//
// Sleeps last exactly their interval by default. With a timer resolution set, they end as on
// a system whose clock ticks at that period: on the first tick at or after the due time, the
// ticks being the multiples of the resolution on the sleeping actor's clock. Counter reads
// (busy-waits) cost what they always cost.
#include <cstdint>
#include <map>
#include <mutex>

namespace soc {

class VirtualClock {
  public:
    static constexpr int kNoActor = -1;
    static void SetActor(int actor);
    static int Actor();

    std::uint64_t NowNs() const { return NowNs(Actor()); }
    std::uint64_t NowNs(int actor) const;
    // The latest time of any actor's clock: when something that concerns them all happens.
    std::uint64_t LatestNs() const;
    void Advance(std::uint64_t ns) { Advance(Actor(), ns); }
    void Advance(int actor, std::uint64_t ns);

    // The period of the system clock tick that ends sleeps; 0 (default) for exact sleeps.
    void SetTimerResolution(std::uint64_t ns);
    std::uint64_t TimerResolution() const;
    // The time at which a sleep due at `dueNs` of that clock ends.
    std::uint64_t SleepEnd(std::uint64_t dueNs) const;

    std::int64_t Frequency() const;
    void SetFrequency(std::int64_t hz);
    // Time that one counter read takes; 0 (default) means one counter period.
    void SetCounterReadCost(std::uint64_t ns);

    std::int64_t Counter() const; // the calling thread's actor's counter
    std::int64_t ReadCounter();   // value now, then the read's cost
    std::uint64_t CounterReads() const;

  private:
    mutable std::mutex lock_;
    std::map<int, std::uint64_t> nowNs_;
    std::int64_t frequency_ = 19200000;
    std::uint64_t readCostNs_ = 0;
    std::uint64_t resolutionNs_ = 0;
    std::uint64_t counterReads_ = 0;
};

} // namespace soc
