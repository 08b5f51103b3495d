// The high-speed and super-speed PHY sequences of every instance, compared access by access
// with the documented steps and tables, and the register table writer.
#include "PhyFixture.h"
#include "phy/HsPhy.h"
#include "phy/RegisterTable.h"
#include "phy/SsPhy.h"

namespace {

using seq::Matches;

class PhySequence : public PhyFixture {};

TEST_F(PhySequence, PrintedTablesHaveTheirDocumentedShape) {
    // The typed copies themselves: a skip, 143 writes and the end; 99 writes and the end.
    const auto& a = seq::TableA();
    ASSERT_EQ(a.size(), 145u);
    EXPECT_EQ(a.front().marker, seq::TableEntry::Skip);
    EXPECT_EQ(a.back().marker, seq::TableEntry::End);
    EXPECT_EQ(seq::TableWrites(a, 0).size(), 143u);
    const auto& b = seq::TableB();
    ASSERT_EQ(b.size(), 100u);
    EXPECT_EQ(b.back().marker, seq::TableEntry::End);
    EXPECT_EQ(seq::TableWrites(b, 0).size(), 99u);
}

TEST_F(PhySequence, HighSpeedPhysOfEachInstanceInPortOrder) {
    struct {
        LONG instance;
        std::vector<unsigned> phys;
    } cases[] = {{0, {0}}, {1, {1}}, {2, {2, 3}}};
    for (auto& c : cases) {
        SCOPED_TRACE(c.instance);
        soc.ClearTrace();
        EXPECT_EQ(HsPhyInit(c.instance, controller[c.instance], clockReset, phy, overrides),
                  STATUS_SUCCESS);
        seq::Sequence expected;
        for (unsigned n : c.phys) {
            expected += seq::HsPhy(n);
        }
        EXPECT_TRUE(Matches(Trace(), expected, c.instance));
    }
}

TEST_F(PhySequence, SuperSpeedPhysOfEachInstanceReadyAtTheFirstRead) {
    struct {
        LONG instance;
        std::vector<unsigned> phys;
    } cases[] = {{0, {0}}, {1, {1}}, {2, {2, 3}}};
    for (auto& c : cases) {
        SCOPED_TRACE(c.instance);
        soc.ClearTrace();
        EXPECT_EQ(SsPhyInit(c.instance, controller[c.instance], clockReset, phy, overrides),
                  STATUS_SUCCESS);
        seq::Sequence expected;
        for (unsigned n : c.phys) {
            expected += seq::SsPhy(n, 1);
        }
        EXPECT_TRUE(Matches(Trace(), expected, c.instance));
    }
    // Table A's skip entry writes nothing; its first write is the power control register.
    EXPECT_EQ(soc.Peek(soc::BlockKind::Phy, 0, 0x9C40), 0x1u);
    EXPECT_EQ(soc.Peek(soc::BlockKind::Phy, 0, 0xEC40), 0x1u);
}

TEST_F(PhySequence, ReadyPollTakesUpToFourReadsAndFailsAfterTheFourth) {
    struct {
        int busyReads;
        int readyAtRead; // 0: never
        NTSTATUS status;
    } cases[] = {{0, 1, STATUS_SUCCESS},
                 {3, 4, STATUS_SUCCESS},
                 {4, 0, STATUS_DEVICE_HARDWARE_ERROR},
                 {-1, 0, STATUS_DEVICE_HARDWARE_ERROR}};
    for (auto& c : cases) {
        SCOPED_TRACE(c.busyReads);
        soc.SsPhyReadyAfter(1, c.busyReads);
        soc.ClearTrace();
        const std::uint64_t before = soc.Clock().NowNs();
        EXPECT_EQ(SsPhyInitPort(1, controller[1], clockReset, phy, overrides), c.status);
        EXPECT_TRUE(Matches(Trace(), seq::SsPhy(1, c.readyAtRead), 1));
        // Reset 200 us, the wait before the start 100 us, then 100 us per status read.
        const int reads = c.readyAtRead == 0 ? 4 : c.readyAtRead;
        EXPECT_EQ(soc.Clock().NowNs() - before, 300000u + 100000u * reads);
    }
    EXPECT_TRUE(ReportedError("SS PHY 1"));
}

TEST_F(PhySequence, FailedFirstMultiportSuperSpeedPhyLeavesTheSecondUntouched) {
    soc.SsPhyReadyAfter(2, -1);
    EXPECT_EQ(SsPhyInit(2, controller[2], clockReset, phy, overrides),
              STATUS_DEVICE_HARDWARE_ERROR);
    EXPECT_TRUE(Matches(Trace(), seq::SsPhy(2, 0), 2));
    for (auto& r : seq::Hardware(Trace())) {
        if (r.op == soc::Op::Delay) {
            continue;
        }
        EXPECT_FALSE(r.block == soc::BlockKind::Phy && r.offset >= 0xC000 && r.offset < 0xD000)
            << soc::FormatText(r);
        EXPECT_FALSE(r.block == soc::BlockKind::ClockReset &&
                     (r.offset == 0xA605C || r.offset == 0x50028 || r.offset == 0x50030))
            << soc::FormatText(r);
    }

    // A failed second PHY fails the instance after both were programmed.
    soc.SsPhyReadyAfter(2, 0);
    soc.SsPhyReadyAfter(3, -1);
    soc.ClearTrace();
    EXPECT_EQ(SsPhyInit(2, controller[2], clockReset, phy, overrides),
              STATUS_DEVICE_HARDWARE_ERROR);
    seq::Sequence expected = seq::SsPhy(2, 1);
    expected += seq::SsPhy(3, 0);
    EXPECT_TRUE(Matches(Trace(), expected, 2));
}

TEST_F(PhySequence, ReprogrammingAPhyRepeatsItsWholeSequence) {
    // The power-up programs the second Multiport PHYs again by themselves.
    HsPhyInitPort(3, controller[2], clockReset, phy, overrides);
    HsPhyInitPort(3, controller[2], clockReset, phy, overrides);
    EXPECT_EQ(SsPhyInitPort(3, controller[2], clockReset, phy, overrides), STATUS_SUCCESS);
    EXPECT_EQ(SsPhyInitPort(3, controller[2], clockReset, phy, overrides), STATUS_SUCCESS);
    seq::Sequence expected = seq::HsPhy(3);
    expected += seq::HsPhy(3);
    expected += seq::SsPhy(3);
    expected += seq::SsPhy(3);
    EXPECT_TRUE(Matches(Trace(), expected, 2));
}

TEST_F(PhySequence, UnknownInstancesAndPhysTouchNoRegister) {
    for (LONG instance : {3, -1, 0x7FFFFFFF}) {
        SCOPED_TRACE(instance);
        EXPECT_EQ(HsPhyInit(instance, controller[0], clockReset, phy, overrides),
                  STATUS_DEVICE_HARDWARE_ERROR);
        EXPECT_EQ(SsPhyInit(instance, controller[0], clockReset, phy, overrides),
                  STATUS_DEVICE_HARDWARE_ERROR);
    }
    HsPhyInitPort(4, controller[0], clockReset, phy, overrides);
    HsPhyReset(4, clockReset);
    SsPhyReset(4, clockReset);
    EXPECT_EQ(SsPhyInitPort(4, controller[0], clockReset, phy, overrides),
              STATUS_DEVICE_HARDWARE_ERROR);
    EXPECT_TRUE(seq::Hardware(Trace()).empty());
    EXPECT_TRUE(ReportedError("Unknown"));
    EXPECT_STREQ(PhyInstanceName(0), "Primary");
    EXPECT_STREQ(PhyInstanceName(1), "Secondary");
    EXPECT_STREQ(PhyInstanceName(2), "Multi-port");
    EXPECT_STREQ(PhyInstanceName(3), "Unknown");
}

TEST_F(PhySequence, TableWalkStopsAtItsEndAndStepsOverSkips) {
    const ULONG offsets[] = {0x100, PHY_TABLE_SKIP, 0x108, PHY_TABLE_END, 0x110};
    const UCHAR values[] = {0xA1, 0xA2, 0xFF, 0xA4, 0xA5};
    PhyWriteTable(phy, offsets, values, 0, 100); // a count past the end marker
    PhyWriteTable(phy, offsets, values, 2, 3);   // from a later start
    PhyWriteTable(phy, offsets, values, 1, 1);   // start at the count: nothing
    PhyWriteTable(phy, nullptr, values, 0, 5);
    PhyWriteTable(phy, offsets, nullptr, 0, 5);
    PhyWriteTable(phy, offsets, values, 0, 0);
    using namespace seq;
    EXPECT_TRUE(Matches(
        Trace(), {Write(kPhy, 0x100, 0xA1), Write(kPhy, 0x108, 0xFF), Write(kPhy, 0x108, 0xFF)},
        -1));
    EXPECT_EQ(machine.CountDiagnostics(TRACE_LEVEL_ERROR), 3u);
}

} // namespace
