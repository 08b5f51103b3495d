// Walk events beyond the controllers' own life: the driver unloaded with its last device and
// loaded again (its entry made to fail), the firmware's answers changing between bring-ups,
// the framework enumerating a failed stack again, wake from Sx and modern standby.
#include "Walk.h"
#include "WalkFirmware.h"
#include "WalkRun.h"

#include <soc/Layout.h>

#include <gtest/gtest.h>

#include <sstream>

namespace {

const std::vector<int> kAll = {soc::kPrimary, soc::kSecondary, soc::kMultiport};

// A seed whose world has no special file behind any controller (so every one may be removed)
// and whose firmware answers `mprd` for MPRD.
std::uint64_t PlainSeed(bool mprd) {
    for (std::uint64_t seed = 1;; ++seed) {
        pelvane::WorldOptions o = pelvane::DrawWorld(seed);
        bool answers = false;
        for (const auto& s : o.acpi) {
            answers = answers || (s.name == "MPRD" && s.value == 1);
        }
        if (!o.pagingDevice && !o.hibernationDevice && answers == mprd && o.ssPhyReadyAfter == 1) {
            return seed;
        }
    }
}

struct Traced {
    pelvane::WalkResult result;
    std::string trace;
};

Traced RunEvents(std::uint64_t seed, const std::vector<const char*>& events) {
    pelvane::Walk walk{seed, kAll, false, {}};
    for (const char* text : events) {
        auto e = pelvane::WalkEvent::Parse(text);
        EXPECT_TRUE(e) << text;
        walk.events.push_back(*e);
    }
    std::ostringstream trace;
    pelvane::WalkRunOptions options;
    options.trace = &trace;
    Traced t{pelvane::RunWalk(walk, options), trace.str()};
    EXPECT_TRUE(t.result.ok) << t.result.invariant << ": " << t.result.detail;
    EXPECT_EQ(t.result.eventsApplied, walk.events.size());
    return t;
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

// The trace from the "# step N" line on, up to the next step.
std::string Step(const std::string& trace, int step) {
    std::size_t from = trace.find("# step " + std::to_string(step) + ":");
    std::size_t to = trace.find("# ", from + 1);
    return from == std::string::npos ? "" : trace.substr(from, to - from);
}

TEST(WalkWorld, TheDriverGoesWithItsLastDeviceAndAFailedEntryIsRetriedWithTheNextOne) {
    Traced t =
        RunEvents(PlainSeed(false), {"remove primary", "surprise-remove secondary",
                                     "remove multiport", "fail WdfDriverCreate", "add primary",
                                     "add primary", "idle primary", "active primary"});
    // Unloaded after the third removal and at the end; the failed entry is not unloaded.
    EXPECT_EQ(Count(Step(t.trace, 3), "EvtDriverUnload"), 1u);
    EXPECT_EQ(Count(Step(t.trace, 5), "WdfDriverCreate failed"), 1u);
    EXPECT_EQ(Count(Step(t.trace, 5), "EvtDriverDeviceAdd"), 0u);
    EXPECT_GT(Count(Step(t.trace, 6), "EvtDriverDeviceAdd"), 0u);
    EXPECT_EQ(Count(t.trace, "EvtDriverUnload\",\"message\":\"unload\""), 2u);
    // A failure of an entry routine waits for a load: while loaded it is not drawn.
    pelvane::Walk loaded{PlainSeed(false), kAll, false, {}};
    loaded.events.push_back(*pelvane::WalkEvent::Parse("fail WdfDriverCreate"));
    EXPECT_EQ(pelvane::RunWalk(loaded).eventsApplied, 0u);
}

TEST(WalkWorld, FirmwareAnswersTakeEffectAtTheNextBringUpThatReadsThem) {
    const int multiport = soc::kMultiport;
    unsigned number = 0;
    std::vector<acpi::Argument> packages;
    while ((packages = pelvane::DrawOverridePackages(multiport, number)).size() < 4) {
        ++number;
    }
    std::string phyc = "firmware multiport PHYC=" + std::to_string(number);
    Traced t =
        RunEvents(PlainSeed(false),
                  {"firmware multiport MPRD=1", phyc.c_str(), "stop multiport", "start multiport",
                   "firmware multiport MPRD=fail", "stop multiport", "start multiport"});
    const std::string raised = "\"target\":\"gpio\",\"level\":1";
    EXPECT_EQ(Count(Step(t.trace, 1), raised), 0u); // read at the next bring-up, not now
    EXPECT_EQ(Count(Step(t.trace, 4), raised), 1u);
    EXPECT_EQ(Count(Step(t.trace, 7), raised), 0u);
    // Each record of kind 0 in one of Multiport's HS PHY windows (HS PHY 2 and 3) is written
    // over its register at the restart's bring-up.
    std::string start = Step(t.trace, 4);
    int applied = 0;
    for (const acpi::Argument& p : packages) {
        auto field = [&](int i) {
            std::uint32_t v = 0;
            for (int b = 0; b < 4; ++b) {
                v |= static_cast<std::uint32_t>(p.elements[i].data[b]) << (8 * b);
            }
            return v;
        };
        std::uint32_t kind = field(0), address = field(1), value = field(2);
        bool hs = (address >= 0x088E4000 && address < 0x088E4100) ||
                  (address >= 0x088E5000 && address < 0x088E5100);
        if (kind == 0 && hs) {
            ++applied;
            std::string write = "\"op\":\"write\",\"block\":\"phy\",\"instance\":2,\"offset\":" +
                                std::to_string(address - 0x088E0000) +
                                ",\"value\":" + std::to_string(value);
            EXPECT_GT(Count(start, write), 0u) << write;
        }
    }
    EXPECT_GT(applied, 0);
}

TEST(WalkWorld, AFailedStackComesBackWithinTheRestartsAndWakeFromSxAndStandbyArePowerCycles) {
    Traced t = RunEvents(PlainSeed(false),
                         {"restarts 1", "hs-stuck primary", "idle primary", "hs-free primary",
                          "idle primary", "active primary", "wake-sx secondary on",
                          "idle secondary", "sleep 1,0,2", "resume 0,1,2", "standby 2,1,0",
                          "hibernate 0,1,2", "resume 0,1,2"});
    // The failed D0 exit tears Primary's stack down, and the framework adds it again.
    EXPECT_EQ(Count(Step(t.trace, 3), "\"function\":\"EvtDriverDeviceAdd\",\"message\":\"entry\""),
              1u);
    // Idle and not armed, Secondary is brought to D0 for the sleep and sent down with it.
    std::string sleep = Step(t.trace, 9);
    EXPECT_NE(sleep.find("\"instance\":1,\"offset\":null,\"value\":null,\"actor\":1,\"name\":"
                         "\"EvtDeviceD0Entry\""),
              std::string::npos);
    // Standby idles every running controller.
    EXPECT_EQ(Count(Step(t.trace, 11), "\"name\":\"EvtDeviceD0Exit\",\"phase\":\"enter\""), 3u);
}

// The same events with the threads of each step under the scheduler, switched at every call:
// the walk holds, and its replay gives the same trace. (The sanitizer stages run this too.)
TEST(WalkWorld, TheWorldsEventsHoldWithThreadsAndReplayByteForByte) {
    pelvane::WalkRunOptions options;
    options.threads = true;
    pelvane::WalkResult drawn;
    pelvane::Walk walk = pelvane::DrawWalk(PlainSeed(true), 80, kAll, &drawn, options);
    ASSERT_TRUE(drawn.ok) << drawn.invariant << ": " << drawn.detail;
    ASSERT_TRUE(walk.threads);
    pelvane::WalkResult replayed = pelvane::RunWalk(walk);
    EXPECT_TRUE(replayed.ok);
    EXPECT_EQ(replayed.traceHash, drawn.traceHash);
}

} // namespace
