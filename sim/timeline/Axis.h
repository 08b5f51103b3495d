#pragma once
// The time axis of a timeline: tick steps of 1, 2 or 5 times a power of ten nanoseconds, and
// tick labels in ns, µs, ms or s.
#include <cstdint>
#include <string>
#include <vector>

namespace timeline {

struct AxisTicks {
    std::uint64_t stepNs = 1;
    std::vector<std::uint64_t> ticksNs; // multiples of the step within [from, to]
};

// At most `maxTicks` ticks (at least 2) from `fromNs` to `toNs`.
AxisTicks ChooseTicks(std::uint64_t fromNs, std::uint64_t toNs, int maxTicks);

// `ns` in the unit that suits `stepNs` and the axis' largest tick `largestNs`, so that all
// ticks of one axis share a unit, with as many decimals as the step needs:
// "0", "250 ns", "1.5 µs", "12 ms", "2 s".
std::string FormatTime(std::uint64_t ns, std::uint64_t stepNs, std::uint64_t largestNs = 0);

// A duration on its own, for tool tips: "730 ns", "1.25 ms".
std::string FormatDuration(std::uint64_t ns);

} // namespace timeline
