// pelvane-sim's readable output: a header where each step begins, events by their manifest
// names, and the callbacks of each instance in the order they ran with status and duration,
// each with the wake-line calls, GPIO levels and power events it made.
#include "CommandLine.h"
#include "Manifest.h"
#include "Report.h"
#include "Scenario.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

soc::TraceRecord Diagnostic(std::uint64_t t, int actor, const char* function, const char* text) {
    soc::TraceRecord r;
    r.tNs = t;
    r.op = soc::Op::Trace;
    r.actor = actor;
    r.level = 4;
    r.function = function;
    r.message = text;
    return r;
}

soc::TraceRecord WakeLine(std::uint64_t t, int actor, std::int64_t line, NTSTATUS status) {
    soc::TraceRecord r;
    r.tNs = t;
    r.op = soc::Op::Request;
    r.actor = actor;
    r.target = "wake-line";
    r.line = line;
    r.mode = 2;
    r.status = status;
    return r;
}

std::vector<soc::TraceRecord> Records() {
    soc::TraceRecord event;
    event.tNs = 450;
    event.op = soc::Op::Event;
    event.actor = 1;
    event.eventId = 12;
    soc::TraceRecord gpio;
    gpio.tNs = 420;
    gpio.op = soc::Op::Request;
    gpio.actor = 1;
    gpio.target = "gpio";
    gpio.level = 1;
    soc::TraceRecord acpi = gpio;
    acpi.target = "acpi";
    acpi.method = "MPRD";
    soc::TraceRecord stop = event;
    stop.tNs = 900;
    stop.eventId = 3;
    return {
        Diagnostic(0, 1, "EvtDevicePrepareHardware", "entry, 2 translated resources"),
        Diagnostic(100, 1, "HsPhyInitPort", "HS PHY 2: entry"),
        Diagnostic(400, 1, "HsPhyInitPort", "exit, status 0x00000000"),
        acpi,
        gpio,
        gpio,
        event,
        Diagnostic(500, 1, "EvtDevicePrepareHardware", "exit, status 0x00000000"),
        // A callback that traces no entry: it ends where the next one begins.
        Diagnostic(900, 1, "EvtDeviceD0Exit", "to D-state 4"),
        stop,
        WakeLine(920, 1, 0x20B, STATUS_SUCCESS),
        WakeLine(930, 1, 0x20A, static_cast<NTSTATUS>(0xC000009D)),
        Diagnostic(940, 1, "EvtDeviceD0Exit", "wake lines requested"),
        Diagnostic(950, 1, "EvtDeviceReleaseHardware", "entry"),
        Diagnostic(990, 1, "EvtDeviceD0Entry", "entry"),
        gpio,
        Diagnostic(1190, 1, "EvtDeviceD0Entry", "exit, status 0xC0000001"),
    };
}

TEST(SimReport, TraceHeadsEachStepAndNamesEvents) {
    std::ostringstream out;
    pelvane::PrintReadableTrace(Records(), {{12, "PowerUpStart"}}, out);
    std::string text = out.str();
    auto prepare = text.find("-- secondary: prepare hardware (EvtDevicePrepareHardware)\n");
    auto phy = text.find("-- secondary: HS PHY 2 (HsPhyInitPort)\n");
    ASSERT_NE(prepare, std::string::npos) << text;
    ASSERT_NE(phy, std::string::npos) << text;
    EXPECT_LT(prepare, phy);
    EXPECT_LT(phy, text.find("HS PHY 2: entry"));
    EXPECT_NE(text.find("event 12 opcode 0  [PowerUpStart]\n"), std::string::npos) << text;
}

// Under each callback what it asked of the world and wrote to the provider; ACPI evaluations
// stay in the trace. The books close the summary.
TEST(SimReport, SummaryListsCallbacksInOrderWithStatusAndDuration) {
    std::ostringstream out;
    kmdf::Books books;
    books.objects = 1;
    books.references = 2;
    pelvane::PrintSummary(Records(), {{12, "PowerUpStart"}, {3, "PowerDown"}}, {1, 2}, books, out);
    EXPECT_EQ(out.str(), "secondary: 1190 ns of virtual time\n"
                         "  prepare hardware  status 0x00000000          500 ns\n"
                         "      gpio       1 x2\n"
                         "      events     12 PowerUpStart\n"
                         "  D0 exit           ran                         40 ns\n"
                         "      wake-line  0x20B mode 2, 0x20A mode 2 -> 0xC000009D\n"
                         "      events     3 PowerDown\n"
                         "  release hardware  ran                         40 ns\n"
                         "  D0 entry          status 0xC0000001          200 ns\n"
                         "      gpio       1\n"
                         "multiport: no records\n"
                         "books NOT balanced: objects 1, mappings 0, pool 0, notifications 0, "
                         "references 2, providers 0, wpp sessions 0\n");
}

// Sleep and wake of "Multiport" with MPRD = 1 and nothing attached: the summary shows the
// GPIO line on at the bring-up, off when the SS PHY of pair 0 is powered down and on again
// before it is programmed; the wake lines B then A of both pairs in mode 1, none at D3Final;
// the power events of the power-down and of the power-up that follows it.
TEST(SimReport, SummaryOfASleepAndWakeShowsEachTransitionsRequestsAndEvents) {
    soc::Soc soc;
    kmdf::Books books;
    {
        kmdf::Machine machine(soc);
        pelvane::WorldOptions options;
        options.acpi.push_back({"MPRD", pelvane::AcpiSetting::Kind::Byte, 1});
        pelvane::World world(soc, machine, options);
        std::ostringstream errors;
        ASSERT_TRUE(pelvane::RunScenario("sleep-wake", {2}, world, machine, errors))
            << errors.str();
        books = machine.GetBooks();
    }
    std::string error;
    auto manifest = timeline::LoadManifest(PELVANE_MANIFEST_PATH, &error);
    ASSERT_TRUE(manifest) << error;
    std::ostringstream out;
    pelvane::PrintSummary(soc.Records(), manifest->EventNames(), {2}, books, out);

    // The callback lines without their durations, which other tests pin.
    std::vector<std::string> lines;
    std::istringstream text(out.str());
    for (std::string line; std::getline(text, line);) {
        bool callback = line.rfind("  ", 0) == 0 && line.rfind("      ", 0) != 0;
        lines.push_back(callback ? line.substr(0, 37) : line);
    }
    const std::vector<std::string> expected = {
        lines.empty() ? "" : lines[0],
        "  prepare hardware  status 0x00000000",
        "      gpio       1",
        "      events     4 PowerIndexValue4",
        "  D0 entry          status 0x00000000",
        "  D0 exit           status 0x00000000",
        "      wake-line  0x23B mode 1, 0x22E mode 1, 0x247 mode 1, 0x244 mode 1",
        "      gpio       0",
        "      events     3 PowerStop",
        "  D0 entry          status 0x00000000",
        "      gpio       1",
        "      events     5 PowerIndexValue5 x3, 4 PowerIndexValue4 x2, "
        "6 PowerIndexValuePair6 x2, 2 PowerStart",
        "  D0 exit           status 0x00000000",
        "      gpio       0",
        "      events     3 PowerStop",
        "  release hardware  status 0x00000000",
        "books balanced: objects 0, mappings 0, pool 0, notifications 0, references 0, "
        "providers 0, wpp sessions 0",
    };
    EXPECT_EQ(lines, expected) << out.str();
    EXPECT_EQ(lines.empty() ? "" : lines[0].substr(0, 11), "multiport: ");
}

// The readable trace of an update of the wake-line service that is cancelled: each event of
// the service's device on a line of its own where it happened, and each request with the
// instance that answered it.
TEST(SimReport, TraceShowsTheServiceEventsAndWhichInstanceAnswered) {
    soc::Soc soc;
    {
        kmdf::Machine machine(soc);
        std::ostringstream errors;
        ASSERT_TRUE(pelvane::RunScenario("service-update-cancelled", {0}, soc, machine, errors))
            << errors.str();
    }
    std::ostringstream out;
    pelvane::PrintReadableTrace(soc.Records(), {}, out);
    std::vector<std::string> lines;
    std::istringstream text(out.str());
    for (std::string line; std::getline(text, line);) {
        bool service = line.find("==== pnp") != std::string::npos ||
                       line.find("request wake-line") != std::string::npos ||
                       line.find("==== system sleep") != std::string::npos;
        if (service) {
            lines.push_back(line.substr(line.find_first_not_of(' ', 26)));
        }
    }
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "==== pnp wake-line arrival service 1",
                         "==== pnp wake-line query-remove service 1 passed",
                         "==== pnp wake-line remove-cancelled service 1",
                         "==== system sleep",
                         "request wake-line line 0x209 mode 1 service 1 -> 0x00000000",
                         "request wake-line line 0x208 mode 1 service 1 -> 0x00000000",
                         "==== pnp wake-line query-remove service 1 passed",
                         "==== pnp wake-line remove-complete service 1",
                     }))
        << out.str();
}

// pelvane-sim's summary of one scenario on one instance with that --wpp setting.
std::string SummaryWith(const std::string& scenario, const char* instance, const char* wpp,
                        const pelvane::EventNames& names) {
    std::ostringstream errors;
    auto line = pelvane::ParseCommandLine(
        {"--scenario", scenario, "--instance", instance, "--wpp", wpp}, errors);
    EXPECT_TRUE(line) << errors.str();
    if (!line) {
        return "";
    }
    soc::Soc soc;
    kmdf::Books books;
    {
        kmdf::Machine machine(soc);
        pelvane::World world(soc, machine, line->world);
        EXPECT_TRUE(pelvane::RunScenario(line->scenario, line->instances, world, machine, errors))
            << errors.str();
        books = machine.GetBooks();
    }
    std::ostringstream out;
    pelvane::PrintSummary(soc.Records(), names, line->instances, books, out);
    return out.str();
}

// The summary under no trace session, under a verbose one and under one that traces the PHY
// steps' entries but not the callbacks' is the same whole: callbacks with status and duration,
// wake-line calls, GPIO levels, events and books. The one documented difference: an instance
// whose only records are diagnostics (device add, in load-add-unload) has none without them.
TEST(SimReport, SummaryIsTheSameUnderAnyTraceSession) {
    std::string error;
    auto manifest = timeline::LoadManifest(PELVANE_MANIFEST_PATH, &error);
    ASSERT_TRUE(manifest) << error;
    const pelvane::EventNames names = manifest->EventNames();
    for (const char* scenario :
         {"sleep-wake", "hibernate", "idle-hibernate", "d0-exit-fails", "late-service", "cycle"}) {
        for (const char* instance : {"primary", "secondary", "multiport"}) {
            SCOPED_TRACE(std::string(scenario) + " on " + instance);
            std::string traced = SummaryWith(scenario, instance, "5", names);
            EXPECT_EQ(SummaryWith(scenario, instance, "off", names), traced);
            EXPECT_EQ(SummaryWith(scenario, instance, "4:TRACE_PHY", names), traced);
            EXPECT_NE(traced.find("\n  release hardware  status 0x00000000"), std::string::npos)
                << traced;
        }
    }
    std::string failed = SummaryWith("d0-exit-fails", "primary", "off", names);
    EXPECT_NE(failed.find("\n  D0 exit           status 0xC0000001"), std::string::npos) << failed;

    std::string traced = SummaryWith("load-add-unload", "multiport", "5", names);
    std::string untraced = SummaryWith("load-add-unload", "multiport", "off", names);
    const std::string books = "books balanced: objects 0, mappings 0, pool 0, notifications 0, "
                              "references 0, providers 0, wpp sessions 0\n";
    EXPECT_EQ(traced, "multiport: 0 ns of virtual time\n" + books);
    EXPECT_EQ(untraced, "multiport: no records\n" + books);
}

} // namespace
