// Random walks: the same seed draws the same walk and the same trace, a replay file runs the
// walk it was written from with the switch points it was drawn with, and events that are not
// legal where a shrunk walk reaches them are skipped rather than forced.
#include "Walk.h"
#include "WalkScheduler.h"

#include <soc/Layout.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sstream>

namespace {

const std::vector<int> kAll = {soc::kPrimary, soc::kSecondary, soc::kMultiport};

TEST(Walk, TheSameSeedDrawsTheSameWalkAndTraceAndItsReplayRunsIt) {
    pelvane::WalkResult first;
    pelvane::WalkResult second;
    pelvane::Walk a = pelvane::DrawWalk(11, 60, kAll, &first);
    pelvane::Walk b = pelvane::DrawWalk(11, 60, kAll, &second);
    ASSERT_TRUE(first.ok) << first.invariant << ": " << first.detail;
    EXPECT_EQ(a.events, b.events);
    EXPECT_EQ(first.traceHash, second.traceHash);

    std::stringstream file;
    pelvane::WriteReplay(a, file);
    std::string error;
    auto read = pelvane::ReadReplay(file, &error);
    ASSERT_TRUE(read) << error;
    EXPECT_EQ(read->seed, a.seed);
    EXPECT_EQ(read->instances, a.instances);
    EXPECT_EQ(read->events, a.events);
    pelvane::WalkResult replayed = pelvane::RunWalk(*read);
    EXPECT_TRUE(replayed.ok);
    EXPECT_EQ(replayed.traceHash, first.traceHash);

    pelvane::WalkResult other;
    pelvane::DrawWalk(12, 60, kAll, &other);
    EXPECT_NE(other.traceHash, first.traceHash);
}

TEST(Walk, EventsReadBackAsWrittenAndBadReplaysAreRefused) {
    for (const char* text : {"sleep 2,0,1", "idle-armed multiport", "port multiport 4 polling",
                             "port primary 1 reset-never", "fail WdfIoTargetOpen",
                             "service-surprise", "hs-stuck secondary"}) {
        auto e = pelvane::WalkEvent::Parse(text);
        ASSERT_TRUE(e) << text;
        EXPECT_EQ(e->Text(), text);
    }
    EXPECT_FALSE(pelvane::WalkEvent::Parse("idle primary one two"));
    // A threads line names its switch set; alone, the binding path of the first replays.
    for (auto [line, set] : {std::pair{"threads", pelvane::SwitchSet::BindingPath},
                             std::pair{"threads every-call", pelvane::SwitchSet::EveryCall}}) {
        std::stringstream in(std::string("pelvane walk 1\nseed 4\ninstances primary\n") + line +
                             "\nidle primary\n");
        std::string error;
        auto walk = pelvane::ReadReplay(in, &error);
        ASSERT_TRUE(walk) << error;
        EXPECT_TRUE(walk->threads);
        EXPECT_EQ(walk->switches, set);
        std::stringstream out;
        pelvane::WriteReplay(*walk, out);
        EXPECT_EQ(out.str(), in.str());
    }
    for (const char* bad :
         {"", "pelvane walk 1\ninstances primary\n", "pelvane walk 1\nseed 1\ninstances nowhere\n",
          "another file\nseed 1\ninstances primary\n",
          "pelvane walk 1\nseed 1\ninstances primary\nthreads sometimes\n"}) {
        std::istringstream in(bad);
        std::string error;
        EXPECT_FALSE(pelvane::ReadReplay(in, &error)) << bad;
        EXPECT_FALSE(error.empty());
    }
}

TEST(Walk, EventsThatAreNotLegalWhereTheyFallAreSkipped) {
    // Active while running, resume while awake, a second add, start while started: none is
    // something the framework or the system could deliver there.
    pelvane::Walk walk{5, kAll, false, {}};
    for (const char* text : {"active primary", "resume 0,1,2", "add secondary", "start multiport",
                             "sleep 0,1,2", "sleep 0,1,2", "resume 2,1,0", "idle primary",
                             "hibernate 1,0,2", "resume 0,1,2", "active primary"}) {
        walk.events.push_back(*pelvane::WalkEvent::Parse(text));
    }
    pelvane::WalkResult r = pelvane::RunWalk(walk);
    EXPECT_TRUE(r.ok) << r.invariant << ": " << r.detail;
    EXPECT_EQ(r.eventsApplied, 6u); // sleep, resume, idle, hibernate, resume, active
}

TEST(Walk, AStuckHsSuspendFailsTheD0ExitAndTheInstanceComesBackByEnumeration) {
    pelvane::Walk walk{5, kAll, false, {}};
    for (const char* text : {"hs-stuck primary", "sleep 0,1,2", "resume 0,1,2", "add primary",
                             "hs-free primary", "idle primary", "active primary"}) {
        walk.events.push_back(*pelvane::WalkEvent::Parse(text));
    }
    pelvane::WalkResult r = pelvane::RunWalk(walk);
    EXPECT_TRUE(r.ok) << r.invariant << ": " << r.detail;
    EXPECT_EQ(r.eventsApplied, walk.events.size());
}

TEST(Walk, ShrinkingKeepsOnlyTheEventsTheFailureNeedsAndAWalkRunsInAProcessOfItsOwn) {
    pelvane::Walk walk = pelvane::DrawWalk(21, 40, kAll, nullptr);
    ASSERT_GE(walk.events.size(), 10u);
    // A failure that needs the third event and the last one, in this order.
    const pelvane::WalkEvent first = walk.events[2];
    const pelvane::WalkEvent last = walk.events.back();
    auto fails = [&](const pelvane::Walk& w) {
        auto at = std::find(w.events.begin(), w.events.end(), first);
        return at != w.events.end() && std::find(at + 1, w.events.end(), last) != w.events.end();
    };
    int runs = 0;
    pelvane::Walk shrunk = pelvane::ShrinkWalk(walk, fails, &runs);
    EXPECT_EQ(shrunk.events, (std::vector<pelvane::WalkEvent>{first, last}));
    EXPECT_EQ(shrunk.seed, walk.seed);
    EXPECT_LT(runs, 200);

    EXPECT_TRUE(pelvane::RunWalkIsolated(walk).ok);
}

// Three threads that each note their name at every point, spawned by the main one: the seed
// alone fixes the order in which they meet, and one runs at a time, so the notes are never
// torn. After each point a thread enters the routines `calls`.
std::string Interleaving(std::uint64_t seed, pelvane::SwitchSet set = pelvane::SwitchSet::EveryCall,
                         const std::vector<const char*>& calls = {}) {
    pelvane::WalkScheduler scheduler(1, set);
    std::string notes;
    auto main = [&] {
        std::vector<int> threads;
        for (char name : {'a', 'b', 'c'}) {
            threads.push_back(scheduler.Spawn([&, name] {
                for (int i = 0; i < 8; ++i) {
                    notes += name;
                    scheduler.Point();
                    for (const char* routine : calls) {
                        scheduler.Entered(routine);
                    }
                }
            }));
        }
        scheduler.Join(threads);
    };
    scheduler.Run(seed, main, [] {});
    return notes;
}

TEST(Walk, TheSchedulerInterleavesTheThreadsAsTheSeedSays) {
    std::string first = Interleaving(3);
    EXPECT_EQ(first.size(), 24u);
    for (char name : {'a', 'b', 'c'}) {
        EXPECT_EQ(std::count(first.begin(), first.end(), name), 8);
    }
    EXPECT_EQ(Interleaving(3), first);
    EXPECT_NE(first.substr(0, 8), std::string(8, first[0])); // they do take turns
    EXPECT_NE(Interleaving(4), first);
}

// A replay of the binding path draws nothing at the other routines, so it runs as it did before
// they became points; every call draws at each, except further reads of the counter in a row.
TEST(Walk, TheSwitchSetDecidesWhichRoutinesArePoints) {
    using pelvane::SwitchSet;
    const char* counter = "KeQueryPerformanceCounter";
    for (std::uint64_t seed : {3, 4}) {
        std::string plain = Interleaving(seed);
        EXPECT_EQ(Interleaving(seed, SwitchSet::BindingPath, {"WdfCollectionGetCount", counter}),
                  plain);
        EXPECT_NE(Interleaving(seed, SwitchSet::BindingPath, {"WdfObjectDelete"}), plain);
        EXPECT_NE(Interleaving(seed, SwitchSet::EveryCall, {"WdfCollectionGetCount"}), plain);
        EXPECT_EQ(Interleaving(seed, SwitchSet::EveryCall, {counter, counter, counter}),
                  Interleaving(seed, SwitchSet::EveryCall, {counter}));
        EXPECT_NE(
            Interleaving(seed, SwitchSet::EveryCall, {counter, "RtlInitUnicodeString", counter}),
            Interleaving(seed, SwitchSet::EveryCall, {counter, "RtlInitUnicodeString"}));
    }
}

// A thread that waits lets the others go on until what it waits for holds; when every thread
// waits and none can go on, the stand-in ends the process as a deadlock.
TEST(Walk, AWaitUnderTheSchedulerLetsTheOthersGoOnAndADeadlockEndsTheProcess) {
    pelvane::WalkScheduler scheduler(5);
    bool set = false;
    std::string notes;
    scheduler.Run(
        7,
        [&] {
            int waiter = scheduler.Spawn([&] {
                while (!set) {
                    scheduler.Blocked("a test's wait");
                }
                notes += "woken";
            });
            int setter = scheduler.Spawn([&] {
                for (int i = 0; i < 5; ++i) {
                    scheduler.Point();
                }
                notes += "set ";
                set = true;
            });
            scheduler.Join({waiter, setter});
        },
        [] {});
    EXPECT_EQ(notes, "set woken");

    auto deadlock = [] {
        pelvane::WalkScheduler stuck(5);
        stuck.Run(
            1,
            [&] {
                for (;;) {
                    stuck.Blocked("a wait nothing ends");
                }
            },
            [] {});
    };
    EXPECT_DEATH(deadlock(), "deadlock, every thread waits: a wait nothing ends");
}

} // namespace
