// The power-down of each instance compared, access by access, with the documented rows: the
// port diagnostics, the HS suspend, the wake-line requests in their order, the SS PHYs, the
// wrapper's wake events, and every failure the sequence may meet.
#include "PowerFixture.h"

#include "frame/EventProvider.h"

namespace {

using namespace seq;
using soc::link::kPolling;
using soc::link::kRxDetect;
using soc::link::kU0;
using soc::link::kU3;

constexpr auto D3 = WdfPowerDeviceD3;
constexpr auto D3Final = WdfPowerDeviceD3Final;

class PowerDown : public PowerFixture {};

// The three PORTSC passes before the steps: diagnostics, idle check, flags.
Sequence PortPasses(int instance) {
    Sequence s = PortReads(instance);
    s += PortReads(instance);
    s += PortReads(instance);
    return s;
}

TEST_F(PowerDown, PrimaryWithSuspendedHsDeviceAtD3AndAtD3Final) {
    machine.EnableProvider(PELVANE_PROVIDER_GUID, TRACE_LEVEL_INFORMATION, 0);
    Attach(0, 1, 3, kU3); // HS device suspended, SS port empty

    FILTER_EXTENSION c = Context(0);
    EXPECT_EQ(PowerDownController(&c, D3), STATUS_SUCCESS);
    Sequence d3 = PortPasses(0);
    d3 += {Set(kCtl, kUsb2Cfg0, 0x40)};
    d3 += Poll(kStatus0);
    d3 += {Set(kCtl, kEvtStat0, 0x30), Set(kCtl, kEvtEnable0, 0x20), Set(kPhy, 0x2064, 0x1),
           StallUs(100), Clear(kPhy, 0x2064, 0x1)};
    d3 += ClearEvents(0);
    d3 += {Set(kCtl, kPipe0, 0x20000)};
    d3 += Poll(kStatus0);
    d3 += {Set(kCtl, kPipe0, 0x400000), Field(kPhy, 0x9F08, 0x11, 0x13), Write(kPhy, 0x9C8C, 0),
           Write(kCtl, kEvtStat0, 0x4)};
    d3 += {WriteBack(kCtl, kEvtStat0), Set(kCtl, kEvtEnable0, 0x20), Set(kCtl, kEvtEnable0, 0x1008),
           WriteBack(kCtl, kIrqStat0), Set(kCtl, kIrqEnable, 0x1000)};
    EXPECT_TRUE(Matches(Trace(), d3, 0));
    EXPECT_EQ(wakeLineCalls, (std::vector<WakeLineCall>{{0x209, 1, 2}, {0x208, 1, 2}}));
    EXPECT_EQ(c.PoweredDown, 1);
    EXPECT_EQ(pairs[0].HsWakeArmed, 1);
    EXPECT_EQ(pairs[0].SsWakeArmed, 0);
    EXPECT_EQ(pairs[0].LineAMode, 2u);
    EXPECT_EQ(pairs[0].LineBMode, 2u);
    EXPECT_EQ(EventRows(), (decltype(EventRows()){{3, 2, {}}}));

    soc.ClearTrace();
    wakeLineCalls.clear();
    c = Context(0);
    EXPECT_EQ(PowerDownController(&c, D3Final), STATUS_SUCCESS);
    Sequence final = PortPasses(0);
    final += {Set(kCtl, kUsb2Cfg0, 0x40)};
    final += Poll(kStatus0);
    final += {Set(kCtl, kEvtStat0, 0x30), Set(kCtl, kEvtEnable0, 0x20), Set(kPhy, 0x2064, 0x1),
              StallUs(100), Clear(kPhy, 0x2064, 0x1)};
    final += {Set(kClk, 0x12000, 0x1), StallUs(100), Clear(kClk, 0x12000, 0x1)};
    final += ClearEvents(0);
    final += {Set(kCtl, kPipe0, 0x20000)};
    final += Poll(kStatus0);
    final += {Field(kPhy, 0x9F08, 0x11, 0x13), Write(kPhy, 0x9C8C, 0), Write(kPhy, 0x9C40, 0),
              Write(kCtl, kEvtStat0, 0x4), Clear(kPhy, 0x8008, 0x2)};
    EXPECT_TRUE(Matches(Trace(), final, 0));
    EXPECT_TRUE(wakeLineCalls.empty());
    EXPECT_EQ(c.PoweredDown, 1);
    EXPECT_EQ(pairs[0].LineAMode, 0u);
    EXPECT_EQ(pairs[0].LineBMode, 0u);
}

TEST_F(PowerDown, SecondaryWithActiveDeviceAtD3AndEmptyPortAtD3Final) {
    Attach(1, 1, 3, kU0);
    Attach(1, 2, 4, kU0);
    FILTER_EXTENSION c = Context(1);
    EXPECT_EQ(PowerDownController(&c, D3), STATUS_SUCCESS);
    Sequence d3 = PortPasses(1);
    d3 += {Set(kCtl, kUsb2Cfg0, 0x40)};
    d3 += Poll(kStatus0);
    d3 += ClearEvents(1);
    d3 += {Set(kCtl, kPipe0, 0x20000)};
    d3 += Poll(kStatus0);
    d3 += {Set(kCtl, kPipe0, 0x400000), Field(kPhy, 0xEF08, 0x11, 0x13), Write(kPhy, 0xEC8C, 0),
           Write(kCtl, kEvtStat0, 0x4)};
    d3 += {WriteBack(kCtl, kEvtStat0), Set(kCtl, kEvtEnable0, 0x20), Set(kCtl, kEvtEnable0, 0x1008),
           WriteBack(kCtl, kIrqStat0), Set(kCtl, kIrqEnable, 0x1000)};
    EXPECT_TRUE(Matches(Trace(), d3, 1));
    EXPECT_EQ(wakeLineCalls, (std::vector<WakeLineCall>{{0x20B, 1, 1}, {0x20A, 1, 1}}));
    EXPECT_TRUE(ReportedError("ports busy going to D3"));
    EXPECT_EQ(pairs[0].HsWakeArmed, 0);

    soc.DetachPort(1, 1);
    soc.DetachPort(1, 2);
    soc.ClearTrace();
    wakeLineCalls.clear();
    c = Context(1);
    EXPECT_EQ(PowerDownController(&c, D3Final), STATUS_SUCCESS);
    Sequence final = PortPasses(1);
    final += {Set(kCtl, kUsb2Cfg0, 0x40)};
    final += Poll(kStatus0);
    final += {Set(kClk, 0x12004, 0x1), StallUs(100), Clear(kClk, 0x12004, 0x1), StallUs(100)};
    final += ClearEvents(1);
    final += {Set(kCtl, kPipe0, 0x20000)};
    final += Poll(kStatus0);
    final += {Field(kPhy, 0xEF08, 0x11, 0x13), Write(kPhy, 0xEC8C, 0), Write(kPhy, 0xEC40, 0),
              Write(kCtl, kEvtStat0, 0x4), Clear(kPhy, 0xD008, 0x2)};
    EXPECT_TRUE(Matches(Trace(), final, 1));
    EXPECT_TRUE(wakeLineCalls.empty());
}

TEST_F(PowerDown, SuspendedSsDeviceArmsWakeDetection) {
    Attach(0, 2, 4, kU3);
    FILTER_EXTENSION c = Context(0);
    EXPECT_EQ(PowerDownController(&c, D3), STATUS_SUCCESS);
    EXPECT_EQ(pairs[0].SsWakeArmed, 1);
    EXPECT_EQ(soc.Peek(soc::BlockKind::Phy, 0, 0x9F08) & 0x13, 0x3u);
    EXPECT_EQ(wakeLineCalls, (std::vector<WakeLineCall>{{0x209, 1, 1}, {0x208, 1, 1}}));
}

TEST_F(PowerDown, FailedSsPhySkipsTheSuperSpeedPart) {
    Attach(0, 1, 3, kU3);
    FILTER_EXTENSION c = Context(0);
    c.SsPhyFailed = 1;
    EXPECT_EQ(PowerDownController(&c, D3), STATUS_SUCCESS);
    Sequence s = PortPasses(0);
    s += {Set(kCtl, kUsb2Cfg0, 0x40)};
    s += Poll(kStatus0);
    s += {Set(kCtl, kEvtStat0, 0x30), Set(kCtl, kEvtEnable0, 0x20), Set(kPhy, 0x2064, 0x1),
          StallUs(100), Clear(kPhy, 0x2064, 0x1)};
    s += {WriteBack(kCtl, kEvtStat0), Set(kCtl, kEvtEnable0, 0x20), WriteBack(kCtl, kIrqStat0),
          Set(kCtl, kIrqEnable, 0x1000)};
    EXPECT_TRUE(Matches(Trace(), s, 0));
    EXPECT_EQ(c.PoweredDown, 1);
}

// Multiport, nothing attached, PORTSC4 looking for a device: both SS PHYs go to low power and,
// unless the firmware keeps them powered, off.
Sequence MultiportIdleLowPower(bool keepPowered) {
    Sequence s = PortPasses(2);
    s += {Set(kCtl, kUsb2Cfg0, 0x40)};
    s += Poll(kStatus0);
    s += {Set(kCtl, kUsb2Cfg1, 0x40)};
    s += Poll(kStatus1);
    s += ClearEvents(2);
    s += ClearEvents(3);
    s += {Set(kCtl, kPipe0, 0x20000)};
    s += Poll(kStatus0);
    s += {Set(kCtl, kPipe0, 0x400000), Field(kPhy, 0xBE08, 0x11, 0x13), Write(kPhy, 0xB88C, 0)};
    if (!keepPowered) {
        s += {Write(kPhy, 0xB840, 0)};
    }
    s += {Write(kCtl, kEvtStat0, 0x4)};
    s += {Read(kCtl, kPortsc4), Set(kCtl, kPipe1, 0x20000)};
    s += Poll(kStatus1);
    s += {Set(kCtl, kPipe1, 0x400000), Field(kPhy, 0xCE08, 0x11, 0x13), Write(kPhy, 0xC88C, 0)};
    if (!keepPowered) {
        s += {Write(kPhy, 0xC840, 0)};
    }
    s += {Write(kCtl, kEvtStat1, 0x4)};
    const std::uint32_t enable = keepPowered ? 0x1028 : 0x20;
    s += {WriteBack(kCtl, kEvtStat0),
          Field(kCtl, kEvtEnable0, enable, 0x1028),
          WriteBack(kCtl, kIrqStat0),
          WriteBack(kCtl, kEvtStat1),
          Field(kCtl, kEvtEnable1, enable, 0x1028),
          WriteBack(kCtl, kIrqStat1),
          Set(kCtl, kIrqEnable, 0x1000)};
    return s;
}

// Multiport's HS part: both GUSB2PHYCFG suspend bits with their polls, and the pulse of each
// pair's HS PHY control (0x4064, 0x5064) when its HS port is suspended.
Sequence MultiportHsSuspend(bool pair0Suspended, bool pair1Suspended) {
    Sequence s = {Set(kCtl, kUsb2Cfg0, 0x40)};
    s += Poll(kStatus0);
    if (pair0Suspended) {
        s += {Set(kCtl, kEvtStat0, 0x30), Set(kPhy, 0x4064, 0x1), StallUs(100),
              Clear(kPhy, 0x4064, 0x1)};
    }
    s += {Set(kCtl, kUsb2Cfg1, 0x40)};
    s += Poll(kStatus1);
    if (pair1Suspended) {
        s += {Set(kCtl, kEvtStat1, 0x30), Set(kPhy, 0x5064, 0x1), StallUs(100),
              Clear(kPhy, 0x5064, 0x1)};
    }
    return s;
}

// A Multiport SS PHY in low power after its pipe's suspend bit and poll: armed for a suspended
// SS device (wake detect 0x3), else idle (0x11) and, with "MPDP" 0, powered down.
Sequence MultiportSsLowPower(unsigned pair, bool ssSuspended) {
    const std::uint32_t pipe = pair == 0 ? kPipe0 : kPipe1;
    const PhyRegs& regs = kPhys[2 + pair];
    Sequence s;
    if (pair == 1) {
        s += {Read(kCtl, kPortsc4)};
    }
    s += {Set(kCtl, pipe, 0x20000)};
    s += Poll(pair == 0 ? kStatus0 : kStatus1);
    s += {Set(kCtl, pipe, 0x400000), Field(kPhy, regs.wakeDetect, ssSuspended ? 0x3 : 0x11, 0x13),
          Write(kPhy, regs.lowPower, 0)};
    if (!ssSuspended) {
        s += {Write(kPhy, regs.power, 0)};
    }
    s += {Write(kCtl, pair == 0 ? kEvtStat0 : kEvtStat1, 0x4)};
    return s;
}

// The wrapper's events of one Multiport pair, armed by its SS PHY's state.
Sequence MultiportArmPair(unsigned pair, std::uint32_t enable) {
    return {WriteBack(kCtl, pair == 0 ? kEvtStat0 : kEvtStat1),
            Field(kCtl, pair == 0 ? kEvtEnable0 : kEvtEnable1, enable, 0x1028),
            WriteBack(kCtl, pair == 0 ? kIrqStat0 : kIrqStat1)};
}

// Both pairs' events and the interrupt.
Sequence MultiportArm(std::uint32_t enable0, std::uint32_t enable1) {
    Sequence s = MultiportArmPair(0, enable0);
    s += MultiportArmPair(1, enable1);
    s += {Set(kCtl, kIrqEnable, 0x1000)};
    return s;
}

TEST_F(PowerDown, MultiportIdleWithMpdpZeroAndOne) {
    WDFIOTARGET gpio = OpenGpioTarget();
    for (UCHAR mpdp : {0, 1}) {
        SCOPED_TRACE(testing::Message() << "MPDP " << +mpdp);
        soc.ClearTrace();
        wakeLineCalls.clear();
        FILTER_EXTENSION c = Context(2);
        c.Mpdp = mpdp;
        c.Mprd = 1;
        c.GpioTarget = gpio;
        EXPECT_EQ(PowerDownController(&c, D3), STATUS_SUCCESS);
        EXPECT_TRUE(Matches(Trace(), MultiportIdleLowPower(mpdp == 1), 2));
        // SS PHY 2's supply follows it off; a powered PHY keeps it.
        EXPECT_EQ(GpioLevels(), mpdp == 0 ? std::vector<int>{0} : std::vector<int>{});
        EXPECT_EQ(wakeLineCalls, (std::vector<WakeLineCall>{
                                     {0x23B, 1, 1}, {0x22E, 1, 1}, {0x247, 1, 1}, {0x244, 1, 1}}));
        EXPECT_EQ(pairs[0].SsPhyOff, mpdp == 0 ? 1 : 0);
        EXPECT_EQ(pairs[1].SsPhyOff, mpdp == 0 ? 1 : 0);
        EXPECT_EQ(c.PoweredDown, 1);
    }
}

TEST_F(PowerDown, MultiportActiveDeviceOnPairZeroKeepsItsSsPhyAndEvents) {
    Attach(2, 1, 3, kU0);
    Attach(2, 3, 4, kU0);
    FILTER_EXTENSION c = Context(2);
    EXPECT_EQ(PowerDownController(&c, D3), STATUS_SUCCESS);
    Sequence s = PortPasses(2);
    s += MultiportHsSuspend(false, false);
    s += ClearEvents(2);
    s += ClearEvents(3);
    s += MultiportSsLowPower(1, false);
    s += MultiportArmPair(1, 0x20);
    s += {Set(kCtl, kIrqEnable, 0x1000)};
    EXPECT_TRUE(Matches(Trace(), s, 2));
    EXPECT_EQ(wakeLineCalls, (std::vector<WakeLineCall>{
                                 {0x23B, 1, 1}, {0x22E, 1, 1}, {0x247, 1, 1}, {0x244, 1, 1}}));
    EXPECT_EQ(pairs[0].SsPhyOff, 0);
    EXPECT_EQ(pairs[1].SsPhyOff, 1);
}

// Pair 1 with a suspended HS device and nothing suspended on its SS port: its HS PHY is
// pulsed, its SS PHY left running, and its wake events armed with the SS events.
TEST_F(PowerDown, MultiportSuspendedHsDeviceOnPairOne) {
    Attach(2, 1, 3, kU0);
    Attach(2, 3, 4, kU0);
    Attach(2, 2, 3, kU3);
    FILTER_EXTENSION c = Context(2);
    EXPECT_EQ(PowerDownController(&c, D3), STATUS_SUCCESS);
    Sequence s = PortPasses(2);
    s += {Set(kCtl, kUsb2Cfg0, 0x40)};
    s += Poll(kStatus0);
    s += {Set(kCtl, kUsb2Cfg1, 0x40)};
    s += Poll(kStatus1);
    s += {Set(kCtl, kEvtStat1, 0x30), Set(kPhy, 0x5064, 0x1), StallUs(100),
          Clear(kPhy, 0x5064, 0x1)};
    s += ClearEvents(2);
    s += ClearEvents(3);
    s += {WriteBack(kCtl, kEvtStat1), Field(kCtl, kEvtEnable1, 0x1028, 0x1028),
          WriteBack(kCtl, kIrqStat1), Set(kCtl, kIrqEnable, 0x1000)};
    EXPECT_TRUE(Matches(Trace(), s, 2));
    EXPECT_EQ(wakeLineCalls, (std::vector<WakeLineCall>{
                                 {0x23B, 1, 1}, {0x22E, 1, 1}, {0x247, 1, 2}, {0x244, 1, 2}}));
    EXPECT_EQ(pairs[1].HsWakeArmed, 1);
    EXPECT_EQ(pairs[1].SsPhyOff, 0);
    EXPECT_EQ(c.PoweredDown, 1);
}

TEST_F(PowerDown, MultiportAtD3FinalPowersBothSsPhysOffAndStillArmsTheWrapper) {
    FILTER_EXTENSION c = Context(2);
    c.Mpdp = 1; // kept powered only in low power
    c.Mprd = 1;
    c.GpioTarget = OpenGpioTarget();
    EXPECT_EQ(PowerDownController(&c, D3Final), STATUS_SUCCESS);
    EXPECT_EQ(GpioLevels(), std::vector<int>{0});
    Sequence s = PortPasses(2);
    s += {Set(kCtl, kUsb2Cfg0, 0x40)};
    s += Poll(kStatus0);
    s += {Set(kCtl, kUsb2Cfg1, 0x40)};
    s += Poll(kStatus1);
    s += {Set(kClk, 0x12008, 0x1), Set(kClk, 0x1200C, 0x1), StallUs(100), Clear(kClk, 0x12008, 0x1),
          Clear(kClk, 0x1200C, 0x1)};
    s += ClearEvents(2);
    s += ClearEvents(3);
    s += {Set(kCtl, kPipe0, 0x20000)};
    s += Poll(kStatus0);
    s += {Field(kPhy, 0xBE08, 0x11, 0x13), Write(kPhy, 0xB88C, 0), Write(kPhy, 0xB840, 0),
          Write(kCtl, kEvtStat0, 0x4)};
    s += {Read(kCtl, kPortsc4), Set(kCtl, kPipe1, 0x20000)};
    s += Poll(kStatus1);
    s += {Field(kPhy, 0xCE08, 0x11, 0x13), Write(kPhy, 0xC88C, 0), Write(kPhy, 0xC840, 0),
          Write(kCtl, kEvtStat1, 0x4)};
    s += {WriteBack(kCtl, kEvtStat0),
          Field(kCtl, kEvtEnable0, 0x20, 0x1028),
          WriteBack(kCtl, kIrqStat0),
          WriteBack(kCtl, kEvtStat1),
          Field(kCtl, kEvtEnable1, 0x20, 0x1028),
          WriteBack(kCtl, kIrqStat1),
          Set(kCtl, kIrqEnable, 0x1000)};
    EXPECT_TRUE(Matches(Trace(), s, 2));
    EXPECT_TRUE(wakeLineCalls.empty());
    EXPECT_EQ(pairs[0].SsPhyOff, 1);
    EXPECT_EQ(pairs[1].SsPhyOff, 1);
}

// Pair 1 empty but its SS link neither suspended nor in RxDetect: the port is reset and the
// rest of the power-down skipped, whether the reset completes or not.
TEST_F(PowerDown, MultiportPairOnePortResetCompletingAndNeverCompleting) {
    for (bool completes : {true, false}) {
        SCOPED_TRACE(completes ? "reset completes after 3 ms" : "reset never completes");
        soc.SetPortLinkState(2, 4, kPolling);
        soc.SetPortResetTime(2, 4, completes ? 3'000'000 : soc::PortModel::kNever);
        soc.ClearTrace();
        wakeLineCalls.clear();
        const int resetsBefore = soc.PortResetsStarted(2, 4);
        FILTER_EXTENSION c = Context(2);
        EXPECT_EQ(PowerDownController(&c, D3), STATUS_SUCCESS);

        Sequence s = PortPasses(2);
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
        s += {WriteBack(kCtl, kEvtStat1), Set(kCtl, kEvtEnable1, 0x1028),
              Field(kCtl, kPortsc4, 0x10, 0x12), Read(kCtl, kPortsc4)};
        for (int ms = 0; ms < (completes ? 3 : 500); ++ms) {
            s += {SleepMs(1), Read(kCtl, kPortsc4)};
        }
        EXPECT_TRUE(Matches(Trace(), s, 2));
        EXPECT_EQ(soc.PortResetsStarted(2, 4), resetsBefore + 1);
        EXPECT_EQ(c.PoweredDown, 0);
        EXPECT_EQ(soc.Peek(soc::BlockKind::Controller, 2, kIrqEnable) & 0x1000, 0u);
        // The wake lines were configured before the super-speed part.
        EXPECT_EQ(wakeLineCalls.size(), 4u);
        EXPECT_EQ(pairs[1].SsPhyOff, 0);
        EXPECT_EQ(Diagnosed(completes ? TRACE_LEVEL_INFORMATION : TRACE_LEVEL_ERROR,
                            completes ? "complete after 3 polls" : "not complete after 500 polls"),
                  true);
        soc.DetachPort(2, 4); // back to RxDetect
    }
}

// Failure rows: the HS suspend poll that never ends.
TEST_F(PowerDown, HsSuspendNeverConfirmed) {
    // "Primary" going to D3: the D0 exit fails and nothing follows the poll.
    soc.ClearBitsAfterReads(soc::BlockKind::Controller, 0, kStatus0, 0x10, -1);
    FILTER_EXTENSION c = Context(0);
    EXPECT_EQ(PowerDownController(&c, D3), STATUS_UNSUCCESSFUL);
    Sequence s = PortPasses(0);
    s += {Set(kCtl, kUsb2Cfg0, 0x40)};
    s += Poll(kStatus0, true);
    EXPECT_TRUE(Matches(Trace(), s, 0));
    EXPECT_TRUE(ReportedError("to D3"));
    EXPECT_TRUE(wakeLineCalls.empty());
    EXPECT_EQ(c.PoweredDown, 0);

    // The same at D3Final goes on to the end.
    soc.ClearTrace();
    c = Context(0);
    EXPECT_EQ(PowerDownController(&c, D3Final), STATUS_SUCCESS);
    EXPECT_EQ(c.PoweredDown, 1);
    EXPECT_EQ(soc.Writes(soc::BlockKind::Phy, 0, 0x8008), 1u);

    // "Multiport" goes on at D3 too, and still asks for its wake lines.
    soc.ClearBitsAfterReads(soc::BlockKind::Controller, 2, kStatus1, 0x10, -1);
    soc.ClearTrace();
    c = Context(2);
    EXPECT_EQ(PowerDownController(&c, D3), STATUS_SUCCESS);
    EXPECT_EQ(c.PoweredDown, 1);
    EXPECT_EQ(wakeLineCalls.size(), 4u);
}

TEST_F(PowerDown, SsStatusAndPhyEventsNeverClearing) {
    soc.ClearBitsAfterReads(soc::BlockKind::Controller, 0, kStatus0, 0x4, -1);
    soc.SsPhyEventStatus(0, -1, 0x3, -1);
    FILTER_EXTENSION c = Context(0);
    EXPECT_EQ(PowerDownController(&c, D3), STATUS_SUCCESS);
    Sequence s = PortPasses(0);
    s += {Set(kCtl, kUsb2Cfg0, 0x40)};
    s += Poll(kStatus0); // bit 4 is clear
    s += ClearEvents(0, 10, true);
    s += {Set(kCtl, kPipe0, 0x20000)};
    s += Poll(kStatus0, true);
    s += {Set(kCtl, kPipe0, 0x400000), Field(kPhy, 0x9F08, 0x11, 0x13), Write(kPhy, 0x9C8C, 0),
          Write(kCtl, kEvtStat0, 0x4)};
    s += {WriteBack(kCtl, kEvtStat0), Set(kCtl, kEvtEnable0, 0x20), Set(kCtl, kEvtEnable0, 0x1008),
          WriteBack(kCtl, kIrqStat0), Set(kCtl, kIrqEnable, 0x1000)};
    EXPECT_TRUE(Matches(Trace(), s, 0));
    EXPECT_TRUE(ReportedError("SS suspend not confirmed after 300 polls"));
    EXPECT_EQ(c.PoweredDown, 1);
}

TEST_F(PowerDown, SsPhyEventsThatClearOnTheThirdPass) {
    soc.SsPhyEventStatus(1, 2, 0x1, 3);
    FILTER_EXTENSION c = Context(1);
    ClearSsPhyEvents(&c);
    Sequence s = {Read(kPhy, 0xEF10), SleepUs(100),       Read(kPhy, 0xEF10),
                  SleepUs(100),       Read(kPhy, 0xEF10), SleepUs(100)};
    s += {Write(kPhy, 0xEF14, 1), SleepUs(100), Write(kPhy, 0xEF14, 0), Read(kPhy, 0xEF10)};
    s += ClearEvents(1, 2);
    EXPECT_TRUE(Matches(Trace(), s, 1));
}

TEST_F(PowerDown, WakeLineRequestsFailingOrServiceNotReady) {
    failingLines[0x209] = STATUS_NOT_SUPPORTED;
    FILTER_EXTENSION c = Context(0);
    EXPECT_EQ(PowerDownController(&c, D3), STATUS_SUCCESS);
    EXPECT_EQ(wakeLineCalls, (std::vector<WakeLineCall>{{0x209, 1, 1}, {0x208, 1, 1}}));
    EXPECT_TRUE(ReportedError("line 0x209 mode 1, status 0xC00000BB"));
    EXPECT_EQ(c.PoweredDown, 1);

    wakeLineCalls.clear();
    c = Context(0);
    c.WakeInterfaceReady = 0;
    EXPECT_EQ(PowerDownController(&c, D3), STATUS_SUCCESS);
    EXPECT_TRUE(wakeLineCalls.empty());
    EXPECT_EQ(c.PoweredDown, 1);
}

TEST_F(PowerDown, UnknownInstance) {
    machine.EnableProvider(PELVANE_PROVIDER_GUID, TRACE_LEVEL_INFORMATION, 0);
    FILTER_EXTENSION c = Context(3);
    EXPECT_EQ(PowerDownController(&c, D3), STATUS_DEVICE_HARDWARE_ERROR);
    EXPECT_TRUE(Hardware(Trace()).empty());
    EXPECT_TRUE(ReportedError("unknown instance 3"));
    EXPECT_EQ(c.PoweredDown, 0);
}

// A Multiport HS port 2 in Resume before a low-power transition has HS PHY 3 programmed again;
// not at D3Final.
TEST_F(PowerDown, SecondMultiportHsPortInResume) {
    soc.SetPortLinkState(2, 2, soc::link::kResume);
    FILTER_EXTENSION c = Context(2);
    ReportPortStates(&c, D3);
    Sequence s = {Read(kCtl, kPortsc1), Read(kCtl, kPortsc3), Read(kCtl, kPortsc2),
                  Read(kCtl, kPortsc4)};
    s += HsPhy(3);
    EXPECT_TRUE(Matches(Trace(), s, 2));

    soc.ClearTrace();
    ReportPortStates(&c, D3Final);
    EXPECT_TRUE(Matches(Trace(), PortReads(2), 2));
}

TEST_F(PowerDown, BusyPortsOnlyChangeTheDiagnostic) {
    Attach(2, 1, 3, kU0);
    FILTER_EXTENSION c = Context(2);
    EXPECT_TRUE(CheckPortsIdle(&c)) << "Multiport is busy only with both pairs busy";
    Attach(2, 4, 4, kU0);
    EXPECT_FALSE(CheckPortsIdle(&c));
    Sequence twice = PortReads(2);
    twice += PortReads(2);
    EXPECT_TRUE(Matches(Trace(), twice, 2));
}

// Situations the rows cover and the tests above do not. Each whole sequence is typed from the
// power-down's rows: the HS column of each pair, then the SS part of each pair in turn.

// An SS device asleep in U3 on either pair: its PHY is armed for wake detection and stays
// powered, the other pair's empty PHY goes off. On pair 1 the link (U3) is not RxDetect: only
// the port reset's guard for a suspended SS port keeps the sleeping device's port from being
// reset.
TEST_F(PowerDown, MultiportSsDeviceSuspendedInU3OnEitherPair) {
    for (unsigned pair : {0u, 1u}) {
        SCOPED_TRACE(testing::Message() << "SS device in U3 on pair " << pair);
        soc.DetachPort(2, 3);
        soc.DetachPort(2, 4);
        Attach(2, pair == 0 ? 3 : 4, 4, kU3);
        const int resetsBefore = soc.PortResetsStarted(2, 4);
        soc.ClearTrace();
        wakeLineCalls.clear();
        FILTER_EXTENSION c = Context(2);
        EXPECT_EQ(PowerDownController(&c, D3), STATUS_SUCCESS);

        Sequence s = PortPasses(2);
        s += MultiportHsSuspend(false, false);
        s += ClearEvents(2);
        s += ClearEvents(3);
        s += MultiportSsLowPower(0, pair == 0);
        s += MultiportSsLowPower(1, pair == 1);
        s += MultiportArm(pair == 0 ? 0x1028 : 0x20, pair == 1 ? 0x1028 : 0x20);
        EXPECT_TRUE(Matches(Trace(), s, 2));
        EXPECT_EQ(soc.PortResetsStarted(2, 4), resetsBefore);
        EXPECT_EQ(wakeLineCalls, (std::vector<WakeLineCall>{
                                     {0x23B, 1, 1}, {0x22E, 1, 1}, {0x247, 1, 1}, {0x244, 1, 1}}));
        EXPECT_EQ(pairs[pair].SsWakeArmed, 1);
        EXPECT_EQ(pairs[pair].SsPhyOff, 0);
        EXPECT_EQ(pairs[1 - pair].SsWakeArmed, 0);
        EXPECT_EQ(pairs[1 - pair].SsPhyOff, 1);
        EXPECT_EQ(c.PoweredDown, 1);
    }
}

// An HS device whose port is in Polling counts as suspended: on "Secondary" its PHY control
// 0x3064 is pulsed (without the wake event enable that "Primary" sets), on Multiport pair 0
// 0x4064, and both wake lines of the pair get mode 2.
TEST_F(PowerDown, HsPortInPollingIsSuspendedAndPulsesItsPhyOnSecondaryAndMultiportPair0) {
    Attach(1, 1, 3, kPolling);
    FILTER_EXTENSION secondary = Context(1);
    EXPECT_EQ(PowerDownController(&secondary, D3), STATUS_SUCCESS);
    Sequence s = PortPasses(1);
    s += {Set(kCtl, kUsb2Cfg0, 0x40)};
    s += Poll(kStatus0);
    s += {Set(kCtl, kEvtStat0, 0x30), Set(kPhy, 0x3064, 0x1), StallUs(100),
          Clear(kPhy, 0x3064, 0x1)};
    s += ClearEvents(1);
    s += {Set(kCtl, kPipe0, 0x20000)};
    s += Poll(kStatus0);
    s += {Set(kCtl, kPipe0, 0x400000), Field(kPhy, 0xEF08, 0x11, 0x13), Write(kPhy, 0xEC8C, 0),
          Write(kCtl, kEvtStat0, 0x4)};
    s += {WriteBack(kCtl, kEvtStat0), Set(kCtl, kEvtEnable0, 0x20), Set(kCtl, kEvtEnable0, 0x1008),
          WriteBack(kCtl, kIrqStat0), Set(kCtl, kIrqEnable, 0x1000)};
    EXPECT_TRUE(Matches(Trace(), s, 1));
    EXPECT_EQ(wakeLineCalls, (std::vector<WakeLineCall>{{0x20B, 1, 2}, {0x20A, 1, 2}}));
    EXPECT_EQ(pairs[0].HsWakeArmed, 1);
    EXPECT_FALSE(ReportedError("ports busy"));

    // Multiport: pair 0's SS port is empty but the pair is attached through its HS port, so its
    // SS PHY is left alone; its wake events are armed with the SS events.
    Attach(2, 1, 3, kPolling);
    soc.ClearTrace();
    wakeLineCalls.clear();
    FILTER_EXTENSION multiport = Context(2);
    EXPECT_EQ(PowerDownController(&multiport, D3), STATUS_SUCCESS);
    s = PortPasses(2);
    s += MultiportHsSuspend(true, false);
    s += ClearEvents(2);
    s += ClearEvents(3);
    s += MultiportSsLowPower(1, false);
    s += MultiportArm(0x1028, 0x20);
    EXPECT_TRUE(Matches(Trace(), s, 2));
    EXPECT_EQ(wakeLineCalls, (std::vector<WakeLineCall>{
                                 {0x23B, 1, 2}, {0x22E, 1, 2}, {0x247, 1, 1}, {0x244, 1, 1}}));
    EXPECT_EQ(pairs[0].HsWakeArmed, 1);
    EXPECT_EQ(pairs[0].SsPhyOff, 0);
}

// D3Final with an active device on pair 0: no wake line, pair 0's HS PHY not reset and its SS
// PHY and wake events untouched; pair 1 is reset, powered off and its events still armed.
TEST_F(PowerDown, MultiportAtD3FinalWithAnActiveDeviceOnPair0) {
    Attach(2, 1, 3, kU0);
    Attach(2, 3, 4, kU0);
    FILTER_EXTENSION c = Context(2);
    EXPECT_EQ(PowerDownController(&c, D3Final), STATUS_SUCCESS);
    Sequence s = PortPasses(2);
    s += MultiportHsSuspend(false, false);
    s += {Set(kClk, 0x12008, 0x1), Set(kClk, 0x1200C, 0x1), StallUs(100), Clear(kClk, 0x12008, 0x1),
          Clear(kClk, 0x1200C, 0x1)};
    s += ClearEvents(2);
    s += ClearEvents(3);
    s += {Read(kCtl, kPortsc4), Set(kCtl, kPipe1, 0x20000)};
    s += Poll(kStatus1);
    s += {Field(kPhy, 0xCE08, 0x11, 0x13), Write(kPhy, 0xC88C, 0), Write(kPhy, 0xC840, 0),
          Write(kCtl, kEvtStat1, 0x4)};
    s += MultiportArmPair(1, 0x20);
    s += {Set(kCtl, kIrqEnable, 0x1000)};
    EXPECT_TRUE(Matches(Trace(), s, 2));
    EXPECT_TRUE(wakeLineCalls.empty());
    EXPECT_EQ(pairs[0].LineAMode, 0u);
    EXPECT_EQ(pairs[1].LineBMode, 0u);
    EXPECT_EQ(pairs[0].SsPhyOff, 0);
    EXPECT_EQ(pairs[1].SsPhyOff, 1);
    EXPECT_EQ(c.PoweredDown, 1);
}

} // namespace
