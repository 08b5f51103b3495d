// The reviewed traces in tests/golden hold the documented sequences: each start the controller
// resets and the PHY programming of its instance, each sleep and wake the whole power-down and
// power-up of the documented power tables, in order. The traces themselves are compared with a
// fresh run by check-golden.sh; these tests make sure what was reviewed stays right.
#include "PowerFixture.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace seq;

// The value of "key" in one JSON line of the trace, as its text ("" when absent).
std::string Value(const std::string& line, const std::string& key) {
    std::string tag = "\"" + key + "\":";
    auto at = line.find(tag);
    if (at == std::string::npos) {
        return "";
    }
    at += tag.size();
    auto end = line.find_first_of(",}", at);
    std::string text = line.substr(at, end - at);
    if (text.size() >= 2 && text.front() == '"') {
        text = text.substr(1, text.size() - 2);
    }
    return text;
}

long long Number(const std::string& line, const std::string& key) {
    std::string text = Value(line, key);
    return text.empty() || text == "null" ? -1 : std::stoll(text);
}

// The register accesses and delays of a golden trace.
std::vector<soc::TraceRecord> LoadGolden(const std::string& name) {
    std::ifstream file(std::string(PELVANE_GOLDEN_DIR) + "/" + name + ".jsonl");
    EXPECT_TRUE(file) << name;
    std::vector<soc::TraceRecord> records;
    std::string line;
    while (std::getline(file, line)) {
        std::string op = Value(line, "op");
        soc::TraceRecord r;
        r.tNs = static_cast<std::uint64_t>(Number(line, "t_ns"));
        if (op == "read" || op == "write") {
            r.op = op == "read" ? soc::Op::Read : soc::Op::Write;
            std::string block = Value(line, "block");
            r.block = block == "controller" ? kCtl : block == "clockreset" ? kClk : kPhy;
            r.instance = static_cast<int>(Number(line, "instance"));
            r.offset = static_cast<std::uint32_t>(Number(line, "offset"));
            r.value = static_cast<std::uint32_t>(Number(line, "value"));
        } else if (op == "delay") {
            r.op = soc::Op::Delay;
            r.delay =
                Value(line, "kind") == "sleep" ? soc::DelayKind::Sleep : soc::DelayKind::BusyWait;
            r.interval = Number(line, "interval");
            r.lengthNs = static_cast<std::uint64_t>(Number(line, "length_ns"));
        } else {
            continue;
        }
        records.push_back(r);
    }
    return records;
}

// Records a step takes in the trace: a read-modify-write is a read and a write.
std::size_t RecordsOf(const Sequence& s) {
    std::size_t n = 0;
    for (const Step& step : s) {
        n += step.kind == Kind::Modify ? 2 : 1;
    }
    return n;
}

// Each sequence found whole, one after the other, from the start of the trace on.
::testing::AssertionResult HoldsInOrder(const std::vector<soc::TraceRecord>& trace,
                                        const std::vector<Sequence>& sequences, int instance) {
    std::size_t from = 0;
    for (std::size_t k = 0; k < sequences.size(); ++k) {
        std::size_t length = RecordsOf(sequences[k]);
        bool found = false;
        for (std::size_t at = from; !found && at + length <= trace.size(); ++at) {
            std::vector<soc::TraceRecord> window(trace.begin() + at, trace.begin() + at + length);
            if (Matches(window, sequences[k], instance)) {
                found = true;
                from = at + length;
            }
        }
        if (!found) {
            return ::testing::AssertionFailure()
                   << "sequence " << k << " (" << sequences[k].size() << " steps, first "
                   << sequences[k][0].Describe() << ") not found after record " << from;
        }
    }
    return ::testing::AssertionSuccess();
}

Sequence ControllerResets(unsigned first, unsigned second) {
    return {Set(kClk, first, 0x1),  SleepMs(1), Clear(kClk, first, 0x1),  SleepMs(1),
            Set(kClk, second, 0x1), SleepMs(1), Clear(kClk, second, 0x1), SleepMs(1)};
}

TEST(GoldenTraces, EachStartResetsTheControllerAndProgramsItsPhys) {
    for (const char* scenario : {"start", "sleep-wake", "hibernate", "cycle"}) {
        SCOPED_TRACE(scenario);
        std::string name = scenario;
        Sequence primary = ControllerResets(0xF004, 0xF000);
        primary += {Write(kPhy, 0x9C8C, 1)};
        primary += HsPhy(0);
        primary += SsPhy(0);
        EXPECT_TRUE(HoldsInOrder(LoadGolden(name + ".primary"), {primary}, 0));

        Sequence secondary = ControllerResets(0x10004, 0x10000);
        secondary += {Write(kPhy, 0xEC8C, 1)};
        secondary += HsPhy(1);
        secondary += SsPhy(1);
        EXPECT_TRUE(HoldsInOrder(LoadGolden(name + ".secondary"), {secondary}, 1));

        Sequence multiport = ControllerResets(0xA6004, 0xA6000);
        multiport += {Write(kPhy, 0xB88C, 1), Write(kPhy, 0xC88C, 1)};
        multiport += HsPhy(2);
        multiport += HsPhy(3);
        multiport += SsPhy(2);
        multiport += SsPhy(3);
        EXPECT_TRUE(HoldsInOrder(LoadGolden(name + ".multiport"), {multiport}, 2));
    }
    // A resume from hibernation and a restart bring the controller up again.
    Sequence again = ControllerResets(0xF004, 0xF000);
    again += {Write(kPhy, 0x9C8C, 1)};
    again += HsPhy(0);
    again += SsPhy(0);
    EXPECT_TRUE(HoldsInOrder(LoadGolden("cycle.primary"), {again, again, again}, 0));
}

// Sleep with nothing attached (D3, low power): no PHY is suspended with a device, the SS PHY
// is armed for wake detection only, then the wrapper's events. Wake: the shared bit set since
// the start is pulsed, the events disarmed, the PHYs taken out of suspend and low power.
Sequence SingleSleep(unsigned p) {
    const PhyRegs& r = kPhys[p];
    Sequence s = PortReads(p);
    s += PortReads(p);
    s += PortReads(p);
    s += {Set(kCtl, kUsb2Cfg0, 0x40)};
    s += Poll(kStatus0);
    s += ClearEvents(p);
    s += {Set(kCtl, kPipe0, 0x20000)};
    s += Poll(kStatus0);
    s += {Set(kCtl, kPipe0, 0x400000), Field(kPhy, r.wakeDetect, 0x11, 0x13),
          Write(kPhy, r.lowPower, 0), Write(kCtl, kEvtStat0, 0x4)};
    s += {WriteBack(kCtl, kEvtStat0), Set(kCtl, kEvtEnable0, 0x20), Set(kCtl, kEvtEnable0, 0x1008),
          WriteBack(kCtl, kIrqStat0), Set(kCtl, kIrqEnable, 0x1000)};
    return s;
}

Sequence SingleWake(unsigned p) {
    const PhyRegs& r = kPhys[p];
    Sequence s = {Read(kPhy, kSharedCtl), Clear(kPhy, kSharedCtl, 0x1), SleepMs(1),
                  Set(kPhy, kSharedCtl, 0x1)};
    s += {WriteBack(kCtl, kEvtStat0), Write(kCtl, kEvtEnable0, 0), WriteBack(kCtl, kIrqStat0),
          Clear(kCtl, kIrqEnable, 0x1000)};
    s += {Set(kCtl, kEvtStat0, 0x20), Clear(kCtl, kUsb2Cfg0, 0x40)};
    s += {Write(kPhy, r.lowPower, 1), Clear(kCtl, kPipe0, 0x400000),
          Clear(kPhy, r.wakeDetect, 0x13)};
    s += ClearEvents(p);
    s += {Clear(kCtl, kPipe0, 0x20000)};
    return s;
}

// "Multiport" with nothing attached and MPDP 0: both SS PHYs powered off at sleep, and both
// programmed again at wake, HS PHY 3 too while HS port 2 looks for a device.
Sequence MultiportSleep() {
    Sequence s = PortReads(2);
    s += PortReads(2);
    s += PortReads(2);
    s += {Set(kCtl, kUsb2Cfg0, 0x40)};
    s += Poll(kStatus0);
    s += {Set(kCtl, kUsb2Cfg1, 0x40)};
    s += Poll(kStatus1);
    s += ClearEvents(2);
    s += ClearEvents(3);
    s += {Set(kCtl, kPipe0, 0x20000)};
    s += Poll(kStatus0);
    s += {Set(kCtl, kPipe0, 0x400000), Field(kPhy, 0xBE08, 0x11, 0x13), Write(kPhy, 0xB88C, 0),
          Write(kPhy, 0xB840, 0), Write(kCtl, kEvtStat0, 0x4)};
    s += {Read(kCtl, kPortsc4), Set(kCtl, kPipe1, 0x20000)};
    s += Poll(kStatus1);
    s += {Set(kCtl, kPipe1, 0x400000), Field(kPhy, 0xCE08, 0x11, 0x13), Write(kPhy, 0xC88C, 0),
          Write(kPhy, 0xC840, 0), Write(kCtl, kEvtStat1, 0x4)};
    s += {WriteBack(kCtl, kEvtStat0), Field(kCtl, kEvtEnable0, 0x20, 0x1028),
          WriteBack(kCtl, kIrqStat0)};
    s += {WriteBack(kCtl, kEvtStat1), Field(kCtl, kEvtEnable1, 0x20, 0x1028),
          WriteBack(kCtl, kIrqStat1)};
    s += {Set(kCtl, kIrqEnable, 0x1000)};
    return s;
}

Sequence MultiportWake() {
    Sequence s = {Read(kPhy, kSharedCtl), Clear(kPhy, kSharedCtl, 0x1), SleepMs(1),
                  Set(kPhy, kSharedCtl, 0x1)};
    s += {WriteBack(kCtl, kEvtStat0),     Write(kCtl, kEvtEnable0, 0), WriteBack(kCtl, kIrqStat0),
          WriteBack(kCtl, kEvtStat1),     Write(kCtl, kEvtEnable1, 0), WriteBack(kCtl, kIrqStat1),
          Clear(kCtl, kIrqEnable, 0x1000)};
    s += {Set(kCtl, kEvtStat0, 0x20), Set(kCtl, kEvtStat1, 0x20), Read(kCtl, kPortsc2)};
    s += HsPhy(3);
    s += {Clear(kCtl, kUsb2Cfg0, 0x40), Clear(kCtl, kUsb2Cfg1, 0x40)};
    s += SsPhy(2);
    s += SsPhy(3);
    s += {Write(kPhy, 0xB88C, 1),        Write(kPhy, 0xC88C, 1),    Clear(kCtl, kPipe0, 0x400000),
          Clear(kCtl, kPipe1, 0x400000), Clear(kPhy, 0xBE08, 0x13), Clear(kPhy, 0xCE08, 0x13)};
    s += ClearEvents(2);
    s += ClearEvents(3);
    s += {Clear(kCtl, kPipe0, 0x20000), Clear(kCtl, kPipe1, 0x20000)};
    return s;
}

TEST(GoldenTraces, SleepAndWakeOfEachInstanceFollowThePowerTables) {
    EXPECT_TRUE(HoldsInOrder(LoadGolden("sleep-wake.primary"), {SingleSleep(0), SingleWake(0)}, 0));
    EXPECT_TRUE(
        HoldsInOrder(LoadGolden("sleep-wake.secondary"), {SingleSleep(1), SingleWake(1)}, 1));
    EXPECT_TRUE(
        HoldsInOrder(LoadGolden("sleep-wake.multiport"), {MultiportSleep(), MultiportWake()}, 2));
    // The late service changes only the requests: the same hardware twice.
    EXPECT_TRUE(HoldsInOrder(LoadGolden("late-service.primary"),
                             {SingleSleep(0), SingleWake(0), SingleSleep(0), SingleWake(0)}, 0));
    // So does the service's life: an update, or a surprise removal and a new instance.
    EXPECT_TRUE(
        HoldsInOrder(LoadGolden("service-update.secondary"), {SingleSleep(1), SingleWake(1)}, 1));
    EXPECT_TRUE(HoldsInOrder(LoadGolden("service-surprise-removal.multiport"),
                             {MultiportSleep(), MultiportWake(), MultiportSleep(), MultiportWake()},
                             2));
}

// What a golden trace shows of the wake-line service, in order: each event of its device with
// the instance ("query-remove 1 passed"), and each request with the instance that answered it
// ("0x209 -> 2").
std::vector<std::string> ServiceRouting(const std::string& name) {
    std::ifstream file(std::string(PELVANE_GOLDEN_DIR) + "/" + name + ".jsonl");
    EXPECT_TRUE(file) << name;
    std::vector<std::string> routing;
    std::string line;
    while (std::getline(file, line)) {
        std::string op = Value(line, "op");
        if (Value(line, "target") != "wake-line") {
            continue;
        }
        std::string service = Value(line, "service");
        if (op == "pnp") {
            std::string vetoed = Value(line, "vetoed");
            std::string outcome = vetoed.empty() ? "" : vetoed == "true" ? " vetoed" : " passed";
            routing.push_back(Value(line, "event") + " " + service + outcome);
        } else if (op == "request") {
            char text[32];
            std::snprintf(text, sizeof text, "0x%llX -> ", Number(line, "line"));
            routing.push_back(text + service);
        }
    }
    return routing;
}

// The wake-line requests of one instance's sleep, each answered by `service`.
std::vector<std::string> SleepRequests(const char* instance, int service) {
    std::vector<const char*> lines = {"0x209", "0x208"};
    if (std::string(instance) == "secondary") {
        lines = {"0x20B", "0x20A"};
    } else if (std::string(instance) == "multiport") {
        lines = {"0x23B", "0x22E", "0x247", "0x244"};
    }
    std::vector<std::string> out;
    for (const char* l : lines) {
        out.push_back(std::string(l) + " -> " + std::to_string(service));
    }
    return out;
}

std::vector<std::string> Then(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Each request reaches the instance bound at the time, none reaches a removed instance, and
// the service's events come in the order PnP delivers them. The world withdraws the service
// after the scenario, once the driver has released the hardware.
TEST(GoldenTraces, WakeLineRequestsReachTheServiceInstanceBoundAtTheTime) {
    const std::vector<std::string> lastWithdrawn[] = {
        {"query-remove 1 passed", "remove-complete 1"},
        {"query-remove 2 passed", "remove-complete 2"}};
    for (const char* instance : {"primary", "secondary", "multiport"}) {
        SCOPED_TRACE(instance);
        std::string suffix = std::string(".") + instance;
        // Updated: the new instance answers the sleep.
        EXPECT_EQ(
            ServiceRouting("service-update" + suffix),
            Then(Then({"arrival 1", "query-remove 1 passed", "remove-complete 1", "arrival 2"},
                      SleepRequests(instance, 2)),
                 lastWithdrawn[1]));
        // Cancelled: the driver has opened instance 1 again, and it answers.
        EXPECT_EQ(ServiceRouting("service-update-cancelled" + suffix),
                  Then(Then({"arrival 1", "query-remove 1 passed", "remove-cancelled 1"},
                            SleepRequests(instance, 1)),
                       lastWithdrawn[0]));
        // Surprise-removed: the first sleep has no service to ask, the second asks the new one.
        EXPECT_EQ(
            ServiceRouting("service-surprise-removal" + suffix),
            Then(Then({"arrival 1", "surprise-removal 1", "arrival 2"}, SleepRequests(instance, 2)),
                 lastWithdrawn[1]));
        // Sleep and wake has the one instance throughout.
        EXPECT_EQ(ServiceRouting("sleep-wake" + suffix),
                  Then(Then({"arrival 1"}, SleepRequests(instance, 1)), lastWithdrawn[0]));
    }
}

} // namespace
