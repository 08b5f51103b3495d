// The power-up of each instance after the power-downs that matter, compared with the
// documented rows; the power events with their payloads; the shared PHY control pulse.
#include "PowerFixture.h"

#include "frame/EventProvider.h"

#include <map>
#include <set>
#include <tuple>

namespace {

using namespace seq;
using soc::link::kU0;
using soc::link::kU3;

using EventRow = std::tuple<int, int, std::vector<std::uint32_t>>;

// The events of a power-up that resumes the hardware, as documented.
const std::vector<EventRow> kResumeEvents = {
    {5, 0, {1, 125000000}},
    {5, 0, {2, 125000000}},
    {5, 0, {3, 20000000}},
    {4, 0, {5, 1}},
    {4, 0, {6, 1}},
    {6, 0, {1, 3072000, 16000}},
    {6, 0, {2, 1800000, 41100}},
    {2, 1, {}},
};

Sequence SharedControl(bool wasSet) {
    if (wasSet) {
        return {Read(kPhy, kSharedCtl), Clear(kPhy, kSharedCtl, 0x1), SleepMs(1),
                Set(kPhy, kSharedCtl, 0x1)};
    }
    return {Read(kPhy, kSharedCtl), Set(kPhy, kSharedCtl, 0x1)};
}

class PowerUp : public PowerFixture {};

TEST_F(PowerUp, FirstEntryOnlyPulsesTheSharedPhyControl) {
    machine.EnableProvider(PELVANE_PROVIDER_GUID, TRACE_LEVEL_INFORMATION, 0);
    for (bool wasSet : {false, true}) {
        for (LONG instance : {0, 1, 2}) {
            SCOPED_TRACE(testing::Message() << "instance " << instance << ", bit 0 was " << wasSet);
            soc.Poke(soc::BlockKind::Phy, 0, kSharedCtl, wasSet ? 0x1 : 0x0);
            soc.ClearTrace();
            FILTER_EXTENSION c = Context(instance);
            EXPECT_EQ(PowerUpController(&c, WdfPowerDeviceD3Final), STATUS_SUCCESS);
            Sequence s = SharedControl(wasSet);
            s += PortReads(instance);
            EXPECT_TRUE(Matches(Trace(), s, instance));
            EXPECT_TRUE(EventRows().empty());
            EXPECT_EQ(soc.Peek(soc::BlockKind::Phy, 0, kSharedCtl), 0x1u);
        }
    }
}

TEST_F(PowerUp, PrimaryAfterD3WithSuspendedHsDevice) {
    machine.EnableProvider(PELVANE_PROVIDER_GUID, TRACE_LEVEL_INFORMATION, 0);
    Attach(0, 1, 3, kU3);
    FILTER_EXTENSION c = Context(0);
    ASSERT_EQ(PowerDownController(&c, WdfPowerDeviceD3), STATUS_SUCCESS);
    ASSERT_EQ(pairs[0].HsWakeArmed, 1);
    soc.ClearTrace();

    EXPECT_EQ(PowerUpController(&c, WdfPowerDeviceD3), STATUS_SUCCESS);
    Sequence s = SharedControl(false);
    s += {WriteBack(kCtl, kEvtStat0), Write(kCtl, kEvtEnable0, 0), WriteBack(kCtl, kIrqStat0),
          Clear(kCtl, kIrqEnable, 0x1000)};
    s += {Set(kCtl, kEvtStat0, 0x20), Clear(kCtl, kUsb2Cfg0, 0x40)};
    s += {Write(kPhy, 0x9C8C, 1), Clear(kCtl, kPipe0, 0x400000), Clear(kPhy, 0x9F08, 0x13)};
    s += ClearEvents(0);
    s += {Clear(kCtl, kPipe0, 0x20000)};
    s += PortReads(0);
    EXPECT_TRUE(Matches(Trace(), s, 0));
    EXPECT_EQ(EventRows(), kResumeEvents);
    EXPECT_EQ(c.PoweredDown, 0);
    EXPECT_EQ(pairs[0].HsWakeArmed, 0);
    EXPECT_EQ(pairs[0].SsWakeArmed, 0);
    for (auto& e : machine.Events()) {
        EXPECT_EQ(e.version, 0);
        EXPECT_EQ(e.channel, 0);
        EXPECT_EQ(e.level, 4);
        EXPECT_EQ(e.task, 0);
        EXPECT_EQ(e.keyword, 0u);
    }
}

TEST_F(PowerUp, FailedSsPhyLeavesTheSsPhyAsThePowerDownLeftIt) {
    FILTER_EXTENSION c = Context(1);
    c.SsPhyFailed = 1;
    ASSERT_EQ(PowerDownController(&c, WdfPowerDeviceD3), STATUS_SUCCESS);
    soc.ClearTrace();
    EXPECT_EQ(PowerUpController(&c, WdfPowerDeviceD3), STATUS_SUCCESS);
    Sequence s = SharedControl(false);
    s += {WriteBack(kCtl, kEvtStat0), Write(kCtl, kEvtEnable0, 0), WriteBack(kCtl, kIrqStat0),
          Clear(kCtl, kIrqEnable, 0x1000)};
    s += {Set(kCtl, kEvtStat0, 0x20), Clear(kCtl, kUsb2Cfg0, 0x40)};
    s += PortReads(1);
    EXPECT_TRUE(Matches(Trace(), s, 1));
}

// The Multiport resume: wake events of both sets disarmed, HS PHY 3 programmed again while HS
// port 2 looks for a device, and each SS PHY the power-down switched off programmed again.
Sequence MultiportResume(bool hsPort2Detecting, const Sequence& reprogramming) {
    Sequence s = SharedControl(false);
    s += {WriteBack(kCtl, kEvtStat0),     Write(kCtl, kEvtEnable0, 0), WriteBack(kCtl, kIrqStat0),
          WriteBack(kCtl, kEvtStat1),     Write(kCtl, kEvtEnable1, 0), WriteBack(kCtl, kIrqStat1),
          Clear(kCtl, kIrqEnable, 0x1000)};
    s += {Set(kCtl, kEvtStat0, 0x20), Set(kCtl, kEvtStat1, 0x20), Read(kCtl, kPortsc2)};
    if (hsPort2Detecting) {
        s += HsPhy(3);
    }
    s += {Clear(kCtl, kUsb2Cfg0, 0x40), Clear(kCtl, kUsb2Cfg1, 0x40)};
    s += reprogramming;
    return s;
}

Sequence MultiportSsResume() {
    Sequence s = {Write(kPhy, 0xB88C, 1),        Write(kPhy, 0xC88C, 1),
                  Clear(kCtl, kPipe0, 0x400000), Clear(kCtl, kPipe1, 0x400000),
                  Clear(kPhy, 0xBE08, 0x13),     Clear(kPhy, 0xCE08, 0x13)};
    s += ClearEvents(2);
    s += ClearEvents(3);
    s += {Clear(kCtl, kPipe0, 0x20000), Clear(kCtl, kPipe1, 0x20000)};
    return s;
}

TEST_F(PowerUp, MultiportAfterMpdpZeroPowerDownProgramsBothSsPhysAgain) {
    machine.EnableProvider(PELVANE_PROVIDER_GUID, TRACE_LEVEL_INFORMATION, 0);
    FILTER_EXTENSION c = Context(2);
    c.Mprd = 1;
    c.GpioTarget = OpenGpioTarget();
    ASSERT_EQ(PowerDownController(&c, WdfPowerDeviceD3), STATUS_SUCCESS);
    ASSERT_EQ(pairs[0].SsPhyOff, 1);
    ASSERT_EQ(pairs[1].SsPhyOff, 1);
    soc.ClearTrace();

    EXPECT_EQ(PowerUpController(&c, WdfPowerDeviceD3), STATUS_SUCCESS);
    Sequence reprogramming = SsPhy(2);
    reprogramming += SsPhy(3);
    reprogramming += MultiportSsResume();
    Sequence s = MultiportResume(true, reprogramming);
    s += PortReads(2);
    EXPECT_TRUE(Matches(Trace(), s, 2));
    EXPECT_EQ(EventRows(), kResumeEvents);
    // The supply is driven high right after the HS part, before SS PHY 2 is programmed.
    EXPECT_EQ(GpioLevels(), std::vector<int>{1});
    auto records = Trace();
    std::size_t gpio = 0, hsDone = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (records[i].op == soc::Op::Request && records[i].target == "gpio") {
            gpio = i;
        }
        if (gpio == 0 && records[i].op == soc::Op::Write &&
            records[i].block == soc::BlockKind::Controller && records[i].offset == kUsb2Cfg1) {
            hsDone = i;
        }
    }
    ASSERT_GT(gpio, hsDone);
    for (std::size_t i = hsDone + 1; i < gpio; ++i) {
        EXPECT_TRUE(records[i].op != soc::Op::Read && records[i].op != soc::Op::Write)
            << soc::FormatText(records[i]);
    }
    EXPECT_EQ(pairs[0].SsPhyOff, 0);
    EXPECT_EQ(pairs[1].SsPhyOff, 0);
    EXPECT_EQ(c.SsPhyFailed, 0);
    EXPECT_EQ(c.PoweredDown, 0);
}

// With "MPDP" 1 no SS PHY is programmed again. HS PHY 3 is, before the suspend bits are
// cleared, while HS port 2 looks for a device (Polling counts as RxDetect), not while a device
// is active on it.
TEST_F(PowerUp, MultiportWithMpdpOneProgramsHsPhy3AgainOnlyWhileHsPort2LooksForADevice) {
    for (bool polling : {false, true}) {
        SCOPED_TRACE(polling ? "HS port 2 polling" : "HS port 2 active");
        if (polling) {
            soc.DetachPort(2, 2);
            soc.DetachPort(2, 4);
            soc.SetPortLinkState(2, 2, soc::link::kPolling);
        } else {
            Attach(2, 2, 3, kU0);
            Attach(2, 4, 4, kU0);
        }
        FILTER_EXTENSION c = Context(2);
        c.Mpdp = 1;
        ASSERT_EQ(PowerDownController(&c, WdfPowerDeviceD3), STATUS_SUCCESS);
        soc.Poke(soc::BlockKind::Phy, 0, kSharedCtl, 0);
        soc.ClearTrace();
        EXPECT_EQ(PowerUpController(&c, WdfPowerDeviceD3), STATUS_SUCCESS);
        Sequence s = MultiportResume(polling, MultiportSsResume());
        s += PortReads(2);
        EXPECT_TRUE(Matches(Trace(), s, 2));
    }
}

// SS PHY 2 never ready while it is programmed again: the flag is set, SS PHY 3 is still
// programmed and both are resumed; the next power-down and power-up skip the SS parts.
TEST_F(PowerUp, SsPhyFailingDuringThePowerUp) {
    FILTER_EXTENSION c = Context(2);
    ASSERT_EQ(PowerDownController(&c, WdfPowerDeviceD3), STATUS_SUCCESS);
    soc.SsPhyReadyAfter(2, -1);
    soc.ClearTrace();

    EXPECT_EQ(PowerUpController(&c, WdfPowerDeviceD3), STATUS_SUCCESS);
    Sequence reprogramming = SsPhy(2, 0);
    reprogramming += SsPhy(3);
    reprogramming += MultiportSsResume();
    Sequence s = MultiportResume(true, reprogramming);
    s += PortReads(2);
    EXPECT_TRUE(Matches(Trace(), s, 2));
    EXPECT_EQ(c.SsPhyFailed, 1);
    EXPECT_EQ(pairs[0].SsPhyOff, 0);
    EXPECT_EQ(pairs[1].SsPhyOff, 0);
    EXPECT_TRUE(ReportedError("SS PHY 2 programmed again"));

    soc.ClearTrace();
    ASSERT_EQ(PowerDownController(&c, WdfPowerDeviceD3), STATUS_SUCCESS);
    Sequence down = PortReads(2);
    down += PortReads(2);
    down += PortReads(2);
    down += {Set(kCtl, kUsb2Cfg0, 0x40), Read(kCtl, kStatus0), Set(kCtl, kUsb2Cfg1, 0x40),
             Read(kCtl, kStatus1)};
    down += {WriteBack(kCtl, kEvtStat0),
             Field(kCtl, kEvtEnable0, 0x1028, 0x1028),
             WriteBack(kCtl, kIrqStat0),
             WriteBack(kCtl, kEvtStat1),
             Field(kCtl, kEvtEnable1, 0x1028, 0x1028),
             WriteBack(kCtl, kIrqStat1),
             Set(kCtl, kIrqEnable, 0x1000)};
    EXPECT_TRUE(Matches(Trace(), down, 2));

    soc.ClearTrace();
    EXPECT_EQ(PowerUpController(&c, WdfPowerDeviceD3), STATUS_SUCCESS);
    Sequence up = MultiportResume(true, {});
    up.erase(up.begin(), up.begin() + 2);
    Sequence shared = SharedControl(true);
    shared += up;
    shared += PortReads(2);
    EXPECT_TRUE(Matches(Trace(), shared, 2));
}

// An active device on pair 0 keeps its SS PHY on, so only pair 1's SS PHY is off: the power-up
// programs SS PHY 3 alone and drives no GPIO line, which belongs to SS PHY 2. When SS PHY 3
// never reports ready, the failure is recorded, the flag cleared, and both PHYs still resumed.
TEST_F(PowerUp, MultiportWithOnlyPair1SsPhyOffAndItsProgrammingFailing) {
    Attach(2, 1, 3, kU0);
    Attach(2, 3, 4, kU0);
    for (bool phy3Ready : {true, false}) {
        SCOPED_TRACE(phy3Ready ? "SS PHY 3 ready" : "SS PHY 3 never ready");
        FILTER_EXTENSION c = Context(2);
        c.Mprd = 1;
        c.GpioTarget = OpenGpioTarget();
        ASSERT_EQ(PowerDownController(&c, WdfPowerDeviceD3), STATUS_SUCCESS);
        ASSERT_EQ(pairs[0].SsPhyOff, 0);
        ASSERT_EQ(pairs[1].SsPhyOff, 1);
        if (!phy3Ready) {
            soc.SsPhyReadyAfter(3, -1);
        }
        soc.Poke(soc::BlockKind::Phy, 0, kSharedCtl, 0);
        soc.ClearTrace();

        EXPECT_EQ(PowerUpController(&c, WdfPowerDeviceD3), STATUS_SUCCESS);
        Sequence reprogramming = SsPhy(3, phy3Ready ? 1 : 0);
        reprogramming += MultiportSsResume();
        Sequence s = MultiportResume(true, reprogramming);
        s += PortReads(2);
        EXPECT_TRUE(Matches(Trace(), s, 2));
        EXPECT_TRUE(GpioLevels().empty());
        EXPECT_EQ(pairs[1].SsPhyOff, 0);
        EXPECT_EQ(c.SsPhyFailed, phy3Ready ? 0 : 1);
        EXPECT_EQ(ReportedError("SS PHY 3 programmed again"), !phy3Ready);
        EXPECT_EQ(c.PoweredDown, 0);
    }
}

// Pair 1's SS port polling with nothing attached: the power-down is abandoned for its port
// reset. Before that, pair 0's SS PHY was left powered ("MPDP" = 1) or skipped for an active
// device, so the D0 entry only pulses the shared PHY control, as the documented row says.
TEST_F(PowerUp, PowerDownAbandonedBeforeAnySsPhyWasOffLeavesNothingToResume) {
    for (bool activeOnPair0 : {false, true}) {
        SCOPED_TRACE(activeOnPair0 ? "active device on pair 0" : "MPDP 1");
        if (activeOnPair0) {
            Attach(2, 3, 4, kU0);
        }
        soc.SetPortLinkState(2, 4, soc::link::kPolling);
        FILTER_EXTENSION c = Context(2);
        c.Mpdp = activeOnPair0 ? 0 : 1;
        ASSERT_EQ(PowerDownController(&c, WdfPowerDeviceD3), STATUS_SUCCESS);
        ASSERT_EQ(c.PoweredDown, 0);
        ASSERT_EQ(pairs[0].SsPhyOff, 0);
        soc.Poke(soc::BlockKind::Phy, 0, kSharedCtl, 0);
        soc.ClearTrace();
        EXPECT_EQ(PowerUpController(&c, WdfPowerDeviceD3), STATUS_SUCCESS);
        Sequence s = SharedControl(false);
        s += PortReads(2);
        EXPECT_TRUE(Matches(Trace(), s, 2));
        EXPECT_EQ(pairs[0].SsPhyOff, 0);
    }
}

// Every controller and PHY register the trace names, with its value now; the ports' status
// registers belong to the port model and are left out.
using RegisterKey = std::tuple<soc::BlockKind, int, std::uint32_t>;
std::set<RegisterKey> Touched(const std::vector<soc::TraceRecord>& trace) {
    std::set<RegisterKey> keys;
    for (auto& r : trace) {
        bool portStatus = r.block == kCtl && r.offset >= kPortsc1 && r.offset <= kPortsc4;
        if ((r.op == soc::Op::Read || r.op == soc::Op::Write) && !portStatus) {
            keys.emplace(r.block, r.instance, r.offset);
        }
    }
    return keys;
}

class AbandonedPowerDown : public PowerUp {
  protected:
    std::map<RegisterKey, std::uint32_t> Snapshot(const std::set<RegisterKey>& keys) {
        std::map<RegisterKey, std::uint32_t> values;
        for (auto& [block, instance, offset] : keys) {
            values[{block, instance, offset}] = soc.Peek(block, instance, offset);
        }
        return values;
    }

    // An ordinary sleep and wake of Multiport with nothing attached: both SS PHYs go off and
    // are programmed again.
    void SleepAndWake(FILTER_EXTENSION* c) {
        soc.SetPortLinkState(2, 4, soc::link::kRxDetect);
        ASSERT_EQ(PowerDownController(c, WdfPowerDeviceD3), STATUS_SUCCESS);
        ASSERT_EQ(c->PoweredDown, 1);
        ASSERT_EQ(PowerUpController(c, WdfPowerDeviceD3), STATUS_SUCCESS);
    }
};

// With "MPDP" 0 and nothing on pair 0, SS PHY 2 is off (and the GPIO line low, "MPRD" 1) when
// pair 1's port reset abandons the power-down. The next D0 entry resumes as after a completed
// power-down, programming SS PHY 2 again after driving the line high, and leaves the
// registers as an ordinary sleep and wake does.
TEST_F(AbandonedPowerDown, AfterSsPhy2WasOffTheD0EntryResumesAsAfterACompletedOne) {
    machine.EnableProvider(PELVANE_PROVIDER_GUID, TRACE_LEVEL_INFORMATION, 0);
    FILTER_EXTENSION c = Context(2);
    c.Mprd = 1;
    c.GpioTarget = OpenGpioTarget();
    SleepAndWake(&c);
    std::set<RegisterKey> keys = Touched(Trace());

    soc.SetPortLinkState(2, 4, soc::link::kPolling);
    ASSERT_EQ(PowerDownController(&c, WdfPowerDeviceD3), STATUS_SUCCESS);
    ASSERT_EQ(c.PoweredDown, 0);
    ASSERT_EQ(pairs[0].SsPhyOff, 1);
    ASSERT_EQ(pairs[1].SsPhyOff, 0);
    soc.Poke(soc::BlockKind::Phy, 0, kSharedCtl, 0);
    soc.ClearTrace();
    EXPECT_EQ(PowerUpController(&c, WdfPowerDeviceD3), STATUS_SUCCESS);
    Sequence reprogramming = SsPhy(2);
    reprogramming += MultiportSsResume();
    Sequence s = MultiportResume(true, reprogramming);
    s += PortReads(2);
    EXPECT_TRUE(Matches(Trace(), s, 2));
    EXPECT_EQ(EventRows(), kResumeEvents);
    EXPECT_EQ(GpioLevels(), std::vector<int>{1});
    EXPECT_EQ(pairs[0].SsPhyOff, 0);
    EXPECT_EQ(c.PoweredDown, 0);
    EXPECT_EQ(c.SsPhyFailed, 0);
    for (auto& key : Touched(Trace())) {
        keys.insert(key);
    }
    const auto mended = Snapshot(keys);

    SleepAndWake(&c);
    EXPECT_EQ(mended, Snapshot(keys));
}

TEST_F(PowerUp, UnknownInstanceFailsAfterTheSharedPhyControl) {
    FILTER_EXTENSION c = Context(3);
    c.PoweredDown = 1;
    EXPECT_EQ(PowerUpController(&c, WdfPowerDeviceD3), STATUS_DEVICE_HARDWARE_ERROR);
    EXPECT_TRUE(Matches(Trace(), SharedControl(false), 3));
    EXPECT_TRUE(ReportedError("unknown instance 3"));
}

TEST_F(PowerUp, EventsOnlyWhileTheProviderIsEnabled) {
    Attach(0, 1, 3, kU3);
    FILTER_EXTENSION c = Context(0);
    ASSERT_EQ(PowerDownController(&c, WdfPowerDeviceD3), STATUS_SUCCESS);
    ASSERT_EQ(PowerUpController(&c, WdfPowerDeviceD3), STATUS_SUCCESS);
    EXPECT_TRUE(EventRows().empty());

    machine.EnableProvider(PELVANE_PROVIDER_GUID, TRACE_LEVEL_INFORMATION, 0);
    soc.ClearTrace();
    ASSERT_EQ(PowerDownController(&c, WdfPowerDeviceD3), STATUS_SUCCESS);
    EXPECT_EQ(EventRows(), (std::vector<EventRow>{{3, 2, {}}}));

    machine.DisableProvider(PELVANE_PROVIDER_GUID);
    soc.ClearTrace();
    ASSERT_EQ(PowerUpController(&c, WdfPowerDeviceD3), STATUS_SUCCESS);
    EXPECT_TRUE(EventRows().empty());
    EXPECT_EQ(c.PoweredDown, 0) << "a disabled provider changes nothing else";
}

} // namespace
