// A long run: start, then a thousand rounds of sleep and wake, hibernate and resume, stop and
// restart, idle, and idle through hibernation, on the three instances at once; and each
// scenario of the system's power life again and again. Nothing may be left behind.
#include "Scenario.h"
#include "World.h"

#include <evntrace.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

// ThreadSanitizer runs the soak at a tenth of the length and AddressSanitizer at a quarter,
// within the test time-out on a loaded machine; the interleavings and the memory they check
// are those of every cycle alike.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define SOAK_UNDER_TSAN 1
#elif __has_feature(address_sanitizer)
#define SOAK_UNDER_ASAN 1
#endif
#endif
#if defined(SOAK_UNDER_TSAN)
constexpr int kCycles = 100;
#elif defined(SOAK_UNDER_ASAN)
constexpr int kCycles = 250;
#else
constexpr int kCycles = 1000;
#endif

TEST(Soak, AThousandPowerCyclesOnEveryInstanceLeaveTheBooksAtZero) {
    soc::Soc soc;
    soc.LimitTrace(20000);
    std::ostringstream errors;
    bool ok;
    {
        kmdf::Machine machine(soc);
        pelvane::WorldOptions options;
        options.cycles = kCycles;
        pelvane::World world(soc, machine, options);
        // RunScenario fails when a step fails or when the books are not zero after unload.
        ok = pelvane::RunScenario("cycle", {0, 1, 2}, world, machine, errors);
        EXPECT_TRUE(machine.GetBooks().AllZero()) << machine.GetBooks().Describe();
        EXPECT_EQ(machine.CountDiagnostics(TRACE_LEVEL_ERROR), 0u);
    }
    EXPECT_TRUE(ok) << errors.str();
    EXPECT_EQ(errors.str(), "");
}

TEST(Soak, EveryScenarioOfThePowerLifeAgainAndAgainLeavesTheBooksAtZero) {
    for (const char* scenario : {"idle", "idle-sleep", "idle-hibernate", "idle-hibernate-armed",
                                 "fast-startup", "shutdown", "d0-exit-fails"}) {
        for (int round = 0; round < kCycles / 20; ++round) {
            SCOPED_TRACE(std::string(scenario) + " round " + std::to_string(round));
            soc::Soc soc;
            soc.LimitTrace(2000);
            std::ostringstream errors;
            kmdf::Machine machine(soc);
            pelvane::World world(soc, machine);
            ASSERT_TRUE(pelvane::RunScenario(scenario, {0, 1, 2}, world, machine, errors))
                << errors.str();
            ASSERT_TRUE(machine.GetBooks().AllZero()) << machine.GetBooks().Describe();
        }
    }
}

} // namespace
