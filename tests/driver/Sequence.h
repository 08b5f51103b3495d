#pragma once
// Expected register sequences, written as the hardware documentation writes them (set bits,
// clear bits, a field, a full write, a read, a sleep), and their comparison with the SoC's
// trace. A read-modify-write matches a read of the register followed by a write of
// value | (what was read & ~mask), whatever the register held.
#include <gtest/gtest.h>
#include <soc/Trace.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace seq {

enum class Kind { Read, Write, Modify, Sleep, Stall };

struct Step {
    Kind kind = Kind::Read;
    soc::BlockKind block = soc::BlockKind::Phy;
    std::uint32_t offset = 0;
    std::uint32_t value = 0;
    std::uint32_t mask = 0;
    std::optional<std::uint32_t> readValue; // a read that must see exactly this
    std::int64_t interval = 0;              // sleeps, in 100 ns units as passed
    std::uint64_t stallNs = 0;              // busy-waits: at least this long, < 1 us more
    std::string Describe() const;
};

using Sequence = std::vector<Step>;

constexpr soc::BlockKind kCtl = soc::BlockKind::Controller;
constexpr soc::BlockKind kClk = soc::BlockKind::ClockReset;
constexpr soc::BlockKind kPhy = soc::BlockKind::Phy;

Step Read(soc::BlockKind block, std::uint32_t offset);
Step ReadSees(soc::BlockKind block, std::uint32_t offset, std::uint32_t value);
Step Write(soc::BlockKind block, std::uint32_t offset, std::uint32_t value);
Step Set(soc::BlockKind block, std::uint32_t offset, std::uint32_t bits);
Step Clear(soc::BlockKind block, std::uint32_t offset, std::uint32_t bits);
Step Field(soc::BlockKind block, std::uint32_t offset, std::uint32_t value, std::uint32_t mask);
Step SleepUs(std::int64_t us);
Step SleepMs(std::int64_t ms);
// A busy-wait on the performance counter of `us` microseconds.
Step StallUs(std::uint64_t us);

Sequence& operator+=(Sequence& a, const Sequence& b);

// The register accesses and delays of a trace, without diagnostics, events and requests.
std::vector<soc::TraceRecord> Hardware(const std::vector<soc::TraceRecord>& trace);

// Whole-sequence comparison. Controller-block accesses must be to `controllerInstance`. On a
// mismatch the message names the first divergence with the records around it.
::testing::AssertionResult Matches(const std::vector<soc::TraceRecord>& trace,
                                   const Sequence& expected, int controllerInstance);

} // namespace seq
