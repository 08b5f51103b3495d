// Trace calls as the trace preprocessor builds them: a call evaluates its arguments only when a
// session enables its flag and level, so the hardware sees the same accesses whoever traces,
// but for the reads that are documented as made only for an enabled diagnostic.
#include "CommandLine.h"
#include "Harness.h"
#include "Scenario.h"
#include "Bands.h"

#include "frame/Trace.h"
#include <WppRecorder.h>

#include <map>
#include <sstream>

namespace {

class TraceSession : public MachineTest {};

TEST_F(TraceSession, CallsEvaluateTheirArgumentsOnlyWhenTheSessionEnablesFlagAndLevel) {
    const ULONG phy = 1u << 5, power = 1u << 3; // the sixth and fourth WPP_DEFINE_BIT
    struct Case {
        const char* what;
        std::optional<kmdf::WppSession> session;
        bool flagEnabled;   // WPP_LEVEL_ENABLED(TRACE_PHY)
        bool infoRecorded;  // an information call on TRACE_PHY
        bool errorRecorded; // an error call on TRACE_PHY
    };
    const Case cases[] = {
        {"no session", std::nullopt, false, false, false},
        {"verbose, every flag", kmdf::WppSession{TRACE_LEVEL_VERBOSE, 0xFFFFFFFF}, true, true,
         true},
        {"error, every flag", kmdf::WppSession{TRACE_LEVEL_ERROR, 0xFFFFFFFF}, true, false, true},
        {"information, TRACE_PHY", kmdf::WppSession{TRACE_LEVEL_INFORMATION, phy}, true, true,
         true},
        {"verbose, TRACE_POWER only", kmdf::WppSession{TRACE_LEVEL_VERBOSE, power}, false, false,
         false},
        {"level none, every flag", kmdf::WppSession{TRACE_LEVEL_NONE, 0xFFFFFFFF}, true, false,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        machine.SetWppSession(c.session);
        int evaluated = 0;
        std::size_t before = machine.Diagnostics().size();
        TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_PHY, "info %d", ++evaluated);
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_PHY, "error %d", evaluated += 10);
        EXPECT_EQ(evaluated, (c.infoRecorded ? 1 : 0) + (c.errorRecorded ? 10 : 0));
        EXPECT_EQ(machine.Diagnostics().size() - before, c.infoRecorded + c.errorRecorded + 0u);
        EXPECT_EQ(static_cast<bool>(WPP_LEVEL_ENABLED(TRACE_PHY)), c.flagEnabled);
    }
}

TEST(TraceSessionOption, TakesOffOrALevelWithTheDriversFlagsByName) {
    std::optional<kmdf::WppSession> s = kmdf::WppSession{1, 1};
    ASSERT_TRUE(pelvane::ParseWppSession("off", s));
    EXPECT_FALSE(s);
    ASSERT_TRUE(pelvane::ParseWppSession("5", s));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->level, 5);
    EXPECT_EQ(s->flags, 0xFFFFFFFFu);
    // TRACE_POWER and TRACE_PHY are the fourth and sixth flags of the control GUID.
    ASSERT_TRUE(pelvane::ParseWppSession("3:TRACE_PHY,TRACE_POWER", s));
    EXPECT_EQ(s->level, 3);
    EXPECT_EQ(s->flags, 0x28u);
    for (const char* bad : {"", "on", "256", "-1", "5:", "5:TRACE_PHY,", "5:trace_phy",
                            "5:TRACE_FOO", "5;TRACE_PHY", ":TRACE_PHY"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(pelvane::ParseWppSession(bad, s));
    }
    std::ostringstream errors;
    EXPECT_FALSE(pelvane::ParseCommandLine({"--wpp", "5:TRACE_FOO"}, errors));
    EXPECT_NE(errors.str().find("TRACE_DRIVER,TRACE_DEVICE,TRACE_HARDWARE"), std::string::npos)
        << errors.str();
}

// The records of a pelvane-sim run of one scenario on one instance with that --wpp setting.
std::vector<soc::TraceRecord> RunSim(const std::string& scenario, const char* instance,
                                     const char* wpp) {
    std::ostringstream errors;
    auto line = pelvane::ParseCommandLine(
        {"--scenario", scenario, "--instance", instance, "--wpp", wpp}, errors);
    EXPECT_TRUE(line) << errors.str();
    if (!line) {
        return {};
    }
    soc::Soc soc;
    {
        kmdf::Machine machine(soc);
        pelvane::World world(soc, machine, line->world);
        EXPECT_TRUE(pelvane::RunScenario(line->scenario, line->instances, world, machine, errors))
            << errors.str();
    }
    return soc.Records();
}

// What the world outside the driver sees of a run: every record but the diagnostics, in order.
std::vector<std::string> RunOutside(const std::string& scenario, const char* instance,
                                    const char* wpp) {
    std::vector<std::string> out;
    for (const soc::TraceRecord& r : RunSim(scenario, instance, wpp)) {
        if (r.op != soc::Op::Trace) {
            out.push_back(soc::FormatJson(r));
        }
    }
    return out;
}

// The bring-up reads GLUE_STATUS0 for a diagnostic, and only when diagnostics are enabled.
bool GlueStatusRead(const std::string& record) {
    return record.find("\"op\":\"read\"") != std::string::npos &&
           record.find("\"name\":\"GLUE_STATUS0\"") != std::string::npos;
}

// `on` is `off` with GLUE_STATUS0 reads inserted, as many as `inserted` receives; otherwise
// the first record where they part.
::testing::AssertionResult SameBesideDiagnosticReads(const std::vector<std::string>& off,
                                                     const std::vector<std::string>& on,
                                                     std::size_t& inserted) {
    std::size_t i = 0;
    inserted = 0;
    for (std::size_t k = 0; k < on.size(); ++k) {
        if (i < off.size() && on[k] == off[i]) {
            ++i;
        } else if (GlueStatusRead(on[k])) {
            ++inserted;
        } else {
            return ::testing::AssertionFailure()
                   << "record " << k << " traced: " << on[k] << "\nuntraced record " << i << ": "
                   << (i < off.size() ? off[i] : "(none)");
        }
    }
    if (i != off.size()) {
        return ::testing::AssertionFailure() << "the untraced run goes on: " << off[i];
    }
    return ::testing::AssertionSuccess();
}

std::size_t BringUps(const std::string& scenario) {
    // Each start and each resume after a power loss brings the controller up.
    const std::map<std::string, std::size_t> count = {
        {"start", 1},        {"sleep-wake", 1},      {"d3final", 1},
        {"hibernate", 2},    {"stop-restart", 2},    {"late-service", 1},
        {"cycle", 4},        {"load-add-unload", 0}, {"idle", 1},
        {"idle-sleep", 1},   {"idle-hibernate", 2},  {"idle-hibernate-armed", 2},
        {"fast-startup", 2}, {"shutdown", 1},        {"d0-exit-fails", 1}};
    auto it = count.find(scenario);
    return it == count.end() ? 0 : it->second;
}

TEST(TraceSessionScenarios, EveryScenarioRunsTheSameWithTracingOffAndFullyOn) {
    for (const pelvane::ScenarioInfo& scenario : pelvane::Scenarios()) {
        for (const char* instance : {"primary", "secondary", "multiport"}) {
            SCOPED_TRACE(std::string(scenario.name) + " on " + instance);
            std::vector<std::string> off = RunOutside(scenario.name, instance, "off");
            std::vector<std::string> on = RunOutside(scenario.name, instance, "5");
            std::size_t inserted = 0;
            EXPECT_TRUE(SameBesideDiagnosticReads(off, on, inserted));
            if (BringUps(scenario.name) > 0) { // a scenario added later: the rest holds
                EXPECT_EQ(inserted, BringUps(scenario.name));
            }
        }
    }
}

// Every callback and sequence traces its entry and its exit: in a cycle on each instance, the
// steps that had none before open and close, and every step that opens also closes.
TEST(TraceSessionScenarios, EveryStepThatTracesItsEntryTracesItsExit) {
    const char* const named[] = {"OnWakeLineArrival", "RegisterWakeLineArrival",
                                 "TearDownWakeLine",  "GetSocVersion",
                                 "HsPhyReset",        "SsPhyReset",
                                 "PhyWriteTable"};
    for (const char* instance : {"primary", "secondary", "multiport"}) {
        SCOPED_TRACE(instance);
        std::map<std::string, std::pair<int, int>> steps; // function: entries, exits
        for (const soc::TraceRecord& r : RunSim("cycle", instance, "5")) {
            if (r.op == soc::Op::Trace && timeline::IsEntryMessage(r.message)) {
                ++steps[r.function].first;
            } else if (r.op == soc::Op::Trace && timeline::IsExitMessage(r.message)) {
                ++steps[r.function].second;
            }
        }
        for (const char* function : named) {
            EXPECT_GT(steps[function].first, 0) << function;
        }
        for (const auto& [function, count] : steps) {
            EXPECT_EQ(count.first, count.second) << function << " entries and exits";
        }
    }
}

} // namespace
