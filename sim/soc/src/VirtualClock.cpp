// The virtual clocks of the actors and their performance counter.
#include <soc/VirtualClock.h>

namespace soc {

namespace {
thread_local int t_actor = VirtualClock::kNoActor;

std::int64_t Ticks(std::uint64_t ns, std::int64_t frequency) {
    unsigned __int128 ticks = static_cast<unsigned __int128>(ns) *
                              static_cast<unsigned __int128>(frequency) / 1'000'000'000u;
    return static_cast<std::int64_t>(ticks);
}
} // namespace

void VirtualClock::SetActor(int actor) {
    t_actor = actor;
}

int VirtualClock::Actor() {
    return t_actor;
}

std::uint64_t VirtualClock::NowNs(int actor) const {
    std::lock_guard guard(lock_);
    auto it = nowNs_.find(actor);
    return it == nowNs_.end() ? 0 : it->second;
}

std::uint64_t VirtualClock::LatestNs() const {
    std::lock_guard guard(lock_);
    std::uint64_t latest = 0;
    for (const auto& [actor, ns] : nowNs_) {
        latest = ns > latest ? ns : latest;
    }
    return latest;
}

void VirtualClock::Advance(int actor, std::uint64_t ns) {
    std::lock_guard guard(lock_);
    nowNs_[actor] += ns;
}

void VirtualClock::SetTimerResolution(std::uint64_t ns) {
    std::lock_guard guard(lock_);
    resolutionNs_ = ns;
}

std::uint64_t VirtualClock::TimerResolution() const {
    std::lock_guard guard(lock_);
    return resolutionNs_;
}

std::uint64_t VirtualClock::SleepEnd(std::uint64_t dueNs) const {
    std::lock_guard guard(lock_);
    if (resolutionNs_ == 0 || dueNs % resolutionNs_ == 0) {
        return dueNs;
    }
    return (dueNs / resolutionNs_ + 1) * resolutionNs_;
}

std::int64_t VirtualClock::Frequency() const {
    std::lock_guard guard(lock_);
    return frequency_;
}

void VirtualClock::SetFrequency(std::int64_t hz) {
    std::lock_guard guard(lock_);
    frequency_ = hz;
}

void VirtualClock::SetCounterReadCost(std::uint64_t ns) {
    std::lock_guard guard(lock_);
    readCostNs_ = ns;
}

std::int64_t VirtualClock::Counter() const {
    std::lock_guard guard(lock_);
    auto it = nowNs_.find(t_actor);
    return Ticks(it == nowNs_.end() ? 0 : it->second, frequency_);
}

std::int64_t VirtualClock::ReadCounter() {
    std::lock_guard guard(lock_);
    std::uint64_t& now = nowNs_[t_actor];
    std::int64_t value = Ticks(now, frequency_);
    std::uint64_t cost = readCostNs_;
    if (cost == 0) {
        cost = frequency_ > 0 ? (1'000'000'000ull + frequency_ - 1) / frequency_ : 1;
    }
    now += cost;
    ++counterReads_;
    return value;
}

std::uint64_t VirtualClock::CounterReads() const {
    std::lock_guard guard(lock_);
    return counterReads_;
}

} // namespace soc
