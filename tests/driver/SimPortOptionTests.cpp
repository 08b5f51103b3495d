// pelvane-sim's port options: what a PORTSC register reads and how long a port reset takes,
// from the command line through the world into the SoC's ports, seen in the driver's trace.
#include "SimRun.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

constexpr std::uint32_t kPortsc4 = 0x450;
constexpr std::int64_t kOneMs = -10000; // a relative 1 ms wait in 100 ns units

std::optional<pelvane::CommandLine> Parse(std::vector<std::string> args, std::string* errors) {
    std::ostringstream out;
    auto line = pelvane::ParseCommandLine(args, out);
    *errors = out.str();
    return line;
}

// What the multiport instance did in one callback.
struct Callback {
    int portsc4ResetWrites = 0;
    int oneMsWaits = 0;
    std::vector<int> events;
};

// The sleep-wake scenario on the multiport instance with the given options; the D0 exit to
// sleep and the D0 entry after it.
struct SleepWake {
    Callback exit;
    Callback entry;
    bool ok = false;
    std::string errors;

    explicit SleepWake(std::vector<std::string> args) {
        args.insert(args.end(), {"--scenario", "sleep-wake", "--instance", "multiport"});
        SimRun run = RunSim(args, [this](soc::Soc& soc, kmdf::Machine&) { Split(soc.Records()); });
        ok = run.ok;
        errors = run.errors;
    }

    // Callbacks in order: prepare hardware, D0 entry, D0 exit (sleep), D0 entry (wake), ...
    void Split(const std::vector<soc::TraceRecord>& records) {
        int exits = 0;
        int entries = 0;
        Callback* in = nullptr;
        for (const soc::TraceRecord& r : records) {
            if (r.actor != soc::kMultiport) {
                continue;
            }
            if (r.op == soc::Op::Trace && r.message.rfind("entry", 0) == 0) {
                if (r.function == "EvtDeviceD0Exit") {
                    in = ++exits == 1 ? &exit : nullptr;
                } else if (r.function == "EvtDeviceD0Entry") {
                    in = ++entries == 2 ? &entry : nullptr;
                } else if (r.function.rfind("EvtDevice", 0) == 0) {
                    in = nullptr;
                }
            }
            if (in == nullptr) {
                continue;
            }
            if (r.op == soc::Op::Write && r.block == soc::BlockKind::Controller &&
                r.offset == kPortsc4 && (r.value & 0x10) != 0) {
                ++in->portsc4ResetWrites;
            } else if (r.op == soc::Op::Delay && r.interval == kOneMs) {
                ++in->oneMsWaits;
            } else if (r.op == soc::Op::Event) {
                in->events.push_back(r.eventId);
            }
        }
    }
};

TEST(PelvaneSimPorts, Pair1LinkInPollingIsResetAndThePowerDownAbandoned) {
    // Nothing attached on pair 1, the SS port powered and polling: the D0 exit resets PORTSC4,
    // waits for the reset in 1 ms steps, at most 500, and gives up the power-down. With
    // "MPDP" 1 no SS PHY was off by then, so the next D0 entry finds nothing to resume and
    // writes no power event.
    SleepWake never({"--portsc", "4=0x2E0", "--port-reset-ms", "never", "--acpi", "MPDP=0x01"});
    ASSERT_TRUE(never.ok) << never.errors;
    EXPECT_EQ(never.exit.portsc4ResetWrites, 1);
    EXPECT_EQ(never.exit.oneMsWaits, 500);
    EXPECT_EQ(never.exit.events, std::vector<int>{3});
    EXPECT_EQ(never.entry.events, std::vector<int>{});

    // A reset that completes after 3 ms ends the wait early; the power-down is still given up.
    // By default SS PHY 2 was already off, and the D0 entry resumes as after a completed
    // power-down.
    SleepWake quick({"--portsc", "4=2E0", "--port-reset-ms", "3"});
    ASSERT_TRUE(quick.ok) << quick.errors;
    EXPECT_EQ(quick.exit.portsc4ResetWrites, 1);
    EXPECT_EQ(quick.exit.oneMsWaits, 3);
    EXPECT_EQ(quick.entry.events, (std::vector<int>{5, 5, 5, 4, 4, 6, 6, 2}));

    // In RxDetect the port is left alone, the power-down completes and the D0 entry resumes.
    SleepWake detect({"--portsc", "4=0x2A0", "--port-reset-ms", "never"});
    ASSERT_TRUE(detect.ok) << detect.errors;
    EXPECT_EQ(detect.exit.portsc4ResetWrites, 0);
    EXPECT_EQ(detect.exit.oneMsWaits, 0);
    EXPECT_EQ(detect.entry.events, (std::vector<int>{5, 5, 5, 4, 4, 6, 6, 2}));
}

TEST(PelvaneSimPorts, PortValueReadsAsSetWithTheResetOnTop) {
    soc::Soc soc;
    // Connected, enabled, U3, powered, high speed, a connect change, wake on connect and
    // bit 30, which the port model does not know.
    constexpr std::uint32_t value =
        0x1 | 0x2 | (3u << 5) | 0x200 | (3u << 10) | (1u << 17) | (1u << 25) | (1u << 30);
    soc.SetPortResetTime(soc::kMultiport, 4, 2'000'000);
    soc.SetPortValue(soc::kMultiport, 4, value);
    soc::PortModel& port = soc.Port(soc::kMultiport, 4);
    EXPECT_EQ(port.Peek(0), value);
    port.Write(value | 0x10, 0); // a reset, the connect change written back
    EXPECT_EQ(port.Peek(1'000'000) & 0x10, 0x10u);
    std::uint32_t after = port.Peek(2'000'000);
    EXPECT_EQ(after & 0x10, 0u) << "the reset completes after its time";
    EXPECT_EQ(after & (1u << 30), 1u << 30) << "unknown bits read as set";
    EXPECT_EQ((after >> 5) & 0xF, 0u) << "a connected port is in U0 after the reset";
    EXPECT_EQ(after & (1u << 17), 0u) << "the connect change was cleared";
}

TEST(PelvaneSimPorts, CommandLineReadsPortValuesAndResetTimes) {
    std::string errors;
    auto line =
        Parse({"--portsc", "4=0x2E0", "--portsc", "1=603", "--port-reset-ms", "25"}, &errors);
    ASSERT_TRUE(line) << errors;
    ASSERT_EQ(line->world.portsc.size(), 2u);
    EXPECT_EQ(line->world.portsc[0].k, 4);
    EXPECT_EQ(line->world.portsc[0].value, 0x2E0u);
    EXPECT_EQ(line->world.portsc[1].k, 1);
    EXPECT_EQ(line->world.portsc[1].value, 0x603u);
    EXPECT_EQ(line->world.portResetNs, 25'000'000u);
    line = Parse({"--port-reset-ms", "never"}, &errors);
    ASSERT_TRUE(line) << errors;
    EXPECT_EQ(line->world.portResetNs, soc::PortModel::kNever);
    EXPECT_FALSE(Parse({}, &errors)->world.portResetNs);

    for (std::vector<std::string> bad : std::vector<std::vector<std::string>>{
             {"--portsc", "5=0"},
             {"--portsc", "0=0"},
             {"--portsc", "4"},
             {"--portsc", "4=zz"},
             {"--portsc", "4=100000000"},
             {"--portsc", "=1"},
             {"--port-reset-ms", "soon"},
             {"--port-reset-ms", "-1"},
             {"--port-reset-ms"},
         }) {
        EXPECT_FALSE(Parse(bad, &errors)) << bad[0] << " " << (bad.size() > 1 ? bad[1] : "");
        EXPECT_NE(errors.find("pelvane-sim: "), std::string::npos) << bad[0];
    }
}

} // namespace
