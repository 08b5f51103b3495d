// The simulated SoC's behaviour hooks, its trace forms and its failures.
#include <gtest/gtest.h>
#include <soc/Soc.h>

#include <sstream>
#include <thread>

namespace {

using soc::BlockKind;

std::uint64_t Controller(int instance, std::uint32_t offset) {
    return soc::PhysicalOf(BlockKind::Controller, instance, offset);
}

TEST(SocRegisters, StatusBitsClearAfterTheConfiguredReadsOrNever) {
    soc::Soc s;
    const auto at = Controller(soc::kPrimary, 0xF88F8);
    s.ClearBitsAfterReads(BlockKind::Controller, soc::kPrimary, 0xF88F8, 0x10, 2);
    EXPECT_EQ(s.Read32(at), 0x10u);
    EXPECT_EQ(s.Read32(at), 0x10u);
    EXPECT_EQ(s.Read32(at), 0x0u);

    const auto stuck = Controller(soc::kMultiport, 0xF89D8);
    s.ClearBitsAfterReads(BlockKind::Controller, soc::kMultiport, 0xF89D8, 0x12, -1);
    s.Write32(stuck, 0x1); // the driver cannot clear a status bit by writing
    for (int i = 0; i < 500; ++i) {
        ASSERT_EQ(s.Read32(stuck) & 0x12, 0x12u);
    }
    EXPECT_EQ(s.Peek(BlockKind::Controller, soc::kMultiport, 0xF89D8), 0x13u);
}

TEST(SocRegisters, SelfClearingAndWriteOneToClearBits) {
    soc::Soc s;
    const auto evt = Controller(soc::kPrimary, 0xF8858);
    s.Poke(BlockKind::Controller, soc::kPrimary, 0xF8858, 0x34);
    s.WriteOneToClear(BlockKind::Controller, soc::kPrimary, 0xF8858, 0x34);
    s.Write32(evt, 0x4);
    EXPECT_EQ(s.Read32(evt), 0x30u);
    s.Write32(evt, s.Read32(evt)); // write back clears what was pending
    EXPECT_EQ(s.Read32(evt), 0x0u);

    const auto clr = soc::PhysicalOf(BlockKind::Phy, 0, 0x9F14);
    s.SelfClearing(BlockKind::Phy, 0, 0x9F14, 0x1);
    s.Write32(clr, 0x3);
    EXPECT_EQ(s.Read32(clr), 0x2u);
}

TEST(SocRegisters, WriteHooksModelHardwareThatReactsToACommand) {
    // A PHY that, once started, reports busy in its status register for three reads.
    soc::Soc s;
    s.OnWrite(BlockKind::Phy, 0, 0x9C44, [](std::uint32_t written, soc::Soc::RegisterView& v) {
        if (written == 3) {
            v.ClearBitsAfterReads(BlockKind::Phy, 0, 0x9C14, 0x40, 3);
        }
    });
    const auto status = soc::PhysicalOf(BlockKind::Phy, 0, 0x9C14);
    EXPECT_EQ(s.Read32(status), 0u);
    s.Write32(soc::PhysicalOf(BlockKind::Phy, 0, 0x9C44), 3);
    int busy = 0;
    while (s.Read32(status) & 0x40) {
        ++busy;
    }
    EXPECT_EQ(busy, 3);
}

TEST(SocPorts, PortResetCompletesAfterItsVirtualTimeOrNever) {
    soc::Soc s;
    s.Port(soc::kMultiport, 4).Connect(4, soc::link::kPolling);
    s.Port(soc::kMultiport, 4).SetResetTime(3'000'000);
    const auto portsc4 = Controller(soc::kMultiport, 0x450);
    std::uint32_t v = s.Read32(portsc4);
    EXPECT_EQ(v & soc::portsc::kCcs, soc::portsc::kCcs);
    EXPECT_EQ((v & soc::portsc::kPlsMask) >> soc::portsc::kPlsShift, soc::link::kPolling);
    EXPECT_EQ((v & soc::portsc::kSpeedMask) >> soc::portsc::kSpeedShift, 4u);

    s.Write32(portsc4, (v & ~0x12u) | 0x10u);
    EXPECT_NE(s.Read32(portsc4) & soc::portsc::kPr, 0u);
    s.Sleep(-20000); // 2 ms
    EXPECT_NE(s.Read32(portsc4) & soc::portsc::kPr, 0u);
    s.Sleep(-10000);
    v = s.Read32(portsc4);
    EXPECT_EQ(v & soc::portsc::kPr, 0u);
    EXPECT_EQ(v & soc::portsc::kPed, soc::portsc::kPed);
    EXPECT_EQ((v & soc::portsc::kPlsMask) >> soc::portsc::kPlsShift, soc::link::kU0);

    s.Port(soc::kPrimary, 2).SetResetTime(soc::PortModel::kNever);
    const auto portsc2 = Controller(soc::kPrimary, 0x430);
    s.Write32(portsc2, soc::portsc::kPr | soc::portsc::kPp);
    s.Sleep(-10000LL * 1000);
    EXPECT_NE(s.Read32(portsc2) & soc::portsc::kPr, 0u);
}

TEST(SocClock, CounterAdvancesOnEveryReadAndSleepsAdvanceByTheirInterval) {
    soc::Soc s;
    s.Clock().SetFrequency(1000000);
    std::int64_t a = s.QueryPerformanceCounter();
    std::int64_t b = s.QueryPerformanceCounter();
    EXPECT_EQ(b - a, 1);
    s.Sleep(-10000);
    EXPECT_EQ(s.QueryPerformanceCounter() - b, 1 + 1000);
}

TEST(SocTrace, JsonLinesCarryTheKeysThatScriptsRelyOn) {
    soc::Soc s;
    s.Barrier();
    s.Write32(Controller(soc::kSecondary, 0xF8808), 0x100);
    s.Sleep(-10000);
    s.QueryPerformanceCounter();
    kmdf::DiagnosticRecord d;
    d.level = 2;
    d.flagName = "TRACE_POWER";
    d.function = "F";
    d.message = "say \"hi\"";
    s.OnDiagnostic(d);

    std::ostringstream json;
    s.PrintJson(json);
    std::istringstream lines(json.str());
    std::string line;
    int n = 0;
    while (std::getline(lines, line)) {
        ++n;
        for (const char* key :
             {"\"t_ns\":", "\"op\":", "\"block\":", "\"instance\":", "\"offset\":", "\"value\":"}) {
            EXPECT_NE(line.find(key), std::string::npos) << key << " missing in " << line;
        }
    }
    EXPECT_EQ(n, 4);
    EXPECT_NE(json.str().find("\"op\":\"write\",\"block\":\"controller\",\"instance\":1,"
                              "\"offset\":1017864,\"value\":256,\"barrier\":true"),
              std::string::npos);
    EXPECT_NE(json.str().find("\"kind\":\"sleep\",\"length_ns\":1000000,\"interval\":-10000"),
              std::string::npos);
    EXPECT_NE(json.str().find("\"message\":\"say \\\"hi\\\"\""), std::string::npos);

    std::ostringstream text;
    s.PrintText(text);
    EXPECT_NE(text.str().find("GLUE_GENERAL_CFG"), std::string::npos);
    EXPECT_NE(text.str().find("dsb"), std::string::npos);
}

TEST(SocTrace, NamesDecodeEveryBlock) {
    EXPECT_EQ(soc::RegisterName(BlockKind::Controller, 0x440), "PORTSC3");
    EXPECT_EQ(soc::RegisterName(BlockKind::Controller, 0xC2C4), "GUSB3PIPECTL1");
    EXPECT_EQ(soc::RegisterName(BlockKind::ClockReset, 0xA6004), "MULTIPORT_RESET_A");
    EXPECT_EQ(soc::RegisterName(BlockKind::Phy, 0x1018), "PHY_SHARED_CTL");
    EXPECT_EQ(soc::RegisterName(BlockKind::Phy, 0x506C), "HSPHY3+0x6C");
    EXPECT_EQ(soc::RegisterName(BlockKind::Phy, 0xEC8C), "SSPHY1+0xC8C");
}

TEST(SocTrace, BarriersAndBusyWaitsBelongToTheThreadThatIssuedThem) {
    soc::Soc s;
    s.Clock().SetFrequency(1000000);
    const auto phyShared = soc::PhysicalOf(BlockKind::Phy, 0, 0x1018);
    s.SetActor(soc::kSecondary);
    s.Barrier();
    s.QueryPerformanceCounter();
    std::thread other([&] {
        s.SetActor(soc::kMultiport);
        s.QueryPerformanceCounter();
        s.Write32(phyShared, 1); // this thread issued no barrier
    });
    other.join();
    s.QueryPerformanceCounter();
    s.Read32(phyShared);

    auto r = s.Records();
    ASSERT_EQ(r.size(), 5u);
    EXPECT_EQ(r[0].op, soc::Op::Delay);
    EXPECT_EQ(r[1].op, soc::Op::Delay); // the other thread's busy-wait is a record of its own
    EXPECT_EQ(r[2].op, soc::Op::Write);
    EXPECT_FALSE(r[2].barrier);
    EXPECT_EQ(r[2].actor, soc::kMultiport);
    EXPECT_EQ(r[3].op, soc::Op::Delay);
    EXPECT_EQ(r[4].op, soc::Op::Read);
    EXPECT_TRUE(r[4].barrier);
    EXPECT_EQ(r[4].actor, soc::kSecondary);
    EXPECT_NE(soc::FormatJson(r[4]).find("\"block\":\"phy\",\"instance\":1,"), std::string::npos);
}

using SocDeath = ::testing::Test;

TEST(SocDeath, UnmappedAndMisalignedAccessesFailLoudly) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    soc::Soc s;
    EXPECT_DEATH(s.Read32(0x0A700000), "outside every register block");
    EXPECT_DEATH(s.Write32(soc::kPhyBase + 0x1016, 0), "misaligned");
    EXPECT_DEATH(s.Read32(soc::kPhyBase + soc::kPhySize), "outside every register block");
}

} // namespace
