// The virtual clock and its performance counter.
#include <soc/VirtualClock.h>

namespace soc {

std::int64_t VirtualClock::Counter() const {
    unsigned __int128 ticks = static_cast<unsigned __int128>(nowNs_) *
                              static_cast<unsigned __int128>(frequency_) / 1'000'000'000u;
    return static_cast<std::int64_t>(ticks);
}

std::int64_t VirtualClock::ReadCounter() {
    std::int64_t value = Counter();
    std::uint64_t cost = readCostNs_;
    if (cost == 0) {
        cost = frequency_ > 0 ? (1'000'000'000ull + frequency_ - 1) / frequency_ : 1;
    }
    nowNs_ += cost;
    ++counterReads_;
    return value;
}

} // namespace soc
