// The firmware's PHY overrides: which pass writes a record and where in the sequence, with
// records just inside and just outside each window.
#include "PhyFixture.h"
#include "phy/HsPhy.h"
#include "phy/PhyOverrides.h"
#include "phy/SsPhy.h"

namespace {

using namespace seq;

class PhyOverrides : public PhyFixture {};

TEST_F(PhyOverrides, HighSpeedPassWritesItsOwnWindowOnlyAfterTheTable) {
    AddOverride(0x088E1FFC, 0x11); // just before HS PHY 0
    AddOverride(0x088E2000, 0x12); // first register of the window
    AddOverride(0x088E206C, 0x13); // replaces the table's 0x61
    AddOverride(0x088E20FC, 0x14); // last register of the window
    AddOverride(0x088E2100, 0x15); // just past it
    AddOverride(0x0A60D060, 0x16); // controller block: super-speed passes only
    AddOverride(0x088E3000, 0x17); // HS PHY 1's window
    AddOverride(0x088E9000, 0x18); // SS PHY 0's window
    EXPECT_EQ(HsPhyInit(0, controller[0], clockReset, phy, overrides), STATUS_SUCCESS);
    EXPECT_TRUE(Matches(
        Trace(),
        HsPhy(0, {Write(kPhy, 0x2000, 0x12), Write(kPhy, 0x206C, 0x13), Write(kPhy, 0x20FC, 0x14)}),
        0));
    EXPECT_EQ(soc.Peek(soc::BlockKind::Phy, 0, 0x206C), 0x13u);

    soc.ClearTrace();
    EXPECT_EQ(HsPhyInit(1, controller[1], clockReset, phy, overrides), STATUS_SUCCESS);
    EXPECT_TRUE(Matches(Trace(), HsPhy(1, {Write(kPhy, 0x3000, 0x17)}), 1));
}

TEST_F(PhyOverrides, MultiportHighSpeedPassesEachTakeTheirOwnWindow) {
    AddOverride(0x088E5004, 0x3);
    AddOverride(0x088E4004, 0x2);
    AddOverride(0x0A40D060, 0x5); // never in a high-speed pass
    EXPECT_EQ(HsPhyInit(2, controller[2], clockReset, phy, overrides), STATUS_SUCCESS);
    Sequence expected = HsPhy(2, {Write(kPhy, 0x4004, 0x2)});
    expected += HsPhy(3, {Write(kPhy, 0x5004, 0x3)});
    EXPECT_TRUE(Matches(Trace(), expected, 2));
}

TEST_F(PhyOverrides, SuperSpeedPassTakesItsWindowAndTheInstancesControllerRecords) {
    AddOverride(0x088E8FFC, 0x21); // just before SS PHY 0's window
    AddOverride(0x088E9000, 0x22); // first register
    AddOverride(0x088E8008, 0x23); // the common part lies outside the window
    AddOverride(0x088E9C44, 0x24); // the start register: the start write replaces it
    AddOverride(0x088E9FFC, 0x25); // last register
    AddOverride(0x088EA000, 0x26); // just past it
    AddOverride(0x0A60D05C, 0x27); // below the four controller registers
    AddOverride(0x0A60D060, 0x28);
    AddOverride(0x0A60D06C, 0x29);
    AddOverride(0x0A60D070, 0x2A); // above them
    AddOverride(0x0A80D060, 0x2B); // another instance's
    AddOverride(0x0A60D064, 0x2C);
    EXPECT_EQ(SsPhyInit(0, controller[0], clockReset, phy, overrides), STATUS_SUCCESS);
    EXPECT_TRUE(Matches(
        Trace(),
        SsPhy(0, 1,
              {Write(kPhy, 0x9000, 0x22), Write(kPhy, 0x9C44, 0x24), Write(kPhy, 0x9FFC, 0x25),
               Write(kCtl, 0xD060, 0x28), Write(kCtl, 0xD06C, 0x29), Write(kCtl, 0xD064, 0x2C)}),
        0));
    EXPECT_EQ(soc.Peek(soc::BlockKind::Phy, 0, 0x9C44), 3u);
    EXPECT_EQ(soc.Peek(soc::BlockKind::Phy, 0, 0x8008), 0x1u);
}

TEST_F(PhyOverrides, MultiportControllerRecordsAreWrittenByBothSuperSpeedPasses) {
    AddOverride(0x0A40D060, 0x31);
    AddOverride(0x088EC100, 0x32); // SS PHY 3
    AddOverride(0x0A40D068, 0x33);
    AddOverride(0x0A60D060, 0x34); // "Primary"'s
    AddOverride(0x088EB100, 0x35); // SS PHY 2
    EXPECT_EQ(SsPhyInit(2, controller[2], clockReset, phy, overrides), STATUS_SUCCESS);
    Sequence expected = SsPhy(
        2, 1, {Write(kCtl, 0xD060, 0x31), Write(kCtl, 0xD068, 0x33), Write(kPhy, 0xB100, 0x35)});
    expected += SsPhy(
        3, 1, {Write(kCtl, 0xD060, 0x31), Write(kPhy, 0xC100, 0x32), Write(kCtl, 0xD068, 0x33)});
    EXPECT_TRUE(Matches(Trace(), expected, 2));
}

TEST_F(PhyOverrides, RecordsThatAreNotWholeRegisterWritesAreSkipped) {
    AddOverride(0x088E2010, 0x41, 1);    // a kind other than a register write
    AddOverride(0x088E2012, 0x42);       // not a whole register
    AddOverride(0x088E2014, 0x43, 0, 8); // a record cut short
    AddOverride(0x088E2018, 0x44);
    HsPhyInitPort(0, controller[0], clockReset, phy, overrides);
    EXPECT_TRUE(Matches(Trace(), HsPhy(0, {Write(kPhy, 0x2018, 0x44)}), 0));
    EXPECT_EQ(machine.CountDiagnostics(TRACE_LEVEL_ERROR), 3u);
}

TEST_F(PhyOverrides, WalkEndsAfterTheLastEightBitIndex) {
    for (ULONG i = 0; i < 300; ++i) {
        AddOverride(0x088E2000 + 4 * (i % 64), i);
    }
    EXPECT_EQ(PhyApplyOverrides(0, controller[0], phy, overrides, 0x088E2000, 0x088E2100, 0),
              STATUS_SUCCESS);
    auto t = Hardware(Trace());
    ASSERT_EQ(t.size(), 255u);
    EXPECT_EQ(t.back().offset, 0x2000u + 4 * (254 % 64));
    EXPECT_EQ(t.back().value, 254u);
}

TEST_F(PhyOverrides, EmptyOrMissingListWritesNothing) {
    EXPECT_EQ(PhyApplyOverrides(0, controller[0], phy, overrides, 0x088E9000, 0x088EA000, 1),
              STATUS_SUCCESS);
    EXPECT_EQ(PhyApplyOverrides(0, controller[0], phy, nullptr, 0x088E9000, 0x088EA000, 1),
              STATUS_SUCCESS);
    EXPECT_TRUE(Hardware(Trace()).empty());
}

TEST_F(PhyOverrides, ControllerRecordsOfAnUnknownInstanceAreSkipped) {
    AddOverride(0x0A60D060, 0x51);
    AddOverride(0x088E9004, 0x52);
    EXPECT_EQ(PhyApplyOverrides(3, controller[0], phy, overrides, 0x088E9000, 0x088EA000, 1),
              STATUS_SUCCESS);
    EXPECT_TRUE(Matches(Trace(), {Write(kPhy, 0x9004, 0x52)}, 0));
}

} // namespace
