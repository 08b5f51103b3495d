// pelvane-sim's readable output: a header where each step begins, events by their manifest
// names, and the callbacks of each instance in the order they ran with status and duration.
#include "Report.h"

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

std::vector<soc::TraceRecord> Records() {
    soc::TraceRecord event;
    event.tNs = 700;
    event.op = soc::Op::Event;
    event.actor = 1;
    event.eventId = 12;
    soc::TraceRecord gpio;
    gpio.tNs = 600;
    gpio.op = soc::Op::Request;
    gpio.actor = 1;
    gpio.target = "gpio";
    gpio.level = 1;
    return {
        Diagnostic(0, 1, "EvtDevicePrepareHardware", "entry, 2 translated resources"),
        Diagnostic(100, 1, "HsPhyInitPort", "HS PHY 2: entry"),
        Diagnostic(400, 1, "HsPhyInitPort", "exit, status 0x00000000"),
        Diagnostic(500, 1, "EvtDevicePrepareHardware", "exit, status 0x00000000"),
        gpio,
        gpio,
        event,
        Diagnostic(900, 1, "EvtDeviceD0Exit", "to D-state 5"),
        Diagnostic(950, 1, "EvtDeviceReleaseHardware", "entry"),
        Diagnostic(990, 1, "EvtDeviceD0Entry", "entry"),
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

TEST(SimReport, SummaryListsCallbacksInOrderWithStatusAndDuration) {
    std::ostringstream out;
    pelvane::PrintSummary(Records(), {{12, "PowerUpStart"}}, {1, 2}, out);
    EXPECT_EQ(out.str(), "secondary: 1190 ns of virtual time\n"
                         "  prepare hardware  status 0x00000000          500 ns\n"
                         "  D0 exit           ran                          0 ns\n"
                         "  release hardware  ran                         40 ns\n"
                         "  D0 entry          status 0xC0000001          200 ns\n"
                         "  requests: gpio level 1 x2\n"
                         "  events:   12 PowerUpStart\n"
                         "multiport: no records\n");
}

} // namespace
