// A disk behind a controller carries the hibernation or the paging file: what the power-life
// scenarios that reach S4 do to that controller, as the whole trace shows it.
#include "SimRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// Per instance, in trace order: the target state of each D0 exit, "image written" or "image
// lost" where the image record falls, and "write" for each register write or GPIO request the
// hibernation instance makes between its hibernation D0 exit and the image.
std::vector<std::string> S4Story(const std::vector<soc::TraceRecord>& records, int hibernation) {
    std::vector<std::string> story;
    bool between = false;
    for (auto& r : records) {
        if (r.op == soc::Op::Callback && r.function == "EvtDeviceD0Exit" && !r.returned) {
            story.push_back(std::string(soc::InstanceName(r.actor)) + " D0 exit to " +
                            std::to_string(r.state));
            between = between || (r.actor == hibernation && r.action == 3);
        } else if (r.op == soc::Op::System && r.event == "hibernation-image") {
            story.push_back(r.device + (r.written ? " image written" : " image lost"));
            between = false;
        } else if (between && r.actor == hibernation &&
                   (r.op == soc::Op::Write || (r.op == soc::Op::Request && r.target == "gpio"))) {
            if (story.back() != "write") {
                story.push_back("write");
            }
        }
    }
    return story;
}

// Each instance in turn carries the hibernation file while all three run: only it gets
// PrepareForHibernation, it is left alone until the image is written, and the resume brings
// every controller back up as a host. Idle and not armed, only it is brought back to D0 first.
TEST(HibernationPath, OnlyTheInstanceWithTheFileIsLeftPoweredAndItsImageIsWritten) {
    for (const char* scenario :
         {"hibernate", "fast-startup", "idle-hibernate", "idle-hibernate-armed"}) {
        const bool idle = std::string(scenario).rfind("idle", 0) == 0;
        const bool armed = std::string(scenario) == "idle-hibernate-armed";
        for (int instance : {soc::kPrimary, soc::kSecondary, soc::kMultiport}) {
            std::vector<std::string> story;
            auto run = RunSim(
                {"--scenario", scenario, "--instance", "all", "--hibernation-device",
                 soc::InstanceName(instance)},
                [&](soc::Soc& soc, kmdf::Machine&) { story = S4Story(soc.Records(), instance); });
            ASSERT_TRUE(run.ok) << scenario << " " << instance << ": " << run.errors;
            std::vector<std::string> exits;
            for (auto& line : story) {
                if (line.find("image") != std::string::npos) {
                    break;
                }
                exits.push_back(line);
            }
            // Instances run on threads of their own: compare the hibernation exits as a set.
            std::vector<std::string> expected;
            for (int other : {soc::kPrimary, soc::kSecondary, soc::kMultiport}) {
                const std::string name = soc::InstanceName(other);
                if (idle) {
                    expected.push_back(name + " D0 exit to 4");
                }
                if (other == instance) {
                    expected.push_back(name + " D0 exit to 6");
                } else if (!idle || armed) {
                    expected.push_back(name + " D0 exit to 4");
                }
            }
            std::sort(exits.begin(), exits.end());
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(exits, expected) << scenario << " " << instance;
            EXPECT_NE(std::find(story.begin(), story.end(),
                                std::string(soc::InstanceName(instance)) + " image written"),
                      story.end())
                << scenario << " " << instance;
            EXPECT_EQ(std::find(story.begin(), story.end(), "write"), story.end())
                << scenario << " " << instance;
        }
    }
}

// The SoC model itself: a write made for the watched instance once its D0 exit has begun loses
// the image, and the run then fails; writes before that D0 exit, or by another instance, do
// not. Nor does a power-down of an earlier idle that a D0 entry undid; one that the system
// went to S4 in loses the image, though no D0 exit followed the watch.
TEST(HibernationPath, AWriteOnThePathAfterTheD0ExitBeganLosesTheImage) {
    enum class Idle { None, Undone, Still };
    auto image = [](bool touchAfterExit, int writer, Idle idle) {
        soc::Soc soc;
        soc.SetActor(soc::kMultiport);
        auto write = [&soc](int instance) {
            soc.Write32(soc::PhysicalOf(soc::BlockKind::Controller, instance, 0xC110), 1);
        };
        if (idle != Idle::None) {
            soc.OnCallback({"EvtDeviceD0Exit", false, soc::kMultiport, 0, 4, 0});
            write(soc::kMultiport);
        }
        if (idle == Idle::Undone) {
            soc.OnCallback({"EvtDeviceD0Entry", false, soc::kMultiport, 0, 4, 0});
        }
        soc.WatchHibernationPath(soc::kMultiport);
        if (idle != Idle::Still) {
            write(soc::kMultiport);
            soc.OnCallback({"EvtDeviceD0Exit", false, soc::kMultiport, 3, 6, 0});
        }
        soc.SetActor(writer);
        if (touchAfterExit) {
            write(writer);
        }
        soc.SetActor(-1);
        bool written = false;
        EXPECT_TRUE(soc.WriteHibernationImage(&written));
        EXPECT_FALSE(soc.WriteHibernationImage(&written)) << "the watch ends with the image";
        return written;
    };
    EXPECT_TRUE(image(false, soc::kMultiport, Idle::None));
    EXPECT_FALSE(image(true, soc::kMultiport, Idle::None));
    EXPECT_TRUE(image(true, soc::kPrimary, Idle::None));
    EXPECT_TRUE(image(false, soc::kMultiport, Idle::Undone));
    EXPECT_FALSE(image(false, soc::kMultiport, Idle::Still));
}

// A paging file behind each instance in turn makes its stack not power pageable: every S4
// scenario runs with the stand-in faulting on paged pool in D0 entry and D0 exit.
TEST(HibernationPath, PagingFileBehindEachInstanceRunsEveryS4ScenarioWithoutPagedPool) {
    for (const char* scenario :
         {"hibernate", "fast-startup", "idle-hibernate", "idle-hibernate-armed"}) {
        for (const char* instance : {"primary", "secondary", "multiport"}) {
            bool noPagedPool = true;
            auto run = RunSim({"--scenario", scenario, "--instance", "all", "--paging-device",
                               instance, "--hibernation-device", instance},
                              [&](soc::Soc&, kmdf::Machine& machine) {
                                  noPagedPool = machine.GetBooks().pagedPoolAllocations == 0;
                              });
            EXPECT_TRUE(run.ok) << scenario << " " << instance << ": " << run.errors;
            EXPECT_TRUE(noPagedPool);
        }
    }
    EXPECT_FALSE(RunSim({"--scenario", "sleep-wake", "--hibernation-device", "primary"}).parsed);
    EXPECT_FALSE(RunSim({"--scenario", "hibernate", "--hibernation-device", "nowhere"}).parsed);
}

// Multiport's GPIO line, with MPRD set, as D0 exit and D0 entry drive it, and how many times
// the GPIO target is opened: once at the start, and again at the resume from S4 only on a
// stack that is power pageable. With the paging file alone behind Multiport its hibernation
// D0 exit is to D3; closing the target there and opening one in the resume would be file
// operations on a stack that is not power pageable, which the stand-in bug-checks.
TEST(HibernationPath, PagingFileBehindMultiportKeepsItsGpioTargetOpenAcrossS4) {
    struct Seen {
        std::vector<std::string> story;
        std::size_t opens = 0;
    };
    auto run = [](const char* scenario, bool paging) {
        Seen seen;
        std::vector<std::string> args = {"--scenario", scenario, "--instance",
                                         "multiport",  "--acpi", "MPRD=0x01"};
        if (paging) {
            args.insert(args.end(), {"--paging-device", "multiport"});
        }
        auto sim = RunSim(args, [&](soc::Soc& soc, kmdf::Machine& machine) {
            for (auto& r : soc.Records()) {
                if (r.op == soc::Op::Callback && !r.returned &&
                    r.function.rfind("EvtDeviceD0", 0) == 0) {
                    seen.story.push_back(r.function.substr(9) + " " + std::to_string(r.state) +
                                         " action " + std::to_string(r.action));
                } else if (r.op == soc::Op::Request && r.target == "gpio") {
                    seen.story.push_back("gpio " + std::to_string(r.level));
                }
            }
            seen.opens = machine.CallCount("WdfIoTargetOpen");
        });
        EXPECT_TRUE(sim.ok) << scenario << (paging ? " paging: " : ": ") << sim.errors;
        return seen;
    };
    const std::vector<std::string> s4 = {"gpio 1", // prepare hardware
                                         "D0Entry 5 action 0",
                                         "D0Exit 4 action 3",
                                         "gpio 0", // SS PHY 2 off
                                         "D0Entry 4 action 3",
                                         "gpio 1", // bring-up after the power loss
                                         "D0Exit 5 action 0",
                                         "gpio 0"}; // stop
    for (const char* scenario : {"hibernate", "fast-startup"}) {
        Seen pageable = run(scenario, false);
        Seen paging = run(scenario, true);
        EXPECT_EQ(pageable.story, s4) << scenario;
        EXPECT_EQ(paging.story, s4) << scenario;
        EXPECT_EQ(pageable.opens, paging.opens + 1) << scenario;
    }
    Seen pageable = run("sleep-wake", false);
    Seen paging = run("sleep-wake", true);
    EXPECT_EQ(paging.story, (std::vector<std::string>{
                                "gpio 1", "D0Entry 5 action 0", "D0Exit 4 action 2", "gpio 0",
                                "D0Entry 4 action 2", "gpio 1", "D0Exit 5 action 0", "gpio 0"}));
    EXPECT_EQ(pageable.story, paging.story);
    EXPECT_EQ(pageable.opens, paging.opens);
}

} // namespace
