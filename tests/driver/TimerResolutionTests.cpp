// Sleeps with a timer resolution set: each ends on the first system clock tick at or after its
// due time, on the sleeping actor's own clock; busy-waits keep their exact length.
#include <gtest/gtest.h>
#include <kmdf/Machine.h>
#include <soc/Soc.h>

#include "CommandLine.h"
#include "TimerEstimates.h"
#include "sequencing/RegisterAccess.h"

#include <sstream>
#include <thread>
#include <vector>

namespace {

constexpr std::uint64_t kMs = 1000000;
constexpr std::uint64_t kUs = 1000;

std::vector<std::uint64_t> SleepLengths(const soc::Soc& s, int actor) {
    std::vector<std::uint64_t> lengths;
    for (const auto& r : s.Records()) {
        if (r.actor == actor && r.op == soc::Op::Delay && r.delay == soc::DelayKind::Sleep) {
            lengths.push_back(r.lengthNs);
        }
    }
    return lengths;
}

TEST(TimerResolution, SleepsEndOnTheFirstTickAtOrAfterTheirDueTimeAndBusyWaitsStayExact) {
    soc::Soc s;
    kmdf::Machine machine(s);
    s.Clock().SetTimerResolution(1 * kMs);
    s.SetActor(soc::kPrimary);
    DelayMicroseconds(10); // due at 10 us: the tick at 1 ms
    EXPECT_EQ(s.Clock().NowNs(), 1 * kMs);
    DelayMilliseconds(1); // due exactly on the tick at 2 ms
    EXPECT_EQ(s.Clock().NowNs(), 2 * kMs);
    StallMicroseconds(10); // busy-wait: its own length, no tick
    std::uint64_t afterStall = s.Clock().NowNs();
    EXPECT_GE(afterStall, 2 * kMs + 10 * kUs);
    EXPECT_LT(afterStall, 2 * kMs + 11 * kUs);
    DelayMicroseconds(100); // due at 2.11 ms: the tick at 3 ms
    EXPECT_EQ(s.Clock().NowNs(), 3 * kMs);
    DelayMicroseconds(0); // due now, on a tick
    EXPECT_EQ(s.Clock().NowNs(), 3 * kMs);
    s.Sleep(35000); // absolute 3.5 ms: the tick at 4 ms
    EXPECT_EQ(s.Clock().NowNs(), 4 * kMs);
    s.Sleep(10000); // absolute 1 ms, passed: no wait
    EXPECT_EQ(s.Clock().NowNs(), 4 * kMs);
    s.SetActor(-1);

    EXPECT_EQ(SleepLengths(s, soc::kPrimary),
              (std::vector<std::uint64_t>{1 * kMs, 1 * kMs, 3 * kMs - afterStall, 0, 1 * kMs, 0}));
    for (const auto& r : s.Records()) {
        if (r.op == soc::Op::Delay && r.delay == soc::DelayKind::Sleep && r.interval < 0) {
            EXPECT_EQ(r.tNs + r.lengthNs, (r.tNs + r.lengthNs) / kMs * kMs) << soc::FormatText(r);
        }
    }
}

// Instances on threads of their own: each sleep rounds up on the clock of its own instance.
TEST(TimerResolution, EachInstanceSleepsToTheTicksOfItsOwnClock) {
    soc::Soc s;
    kmdf::Machine machine(s);
    s.Clock().SetTimerResolution(15625 * kUs);
    auto run = [&s](int instance, ULONG stallUs, ULONG sleepUs) {
        s.SetActor(instance);
        StallMicroseconds(stallUs);
        DelayMicroseconds(sleepUs);
        DelayMicroseconds(sleepUs);
        s.SetActor(-1);
    };
    std::vector<std::thread> threads;
    threads.emplace_back(run, soc::kPrimary, 0, 10);
    threads.emplace_back(run, soc::kSecondary, 14000, 700); // due at 14.7 ms: the first tick
    // Due at 31.625 ms: the third tick; the next is due exactly on the fourth.
    threads.emplace_back(run, soc::kMultiport, 16000, 15625);
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(s.Clock().NowNs(soc::kPrimary), 2 * 15625 * kUs);
    EXPECT_EQ(s.Clock().NowNs(soc::kSecondary), 2 * 15625 * kUs);
    EXPECT_EQ(s.Clock().NowNs(soc::kMultiport), 4 * 15625 * kUs);
    EXPECT_EQ(s.Clock().NowNs(-1), 0u);
}

// A sleep and wake of "Primary" alone, timed by hand from its waits. D0 exit to D3 with nothing
// attached: the status polls find their bits clear at once; the SS PHY 0 event handling sleeps
// 100 us after the status read and 100 us after the clear write. D0 entry: the shared PHY bit
// is 1 from the start, so 1 ms low, then the same two 100 us sleeps of the event handling.
// Every transition begins on a tick, as the one before ended in a sleep.
TEST(TimerResolution, SleepAndWakeOfPrimaryCostsWhatItsSleepsRoundedToTheTickCost) {
    pelvane::ScenarioSetup setup{"sleep-wake", {soc::kPrimary}, {}, 0};
    struct Row {
        const char* transition;
        std::uint64_t exact, tick15625us, tick1ms, tick500us;
    };
    const Row rows[] = {
        {"D0 exit to D3 (sleep)", 200 * kUs, 2 * 15625 * kUs, 2 * kMs, 2 * 500 * kUs},
        {"D0 entry from sleep", 1200 * kUs, 3 * 15625 * kUs, 3 * kMs, (2 + 1 + 1) * 500 * kUs},
    };
    const auto& models = pelvane::WindowsTimerModels();
    ASSERT_EQ(models.size(), 4u);
    for (std::size_t m = 0; m < models.size(); ++m) {
        SCOPED_TRACE(models[m].label);
        pelvane::TransitionTimes times = pelvane::MeasureTransitions(setup, models[m].resolutionNs);
        for (const Row& row : rows) {
            const std::uint64_t expected[] = {row.exact, row.tick15625us, row.tick1ms,
                                              row.tick500us};
            bool found = false;
            for (const auto& t : times) {
                if (t.transition == row.transition) {
                    found = true;
                    EXPECT_EQ(t.ns, expected[m]) << row.transition;
                }
            }
            EXPECT_TRUE(found) << row.transition;
        }
    }
}

// Each model's estimate comes from a run under that model, not from the exact run's sleeps
// rounded up: "Multiport"'s D0 exit resets PORTSC4 (nothing attached) and polls it in 1 ms
// sleeps until the reset completes after 10 ms. Exact, that is 10 polls besides the four
// 100 us sleeps (14 sleeps); on the 15.625 ms tick the first poll already sees the reset done,
// so 5 sleeps (78.125 ms), not 14 ticks (218.75 ms).
TEST(TimerResolution, EstimatesRunThePortResetPollsOfEachModel) {
    pelvane::ScenarioSetup setup{"sleep-wake", {soc::kMultiport}, {}, 0};
    setup.world.portsc.push_back({4, 0x2E0});
    setup.world.portResetNs = 10 * kMs;
    const std::uint64_t expected[] = {10400 * kUs, 5 * 15625 * kUs, 14 * kMs, 24 * 500 * kUs};
    const auto& models = pelvane::WindowsTimerModels();
    for (std::size_t m = 0; m < models.size(); ++m) {
        SCOPED_TRACE(models[m].label);
        pelvane::TransitionTimes times = pelvane::MeasureTransitions(setup, models[m].resolutionNs);
        ASSERT_GE(times.size(), 2u);
        EXPECT_EQ(times[1].transition, "D0 exit to D3 (sleep)");
        EXPECT_EQ(times[1].ns, expected[m]);
    }
}

// The resolution is taken in milliseconds with up to six places, exactly; zero, more than a
// second, or anything else is refused with a message.
TEST(TimerResolution, CommandLineTakesMillisecondsExactly) {
    const std::pair<const char*, std::uint64_t> good[] = {{"15.625", 15625000},
                                                          {"1", 1000000},
                                                          {"0.5", 500000},
                                                          {"0.000001", 1},
                                                          {"1000", kMs * 1000}};
    for (const auto& [text, ns] : good) {
        std::ostringstream errors;
        auto line = pelvane::ParseCommandLine({"--timer-resolution", text}, errors);
        ASSERT_TRUE(line) << text << ": " << errors.str();
        EXPECT_EQ(line->timerResolutionNs, ns) << text;
    }
    std::ostringstream errors;
    EXPECT_EQ(pelvane::ParseCommandLine({}, errors)->timerResolutionNs, 0u);
    for (const char* text :
         {"0", "0.0", "-1", "1.", ".5", "1.0000001", "1000.001", "1e3", "fast", "15,625", ""}) {
        std::ostringstream refused;
        EXPECT_FALSE(pelvane::ParseCommandLine({"--timer-resolution", text}, refused)) << text;
        EXPECT_NE(refused.str().find("pelvane-sim: bad --timer-resolution"), std::string::npos)
            << text;
    }
}

} // namespace
