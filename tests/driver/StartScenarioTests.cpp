// The `start` scenario and pelvane-sim's command line: every instance starts and stops with
// the books balanced, alone or all at once, and a start on threads shows each instance the
// same accesses and waits as a start alone.
#include "CommandLine.h"
#include "Harness.h"
#include "Scenario.h"

#include <memory>
#include <sstream>
#include <tuple>

namespace {

using Access = std::tuple<int, int, std::uint32_t, std::uint32_t, bool>;

struct ActorTrace {
    std::vector<Access> accesses;
    std::uint64_t delayNs = 0;
    std::uint64_t sharedLowNs = 0; // the 1 ms low phase of the shared PHY control bit
    std::vector<std::string> requests;
};

// PHY_SHARED_CTL is the one register all instances share: whether an instance's power-up
// finds its bit already set, and so holds it low for 1 ms first, depends on who came before.
constexpr std::uint32_t kPhySharedCtl = 0x1018;

bool SharedAccess(const soc::TraceRecord& r) {
    return (r.op == soc::Op::Read || r.op == soc::Op::Write) && r.block == soc::BlockKind::Phy &&
           r.offset == kPhySharedCtl;
}

// What an instance did, without the shared register and the low phase it may cause.
ActorTrace TraceOf(const std::vector<soc::TraceRecord>& records, int actor) {
    ActorTrace t;
    bool afterShared = false;
    for (auto& r : records) {
        if (r.actor != actor) {
            continue;
        }
        if (SharedAccess(r)) {
            afterShared = true;
            continue;
        }
        if (r.op == soc::Op::Delay && afterShared) {
            afterShared = false;
            t.sharedLowNs += r.lengthNs;
            continue;
        }
        if (r.op == soc::Op::Read || r.op == soc::Op::Write) {
            afterShared = false;
            t.accesses.emplace_back(static_cast<int>(r.op),
                                    static_cast<int>(r.block) * 8 + r.instance, r.offset, r.value,
                                    r.barrier);
        } else if (r.op == soc::Op::Delay) {
            t.delayNs += r.lengthNs;
        } else if (r.op == soc::Op::Request) {
            t.requests.push_back(r.target + " " + r.method + " " + std::to_string(r.status));
        }
    }
    return t;
}

struct StartRun {
    soc::Soc soc;
    std::unique_ptr<kmdf::Machine> machine = std::make_unique<kmdf::Machine>(soc);
    std::ostringstream errors;
    bool ok = false;

    StartRun(std::vector<int> instances, pelvane::WorldOptions options = {}) {
        pelvane::World world(soc, *machine, options);
        ok = pelvane::RunScenario("start", instances, world, *machine, errors);
        machine.reset(); // one machine runs at a time; the trace stays with the SoC
    }
};

TEST(StartScenario, EveryInstanceStartsAloneAndAllTogetherWithBalancedBooks) {
    for (std::vector<int> instances : {std::vector<int>{0}, {1}, {2}, {0, 1, 2}}) {
        StartRun run(instances);
        EXPECT_TRUE(run.ok) << run.errors.str();
        EXPECT_EQ(run.errors.str(), "");
        for (int instance : instances) {
            int prepared = 0;
            for (auto& r : run.soc.Records()) {
                prepared += r.actor == instance && r.op == soc::Op::Trace &&
                            r.function == "EvtDevicePrepareHardware" &&
                            r.message.rfind("exit, status 0x00000000", 0) == 0;
            }
            EXPECT_EQ(prepared, 1) << soc::InstanceName(instance);
            EXPECT_FALSE(TraceOf(run.soc.Records(), instance).accesses.empty());
        }
    }
}

TEST(StartScenario, ConcurrentStartGivesEachInstanceTheTraceOfAStartAlone) {
    StartRun together({0, 1, 2});
    ASSERT_TRUE(together.ok) << together.errors.str();
    for (int instance = 0; instance < 3; ++instance) {
        StartRun alone({instance});
        ASSERT_TRUE(alone.ok) << alone.errors.str();
        ActorTrace a = TraceOf(alone.soc.Records(), instance);
        ActorTrace t = TraceOf(together.soc.Records(), instance);
        EXPECT_EQ(t.accesses, a.accesses) << soc::InstanceName(instance);
        EXPECT_EQ(t.delayNs, a.delayNs) << soc::InstanceName(instance);
        EXPECT_EQ(t.requests, a.requests) << soc::InstanceName(instance);
        EXPECT_EQ(together.soc.Clock().NowNs(instance) - t.sharedLowNs,
                  alone.soc.Clock().NowNs(instance) - a.sharedLowNs);
    }
}

TEST(StartScenario, SsPhysNeverReadyIsNoFailureButLeavesUsb2Only) {
    pelvane::WorldOptions options;
    options.ssPhyReadyAfter = -1;
    StartRun run({1}, options);
    EXPECT_TRUE(run.ok) << run.errors.str();
    bool usb2Only = false;
    for (auto& d : run.soc.Records()) {
        usb2Only = usb2Only || (d.message.find("SS PHYs, status") != std::string::npos &&
                                d.message.find("USB 2.0 only") != std::string::npos);
    }
    EXPECT_TRUE(usb2Only);
}

TEST(StartScenario, LateServiceAndMissingSettingsStillStart) {
    pelvane::WorldOptions options;
    options.service = pelvane::ServiceArrival::Late;
    options.sosi = false;
    options.gpio = false;
    options.acpi = {{"GEN1", pelvane::AcpiSetting::Kind::Missing, 0},
                    {"MPRD", pelvane::AcpiSetting::Kind::Integer, 1}};
    StartRun run({0, 1, 2}, options);
    EXPECT_TRUE(run.ok) << run.errors.str();
    int gpio = 0;
    for (auto& r : run.soc.Records()) {
        gpio += r.op == soc::Op::Request && r.target == "gpio";
    }
    EXPECT_EQ(gpio, 0);
}

TEST(StartScenario, FirmwareSettingsReachTheDriver) {
    pelvane::WorldOptions options;
    options.acpi = {{"GEN1", pelvane::AcpiSetting::Kind::Missing, 0}};
    options.overrides = {{1, 0x088E0010, 0x5}, {1, 0x088E0014, 0x6}};
    options.socVersion = 0x00030002;
    StartRun run({0}, options);
    EXPECT_TRUE(run.ok) << run.errors.str();
    bool gen1Failed = false;
    bool twoPackages = false;
    bool version = false;
    for (auto& r : run.soc.Records()) {
        gen1Failed = gen1Failed || (r.op == soc::Op::Request && r.target == "acpi" &&
                                    r.method == "GEN1" && r.status != 0);
        twoPackages = twoPackages ||
                      (r.function == "ParsePhyOverrideOutput" && r.message == "exit, 2 arguments");
        version = version || r.message == "SoC version 0x00030002";
    }
    EXPECT_TRUE(gen1Failed);
    EXPECT_TRUE(twoPackages);
    EXPECT_TRUE(version);
}

std::optional<pelvane::CommandLine> Parse(std::vector<std::string> args, std::string* errors) {
    std::ostringstream out;
    auto line = pelvane::ParseCommandLine(args, out);
    *errors = out.str();
    return line;
}

TEST(PelvaneSimCommandLine, ReadsEveryWorldSettingInOrder) {
    std::string errors;
    auto line = Parse({"--ss-phy-ready-after",
                       "3",
                       "--acpi",
                       "GEN1=0x01",
                       "--acpi",
                       "MPDP=int:7",
                       "--acpi",
                       "CCVL=missing",
                       "--override",
                       "2:88E0010:FF",
                       "--override",
                       "1:88e0020:0",
                       "--soc-version",
                       "30002",
                       "--no-sosi",
                       "--no-gpio",
                       "--service",
                       "late",
                       "--instance",
                       "multiport",
                       "--svg",
                       "t.svg"},
                      &errors);
    ASSERT_TRUE(line) << errors;
    EXPECT_EQ(line->scenario, "start");
    EXPECT_EQ(line->instances, std::vector<int>{2});
    EXPECT_EQ(line->svg, "t.svg");
    const pelvane::WorldOptions& w = line->world;
    EXPECT_EQ(w.ssPhyReadyAfter, 3);
    ASSERT_EQ(w.acpi.size(), 3u);
    EXPECT_EQ(w.acpi[0].name, "GEN1");
    EXPECT_EQ(w.acpi[0].kind, pelvane::AcpiSetting::Kind::Byte);
    EXPECT_EQ(w.acpi[0].value, 1u);
    EXPECT_EQ(w.acpi[1].kind, pelvane::AcpiSetting::Kind::Integer);
    EXPECT_EQ(w.acpi[1].value, 7u);
    EXPECT_EQ(w.acpi[2].kind, pelvane::AcpiSetting::Kind::Missing);
    ASSERT_EQ(w.overrides.size(), 2u);
    EXPECT_EQ(w.overrides[0].kind, 2u);
    EXPECT_EQ(w.overrides[0].address, 0x088E0010u);
    EXPECT_EQ(w.overrides[0].value, 0xFFu);
    EXPECT_EQ(w.overrides[1].address, 0x088E0020u);
    EXPECT_EQ(w.socVersion, 0x30002u);
    EXPECT_FALSE(w.sosi);
    EXPECT_FALSE(w.gpio);
    EXPECT_EQ(w.service, pelvane::ServiceArrival::Late);
}

TEST(PelvaneSimCommandLine, BadValuesAreRefusedWithAMessage) {
    const std::vector<std::vector<std::string>> bad = {
        {"--ss-phy-ready-after", "0"},
        {"--ss-phy-ready-after", "soon"},
        {"--acpi", "XYZW=0x01"},
        {"--acpi", "GEN1=0x100"},
        {"--acpi", "GEN1"},
        {"--acpi", "GEN1=int:"},
        {"--override", "1:2"},
        {"--override", "1:2:3:4"},
        {"--override", "1:zz:3"},
        {"--override", "1:2:100000000"},
        {"--soc-version", "-1"},
        {"--controller-length", "-1"},
        {"--controller-length", "100000000"},
        {"--service", "sometimes"},
        {"--instance", "nowhere"},
        {"--scenario", "hibernate-twice"},
        {"--counter-frequency", "0"},
        {"--override"},
        {"--bogus"},
    };
    for (auto& args : bad) {
        std::string errors;
        EXPECT_FALSE(Parse(args, &errors)) << args[0];
        EXPECT_NE(errors.find("pelvane-sim: "), std::string::npos) << args[0];
    }
}

} // namespace
