// A run streamed as pelvane-sim streams it: the SoC hands each record over once it is complete
// and keeps none, the machine and the devices keep bounded lists, and what comes out is what
// a run that kept everything shows.
#include "Report.h"
#include "Scenario.h"
#include "TimerEstimates.h"
#include "TransitionLog.h"
#include "World.h"

#include <evntrace.h>
#include <gtest/gtest.h>

#include <sstream>

namespace {

struct Collected : soc::TraceSink {
    std::vector<soc::TraceRecord> records;
    void Take(const soc::TraceRecord& r) override { records.push_back(r); }
};

struct CycleRun {
    soc::Soc soc;
    bool ok = false;
    kmdf::Books books;
    std::size_t diagnostics = 0;      // kept by the machine
    std::size_t infoDiagnostics = 0;  // counted by the machine
    std::vector<gpio::PinWrite> gpio; // kept by multiport's GPIO controller
    std::size_t wakeLineCalls = 0;
    std::size_t evaluations = 0;
};

// Three rounds of the cycle scenario on Multiport, the trace streamed to `sink` (or kept) and
// the lists bounded to `history` entries (0: all kept).
void CycleMultiport(CycleRun& run, soc::TraceSink* sink, std::size_t history) {
    run.soc.StreamTrace(sink);
    kmdf::Machine machine(run.soc);
    pelvane::WorldOptions options;
    options.cycles = 3;
    options.acpi.push_back({"MPRD", pelvane::AcpiSetting::Kind::Byte, 1});
    pelvane::World world(run.soc, machine, options);
    world.LimitHistory(history);
    std::ostringstream errors;
    run.ok = pelvane::RunScenario("cycle", {soc::kMultiport}, world, machine, errors);
    run.books = machine.GetBooks();
    run.diagnostics = machine.Diagnostics().size();
    run.infoDiagnostics = machine.CountDiagnostics(TRACE_LEVEL_INFORMATION);
    run.gpio = world.Gpio(soc::kMultiport).Writes();
    run.wakeLineCalls = world.Service().Calls().size();
    run.evaluations = world.Firmware(soc::kMultiport).Evaluations().size();
}

std::vector<std::string> Json(const std::vector<soc::TraceRecord>& records) {
    std::vector<std::string> lines;
    for (const soc::TraceRecord& r : records) {
        lines.push_back(soc::FormatJson(r));
    }
    return lines;
}

// The busy-waits of the SS PHY event handling grow record by record; streamed, each still
// arrives once and whole, in the order of the kept trace, and the SoC holds one record at most.
// The bounded lists keep the last entries of the whole lists, and the diagnostics are still
// counted in full; the summary is the same line for line.
TEST(StreamedRun, GivesTheKeptRunsRecordsAndSummaryWithBoundedLists) {
    CycleRun kept;
    CycleMultiport(kept, nullptr, 0);
    ASSERT_TRUE(kept.ok);

    CycleRun streamed;
    Collected sink;
    CycleMultiport(streamed, &sink, 4);
    ASSERT_TRUE(streamed.ok);
    EXPECT_LE(streamed.soc.Records().size(), 1u);
    streamed.soc.FlushTrace();
    EXPECT_TRUE(streamed.soc.Records().empty());
    EXPECT_EQ(Json(sink.records), Json(kept.soc.Records()));

    EXPECT_EQ(streamed.infoDiagnostics, kept.infoDiagnostics);
    EXPECT_LE(streamed.diagnostics, 8u);
    EXPECT_GT(kept.diagnostics, 8u);
    ASSERT_LE(streamed.gpio.size(), 8u);
    ASSERT_GT(kept.gpio.size(), streamed.gpio.size());
    for (std::size_t i = 1; i <= streamed.gpio.size(); ++i) {
        EXPECT_EQ(streamed.gpio[streamed.gpio.size() - i].level,
                  kept.gpio[kept.gpio.size() - i].level);
    }
    EXPECT_LE(streamed.wakeLineCalls, 8u);
    EXPECT_LE(streamed.evaluations, 8u);
    EXPECT_GT(kept.evaluations, 8u);

    std::ostringstream keptSummary;
    pelvane::PrintSummary(kept.soc.Records(), {}, {soc::kMultiport}, kept.books, keptSummary);
    pelvane::Summary summary({}, {soc::kMultiport});
    for (const soc::TraceRecord& r : sink.records) {
        summary.Add(r);
    }
    std::ostringstream streamedSummary;
    summary.Print(streamed.books, streamedSummary);
    EXPECT_EQ(streamedSummary.str(), keptSummary.str());
}

// The table joins the models by each transition's place in the scenario: a run under another
// model that failed early lacks the later transitions, which show "-"; instances are in
// ascending order whatever order their transitions ended in.
TEST(StreamedRun, TransitionTableJoinsTheModelsByPlaceInTheScenario) {
    pelvane::TransitionLog exact;
    pelvane::TransitionLog tick;
    exact.TransitionEnded({soc::kMultiport, 0, "start", 4680000});
    exact.TransitionEnded({soc::kPrimary, 0, "start", 4440000});
    exact.TransitionEnded({soc::kPrimary, 1, "D0 exit to D3 (sleep)", 200000});
    exact.TransitionEnded({soc::kPrimary, 2, "D0 entry from sleep", 1200000});
    exact.TransitionEnded({soc::kPrimary, 3, "stop", 500000});
    exact.TransitionEnded({soc::kMultiport, 1, "D0 exit to D3 (sleep)", 400000});
    tick.TransitionEnded({soc::kPrimary, 0, "start", 171875000});
    tick.TransitionEnded({soc::kPrimary, 1, "D0 exit to D3 (sleep)", 31250000});
    tick.TransitionEnded({soc::kPrimary, 3, "stop", 62500000});
    const std::vector<pelvane::TimerModel> models = {{"exact", 0}, {"15.625 ms", 15625000}};
    std::ostringstream out;
    pelvane::PrintTimerEstimates(models, {&exact, &tick}, out);
    EXPECT_EQ(out.str(), "  instance   transition                         exact   15.625 ms\n"
                         "  primary    start                              4.440     171.875\n"
                         "  primary    D0 exit to D3 (sleep)              0.200      31.250\n"
                         "  primary    D0 entry from sleep                1.200           -\n"
                         "  primary    stop                               0.500      62.500\n"
                         "  multiport  start                              4.680           -\n"
                         "  multiport  D0 exit to D3 (sleep)              0.400           -\n");
}

} // namespace
