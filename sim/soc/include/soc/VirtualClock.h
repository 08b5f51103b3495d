#pragma once
// Virtual time of the simulated system. Sleeps advance it by their interval; every read of
// the performance counter advances it a little, so that busy-waits on the counter end.
#include <cstdint>

namespace soc {

class VirtualClock {
  public:
    std::uint64_t NowNs() const { return nowNs_; }
    void Advance(std::uint64_t ns) { nowNs_ += ns; }

    std::int64_t Frequency() const { return frequency_; }
    void SetFrequency(std::int64_t hz) { frequency_ = hz; }
    // Time that one counter read takes; 0 (default) means one counter period.
    void SetCounterReadCost(std::uint64_t ns) { readCostNs_ = ns; }

    std::int64_t Counter() const;
    std::int64_t ReadCounter(); // value now, then the read's cost
    std::uint64_t CounterReads() const { return counterReads_; }

  private:
    std::uint64_t nowNs_ = 0;
    std::int64_t frequency_ = 19200000;
    std::uint64_t readCostNs_ = 0;
    std::uint64_t counterReads_ = 0;
};

} // namespace soc
