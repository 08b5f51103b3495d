// The timeline of a known trace read back: lanes, bands with their nesting and ends, marks of
// every kind, the shared time scale and the axis labels.
#include <Axis.h>
#include <Timeline.h>
#include <XmlReader.h>

#include <gtest/gtest.h>

#include <sstream>
#include <tuple>

using soc::DelayKind;
using soc::Op;
using soc::TraceRecord;
using timeline::XmlElement;

namespace {

TraceRecord Diag(int actor, std::uint64_t t, std::string function, std::string message,
                 int level = 4) {
    TraceRecord r;
    r.tNs = t;
    r.op = Op::Trace;
    r.actor = actor;
    r.level = level;
    r.flag = "TRACE_POWER";
    r.function = std::move(function);
    r.message = std::move(message);
    return r;
}

TraceRecord Access(int actor, std::uint64_t t, Op op) {
    TraceRecord r;
    r.tNs = t;
    r.op = op;
    r.actor = actor;
    r.instance = actor;
    r.offset = 0x100;
    return r;
}

TraceRecord Delay(int actor, std::uint64_t t, DelayKind kind, std::uint64_t length) {
    TraceRecord r;
    r.tNs = t;
    r.op = Op::Delay;
    r.actor = actor;
    r.delay = kind;
    r.lengthNs = length;
    r.counterReads = kind == DelayKind::BusyWait ? 3 : 0;
    return r;
}

TraceRecord Request(int actor, std::uint64_t t, std::string target, std::int32_t status = 0) {
    TraceRecord r;
    r.tNs = t;
    r.op = Op::Request;
    r.actor = actor;
    r.target = std::move(target);
    r.status = status;
    return r;
}

TraceRecord Event(int actor, std::uint64_t t, int id, int opcode,
                  std::vector<std::uint32_t> payload) {
    TraceRecord r;
    r.tNs = t;
    r.op = Op::Event;
    r.actor = actor;
    r.eventId = id;
    r.opcode = opcode;
    r.level = 4;
    r.payload = std::move(payload);
    return r;
}

// Primary prepares its hardware while the multiport instance, on its own clock, powers down
// (its power-down fails, with an SS PHY step left open) and starts a D0 entry that never
// exits. The records of the two interleave as the threads made them.
std::vector<TraceRecord> TwoInstancesAtOnce() {
    std::vector<TraceRecord> t;
    TraceRecord acpi = Request(0, 0, "acpi");
    acpi.method = "PHYC";
    TraceRecord high = Request(0, 0, "gpio");
    high.level = 1;
    TraceRecord wake = Request(2, 0, "wake-line");
    wake.line = 0x1A;
    wake.mode = 2;
    TraceRecord low = Request(2, 500000, "gpio", static_cast<std::int32_t>(0xC0000001));
    low.level = 0;

    t.push_back(Diag(-1, 0, "DriverEntry", "entry"));
    t.push_back(Diag(-1, 0, "DriverEntry", "bad <value> & \"quote\"", 2));
    t.push_back(Diag(-1, 0, "DriverEntry", "exit, status 0x00000000"));
    t.push_back(Diag(0, 0, "EvtDevicePrepareHardware", "entry"));
    t.push_back(Diag(2, 0, "EvtDeviceD0Exit", "entry"));
    t.push_back(Diag(0, 0, "BringUpController", "entry"));
    t.push_back(Diag(2, 0, "PowerDownController", "entry"));
    t.push_back(Event(0, 0, 4, 0, {4, 1}));
    t.push_back(Event(2, 0, 3, 2, {}));
    t.push_back(acpi);
    t.push_back(wake);
    t.push_back(high);
    t.push_back(Diag(2, 0, "SsPhyInitPort", "entry, SS PHY 3"));
    for (int i = 0; i < 3; ++i) {
        t.push_back(Access(0, 0, Op::Write));
    }
    t.push_back(Access(0, 0, Op::Read));
    t.push_back(Access(0, 0, Op::Read));
    t.push_back(Delay(0, 0, DelayKind::Sleep, 1000000));
    t.push_back(Access(2, 10000, Op::Read));
    t.push_back(Delay(2, 10000, DelayKind::Sleep, 490000));
    t.push_back(Diag(0, 1000000, "HsPhyInitPort", "entry, HS PHY 0"));
    t.push_back(Access(0, 1000000, Op::Write));
    t.push_back(Delay(0, 1000000, DelayKind::BusyWait, 50000));
    t.push_back(Diag(2, 500000, "PowerDownController", "exit, status 0xC0000483"));
    t.push_back(Diag(0, 1050000, "HsPhyInitPort", "exit"));
    t.push_back(Diag(2, 500000, "EvtDeviceD0Exit", "exit, status 0x00000000"));
    t.push_back(Diag(0, 1050000, "BringUpController", "port 0 reset timed out", 3));
    t.push_back(Diag(2, 500000, "EvtDeviceD0Entry", "entry"));
    t.push_back(low);
    t.push_back(Event(2, 500000, 6, 0, {1, 3072000, 16000}));
    t.push_back(Diag(0, 1050000, "BringUpController", "exit, status 0x00000000"));
    t.push_back(Delay(2, 500000, DelayKind::Sleep, 2000000));
    t.push_back(Diag(0, 1050000, "EvtDevicePrepareHardware", "exit, status 0x00000000"));
    return t;
}

XmlElement Render(const std::vector<TraceRecord>& records,
                  const timeline::TimelineOptions& options = {}) {
    std::ostringstream svg;
    timeline::WriteTimelineSvg(records, svg, options);
    std::string error;
    std::optional<XmlElement> root = timeline::ParseXml(svg.str(), &error);
    EXPECT_TRUE(root.has_value()) << error << "\n" << svg.str();
    return root ? *root : XmlElement{};
}

std::vector<const XmlElement*> Groups(const XmlElement& root, const std::string& cls) {
    std::vector<const XmlElement*> all, out;
    root.Collect("g", all);
    for (const XmlElement* g : all) {
        if (g->Attribute("class") == cls) {
            out.push_back(g);
        }
    }
    return out;
}

std::uint64_t U(const XmlElement* e, const std::string& key) {
    return std::stoull(e->Attribute(key, "999999999999"));
}

double ChildX(const XmlElement* g) {
    const XmlElement* rect = g->Child("rect");
    return rect ? std::stod(rect->Attribute("x")) : -1;
}

using BandRow = std::tuple<std::string, std::string, int, std::uint64_t, std::uint64_t, std::string,
                           std::string>;

} // namespace

TEST(Timeline, LanesAndBandsOfTwoInstancesAtOnce) {
    XmlElement root = Render(TwoInstancesAtOnce());
    ASSERT_EQ(root.LocalName(), "svg");

    std::vector<std::tuple<std::string, std::uint64_t, std::uint64_t>> lanes;
    for (const XmlElement* g : Groups(root, "lane")) {
        lanes.emplace_back(g->Attribute("data-lane"), U(g, "data-start-ns"), U(g, "data-end-ns"));
    }
    std::vector<std::tuple<std::string, std::uint64_t, std::uint64_t>> expectedLanes = {
        {"primary", 0, 1050000}, {"multiport", 0, 2500000}, {"none", 0, 0}};
    EXPECT_EQ(lanes, expectedLanes);

    // lane, label, depth, start, end, closed by its exit, status
    std::vector<BandRow> bands;
    for (const XmlElement* g : Groups(root, "band")) {
        bands.emplace_back(g->Attribute("data-lane"), g->Attribute("data-label"),
                           std::stoi(g->Attribute("data-depth")), U(g, "data-start-ns"),
                           U(g, "data-end-ns"), g->Attribute("data-closed"),
                           g->Attribute("data-status", "-"));
    }
    std::vector<BandRow> expected = {
        {"primary", "prepare hardware", 0, 0, 1050000, "true", "0x00000000"},
        {"primary", "bring-up", 1, 0, 1050000, "true", "0x00000000"},
        {"primary", "HS PHY 0", 2, 1000000, 1050000, "true", "-"},
        {"multiport", "D0 exit", 0, 0, 500000, "true", "0x00000000"},
        {"multiport", "power-down", 1, 0, 500000, "true", "0xC0000483"},
        {"multiport", "SS PHY 3", 2, 0, 500000, "false", "-"},
        {"multiport", "D0 entry", 0, 500000, 2500000, "false", "-"},
        {"none", "driver entry", 0, 0, 0, "true", "0x00000000"},
    };
    EXPECT_EQ(bands, expected);

    // One scale for all lanes: bands that start at 0 in either lane start at the same x, and
    // a nested band's row lies below its parent's.
    std::vector<const XmlElement*> g = Groups(root, "band");
    ASSERT_EQ(g.size(), expected.size());
    EXPECT_EQ(ChildX(g[0]), ChildX(g[3]));
    EXPECT_LT(ChildX(g[0]), ChildX(g[6]));
    EXPECT_LT(std::stod(g[0]->Child("rect")->Attribute("y")),
              std::stod(g[1]->Child("rect")->Attribute("y")));
}

TEST(Timeline, MarksOfEveryKind) {
    timeline::TimelineOptions options;
    options.eventNames = {{6, "PowerIndexValuePair6"}};
    XmlElement root = Render(TwoInstancesAtOnce(), options);

    std::map<std::pair<std::string, std::string>, std::uint64_t> marks, accesses;
    std::vector<std::string> details;
    for (const XmlElement* m : Groups(root, "mark")) {
        std::string lane = m->Attribute("data-lane");
        std::string kind = m->Attribute("data-kind");
        ++marks[{lane, kind}];
        if (kind == "read" || kind == "write") {
            accesses[{lane, kind}] += U(m, "data-count");
        } else if (kind == "sleep" || kind == "busy-wait") {
            details.push_back(lane + " " + kind + " " + m->Attribute("data-start-ns") + "+" +
                              m->Attribute("data-length-ns"));
        } else if (kind == "request") {
            details.push_back(lane + " " + m->Attribute("data-target") +
                              " method=" + m->Attribute("data-method", "-") +
                              " level=" + m->Attribute("data-level", "-") +
                              " line=" + m->Attribute("data-line", "-") +
                              " mode=" + m->Attribute("data-mode", "-") +
                              " status=" + m->Attribute("data-status"));
        } else if (kind == "event") {
            details.push_back(lane + " event " + m->Attribute("data-id") + " " +
                              m->Attribute("data-name", "-") + " opcode " +
                              m->Attribute("data-opcode") + " [" + m->Attribute("data-payload") +
                              "]");
        } else {
            details.push_back(lane + " " + kind + " " + m->Attribute("data-level") + " " +
                              m->Attribute("data-function") + ": " + m->Child("title")->text);
        }
    }
    std::map<std::pair<std::string, std::string>, std::uint64_t> expectedMarks = {
        {{"primary", "read"}, 1},       {{"primary", "write"}, 2},   {{"primary", "sleep"}, 1},
        {{"primary", "busy-wait"}, 1},  {{"primary", "request"}, 2}, {{"primary", "event"}, 1},
        {{"primary", "diagnostic"}, 1}, {{"multiport", "read"}, 1},  {{"multiport", "sleep"}, 2},
        {{"multiport", "request"}, 2},  {{"multiport", "event"}, 2}, {{"none", "diagnostic"}, 1},
    };
    EXPECT_EQ(marks, expectedMarks);
    std::map<std::pair<std::string, std::string>, std::uint64_t> expectedAccesses = {
        {{"primary", "read"}, 2}, {{"primary", "write"}, 4}, {{"multiport", "read"}, 1}};
    EXPECT_EQ(accesses, expectedAccesses);

    std::vector<std::string> expectedDetails = {
        "primary sleep 0+1000000",
        "primary busy-wait 1000000+50000",
        "primary event 4 - opcode 0 [4 1]",
        "primary acpi method=PHYC level=- line=- mode=- status=0",
        "primary gpio method=- level=1 line=- mode=- status=0",
        "primary diagnostic 3 BringUpController: BringUpController: port 0 reset timed out at "
        "1.05 ms",
        "multiport sleep 10000+490000",
        "multiport sleep 500000+2000000",
        "multiport event 3 - opcode 2 []",
        "multiport wake-line method=- level=- line=26 mode=2 status=0",
        "multiport gpio method=- level=0 line=- mode=- status=-1073741823",
        "multiport event 6 PowerIndexValuePair6 opcode 0 [1 3072000 16000]",
        "none diagnostic 2 DriverEntry: DriverEntry: bad <value> & \"quote\" at 0 ns",
    };
    EXPECT_EQ(details, expectedDetails);
}

TEST(Timeline, ManyAccessesAtOnceAndSpreadStayCountable) {
    std::vector<TraceRecord> records;
    records.push_back(Diag(1, 0, "SomeHelper", "entry"));
    for (int i = 0; i < 1000; ++i) {
        records.push_back(Access(1, 0, Op::Write));
    }
    for (std::uint64_t i = 0; i < 5000; ++i) {
        records.push_back(Access(1, i * 200, Op::Read));
    }
    timeline::TimelineOptions options;
    options.widthPx = 800;
    XmlElement root = Render(records, options);

    std::vector<const XmlElement*> bands = Groups(root, "band");
    ASSERT_EQ(bands.size(), 1u);
    EXPECT_EQ(bands[0]->Attribute("data-label"), "SomeHelper");
    EXPECT_EQ(bands[0]->Attribute("data-lane"), "secondary");
    EXPECT_EQ(U(bands[0], "data-end-ns"), 999800u);

    std::uint64_t reads = 0, readTicks = 0, writes = 0, writeTicks = 0;
    for (const XmlElement* m : Groups(root, "mark")) {
        if (m->Attribute("data-kind") == "read") {
            reads += U(m, "data-count");
            ++readTicks;
            EXPECT_LE(U(m, "data-start-ns"), U(m, "data-end-ns"));
        } else {
            writes += U(m, "data-count");
            ++writeTicks;
        }
    }
    EXPECT_EQ(writes, 1000u);
    EXPECT_EQ(writeTicks, 1u);
    EXPECT_EQ(reads, 5000u);
    // At most one tick per pixel column of the plot.
    EXPECT_LE(readTicks, 800u);
    EXPECT_GT(readTicks, 300u);
}

TEST(Timeline, AxisRunsPastTheLastRecordWithReadableLabels) {
    XmlElement root = Render(TwoInstancesAtOnce());
    std::vector<const XmlElement*> ticks = Groups(root, "tick");
    ASSERT_FALSE(ticks.empty());
    std::vector<std::string> labels;
    for (const XmlElement* t : ticks) {
        labels.push_back(t->Child("text")->text);
        EXPECT_LE(U(t, "data-ns"), 2500000u);
    }
    EXPECT_EQ(labels,
              (std::vector<std::string>{"0", "0.5 ms", "1.0 ms", "1.5 ms", "2.0 ms", "2.5 ms"}));

    EXPECT_EQ(timeline::FormatTime(250, 50), "250 ns");
    EXPECT_EQ(timeline::FormatTime(1500, 500), "1.5 µs");
    EXPECT_EQ(timeline::FormatTime(12000000, 2000000), "12 ms");
    EXPECT_EQ(timeline::FormatTime(2000000000, 1000000000), "2 s");
    EXPECT_EQ(timeline::FormatDuration(1250000), "1.25 ms");
    timeline::AxisTicks axis = timeline::ChooseTicks(1000, 9000, 5);
    EXPECT_EQ(axis.stepNs, 2000u);
    EXPECT_EQ(axis.ticksNs, (std::vector<std::uint64_t>{2000, 4000, 6000, 8000}));
}

// The system's power events and the service's PnP events cross every lane where they happened,
// each named with what the driver was told.
TEST(Timeline, SystemAndServiceEventsAreNamedAcrossTheLanes) {
    std::vector<TraceRecord> records = {Diag(0, 0, "EvtDeviceD0Exit", "entry"),
                                        Diag(0, 2000000, "EvtDeviceD0Exit", "exit")};
    auto world = [](Op op, std::uint64_t t, std::string event) {
        TraceRecord r;
        r.tNs = t;
        r.op = op;
        r.event = std::move(event);
        if (op == Op::Pnp) {
            r.target = "wake-line";
            r.service = 2;
        }
        return r;
    };
    records.push_back(world(Op::System, 0, "hibernate"));
    TraceRecord vetoed = world(Op::Pnp, 500000, "query-remove");
    vetoed.vetoed = true;
    records.push_back(vetoed);
    records.push_back(world(Op::Pnp, 1000000, "remove-cancelled"));
    records.push_back(world(Op::Pnp, 1500000, "query-remove"));
    records.push_back(world(Op::Pnp, 1500000, "remove-complete"));
    XmlElement root = Render(records);

    std::vector<std::string> seen;
    for (const char* cls : {"system-event", "pnp-event"}) {
        for (const XmlElement* g : Groups(root, cls)) {
            ASSERT_NE(g->Child("line"), nullptr);
            seen.push_back(std::string(cls) + " " + g->Attribute("data-ns") + " " +
                           g->Child("text")->text);
        }
    }
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "system-event 0 hibernate",
                        "pnp-event 500000 wake-line 2 query-remove vetoed",
                        "pnp-event 1000000 wake-line 2 remove-cancelled",
                        "pnp-event 1500000 wake-line 2 query-remove passed",
                        "pnp-event 1500000 wake-line 2 remove-complete",
                    }));
}

TEST(Timeline, EmptyTraceIsStillAPicture) {
    XmlElement root = Render({});
    EXPECT_EQ(root.LocalName(), "svg");
    EXPECT_TRUE(Groups(root, "lane").empty());
}

TEST(Timeline, LabelsAtOneInstantShareOneLineAndStayInThePicture) {
    std::vector<TraceRecord> records;
    for (const char* method : {"PHYC", "GEN1", "MPRD"}) {
        TraceRecord r = Request(0, 0, "acpi");
        r.method = method;
        records.push_back(r);
    }
    records.push_back(Delay(0, 0, DelayKind::Sleep, 1000000));
    records.push_back(Event(0, 1000000, 6, 0, {1, 3072000, 16000}));
    XmlElement root = Render(records);

    std::vector<std::string> labels;
    double right = 0;
    for (const XmlElement* m : Groups(root, "mark")) {
        if (const XmlElement* text = m->Child("text")) {
            labels.push_back(text->text);
            right = std::stod(text->Attribute("x")) + text->text.size() * 5.2;
        }
    }
    EXPECT_EQ(labels,
              (std::vector<std::string>{"ACPI PHYC, GEN1, MPRD", "event 6 (1, 3072000, 16000)"}));
    EXPECT_LE(right, std::stod(root.Attribute("width")));
    EXPECT_EQ(Groups(root, "mark").size(), 5u) << "every request keeps its own mark";
}

TEST(Timeline, TextOfAnyKindStaysReadableXml) {
    std::vector<TraceRecord> records;
    records.push_back(Diag(0, 0, "Odd<Fn>&'", "entry"));
    records.push_back(Diag(0, 5, "Odd<Fn>&'", std::string("ctl\x01 bad\xff\xfe ok \xC2\xB5s"), 2));
    XmlElement root = Render(records);
    std::vector<const XmlElement*> bands = Groups(root, "band");
    ASSERT_EQ(bands.size(), 1u);
    EXPECT_EQ(bands[0]->Attribute("data-label"), "Odd<Fn>&'");
    EXPECT_EQ(bands[0]->Attribute("data-closed"), "false");
    EXPECT_EQ(U(bands[0], "data-end-ns"), 5u);
    std::vector<const XmlElement*> marks = Groups(root, "mark");
    ASSERT_EQ(marks.size(), 1u);
    EXPECT_EQ(marks[0]->Child("title")->text, "Odd<Fn>&': ctl bad?? ok \xC2\xB5s at 5 ns");
}
