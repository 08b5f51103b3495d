// The controller bring-up: resets, PHYs, core and glue rows of every instance, compared access
// by access with the documented rows, and what the bring-up leaves in the context.
#include "PhyFixture.h"
#include <acpi/AcpiModel.h>
#include "frame/EventProvider.h"
#include "sequencing/ControllerBringUp.h"

#include <algorithm>
#include <memory>
#include <optional>

namespace {

using namespace seq;

// The controller-block rows, as documented, by instance.
constexpr std::uint32_t kGlueGeneral = 0xF8808, kGctl = 0xC110, kPipe0 = 0xC2C0, kPipe1 = 0xC2C4,
                        kLinkTimer0 = 0xD010, kLinkTimer1 = 0xD090;

Sequence ControllerResets(LONG instance) {
    const std::uint32_t first[] = {0xF004, 0x10004, 0xA6004};
    const std::uint32_t second[] = {0xF000, 0x10000, 0xA6000};
    return {Set(kClk, first[instance], 0x1),    SleepMs(1),
            Clear(kClk, first[instance], 0x1),  SleepMs(1),
            Set(kClk, second[instance], 0x1),   SleepMs(1),
            Clear(kClk, second[instance], 0x1), SleepMs(1)};
}

Sequence LowPowerControls(LONG instance) {
    if (instance == 2) {
        return {Write(kPhy, 0xB88C, 1), Write(kPhy, 0xC88C, 1)};
    }
    return {Write(kPhy, instance == 0 ? 0x9C8C : 0xEC8C, 1)};
}

Sequence SingleCoreAndGlue(bool ssFailed, std::uint32_t socVersion) {
    Sequence s;
    if (ssFailed) {
        s += {Set(kCtl, kGlueGeneral, 0x100), SleepMs(1), Set(kCtl, kGlueGeneral, 0x1), SleepMs(1),
              Clear(kCtl, kGlueGeneral, 0x100)};
    } else {
        s += {Clear(kCtl, kPipe0, 0x40000)};
    }
    s += {Set(kCtl, kGctl, 0x1),
          Set(kCtl, kPipe0, 0x400),
          Set(kCtl, kPipe0, 0x8000000),
          Field(kCtl, kLinkTimer0, 0x5, 0xFF),
          Field(kCtl, kLinkTimer0, 0x60000, 0xFF0000),
          Set(kCtl, 0xC60C, 0x10000),
          Set(kCtl, 0xF8828, 0x2),
          Clear(kCtl, kGlueGeneral, 0x2),
          Set(kCtl, 0xF8828, 0x4)};
    if (socVersion >= 0x20000) {
        s += {Field(kCtl, 0xF88B4, 0x1, 0x1001)};
    }
    s += {Field(kCtl, 0xC11C, 0x600000, 0xE00000)};
    return s;
}

Sequence MultiportCoreAndGlue(bool ssFailed, std::uint32_t socVersion) {
    Sequence s;
    if (ssFailed) {
        s += {Set(kCtl, kGlueGeneral, 0x100),
              SleepMs(1),
              Set(kCtl, kGlueGeneral, 0x1),
              SleepMs(1),
              Clear(kCtl, kGlueGeneral, 0x100),
              Set(kCtl, kGlueGeneral, 0x1000000),
              SleepMs(1),
              Set(kCtl, kGlueGeneral, 0x10000),
              SleepMs(1),
              Clear(kCtl, kGlueGeneral, 0x1000000)};
    } else {
        s += {Clear(kCtl, kPipe0, 0x40000), Clear(kCtl, kPipe1, 0x40000)};
    }
    s += {Set(kCtl, kGctl, 0x1),
          Set(kCtl, kPipe0, 0x400),
          Set(kCtl, kPipe1, 0x400),
          Set(kCtl, kPipe0, 0x8000000),
          Set(kCtl, kPipe1, 0x8000000),
          Field(kCtl, kLinkTimer0, 0x5, 0xFF),
          Field(kCtl, kLinkTimer1, 0x5, 0xFF),
          Field(kCtl, kLinkTimer0, 0x60000, 0xFF0000),
          Field(kCtl, kLinkTimer1, 0x60000, 0xFF0000),
          Set(kCtl, 0xC60C, 0x10000),
          Set(kCtl, 0xF8828, 0x2),
          Clear(kCtl, kGlueGeneral, 0x2),
          Set(kCtl, 0xF8828, 0x4)};
    if (socVersion >= 0x20000) {
        s += {Field(kCtl, 0xF88B4, 0x1, 0x1001)};
    }
    s += {Field(kCtl, 0xC11C, 0x600000, 0xE00000)};
    return s;
}

Sequence ResetAndInit(LONG instance, bool ssFailed, std::uint32_t socVersion,
                      bool diagnostics = true) {
    Sequence s = ControllerResets(instance);
    s += LowPowerControls(instance);
    if (instance == 2) {
        s += HsPhy(2);
        s += HsPhy(3);
        s += SsPhy(2, ssFailed ? 0 : 1);
        if (!ssFailed) {
            s += SsPhy(3, 1);
        }
    } else {
        s += HsPhy(instance);
        s += SsPhy(instance, ssFailed ? 0 : 1);
    }
    if (diagnostics) {
        s += {Read(kCtl, 0xF88F8)};
    }
    s += instance == 2 ? MultiportCoreAndGlue(ssFailed, socVersion)
                       : SingleCoreAndGlue(ssFailed, socVersion);
    return s;
}

Sequence CoreSettings(LONG instance, bool gen1) {
    Sequence s = {Field(kCtl, kGctl, 0x11004, 0x13004)};
    if (instance == 2) {
        s += {Set(kCtl, 0x420, 0x2000000), Set(kCtl, 0x440, 0x2000000), Set(kCtl, 0x430, 0x2000000),
              Set(kCtl, 0x450, 0x2000000)};
        if (gen1) {
            s += {Clear(kCtl, 0x440, 0x200), Set(kCtl, 0xD024, 0x400), Set(kCtl, 0x440, 0x200),
                  Clear(kCtl, 0x450, 0x200), Set(kCtl, 0xD0A4, 0x400), Set(kCtl, 0x450, 0x200)};
        }
    } else {
        s += {Set(kCtl, 0x420, 0x2000000), Set(kCtl, 0x430, 0x2000000)};
        if (gen1) {
            s += {Clear(kCtl, 0x430, 0x200), Set(kCtl, 0xD024, 0x400), Set(kCtl, 0x430, 0x200)};
        }
    }
    s += {Field(kCtl, 0xC10C, 0x4630000, 0x7FF0000), Field(kCtl, 0xC104, 0x1E00, 0x1F00)};
    return s;
}

class ControllerBringUp : public PhyFixture {
  protected:
    void SetUp() override {
        PhyFixture::SetUp();
        // A filter device whose firmware holds no override and sets no switch.
        firmware = std::make_shared<acpi::AcpiModel>(soc);
        kmdf::DeviceSpec spec;
        spec.name = "bring-up";
        spec.lowerDevice = firmware;
        ASSERT_EQ(machine.AddDevice(spec, &deviceId), STATUS_SUCCESS);
        soc.ClearTrace();
    }

    // The context as prepare hardware leaves it for the bring-up.
    // It is the device's own context, since the settings readers store into that.
    FILTER_EXTENSION& Context(LONG instance) {
        FILTER_EXTENSION& c = *GetFilterExtension(machine.Device(deviceId));
        std::memset(&c, 0xA5, sizeof c);
        c.Device = machine.Device(deviceId);
        c.Instance = instance;
        c.ControllerBase = controller[instance >= 0 && instance < 3 ? instance : 0];
        c.ClockResetBase = clockReset;
        c.PhyBase = phy;
        c.PhyOverrides = overrides;
        c.PortPairCount = instance == 2 ? 2 : 1;
        c.PortPairs = pairs;
        c.SsPhyFailed = 0;
        c.SocVersion = 0x10000;
        c.Gen1 = 0;
        std::memset(pairs, 0, sizeof pairs);
        return c;
    }

    // Super-speed PHYs of the instance that never become ready.
    void FailSsPhys(LONG instance) {
        if (instance == 2) {
            soc.SsPhyReadyAfter(2, -1);
            soc.SsPhyReadyAfter(3, -1);
        } else {
            soc.SsPhyReadyAfter(instance, -1);
        }
    }

    PORT_PAIR_STATE pairs[2];
    kmdf::DeviceId deviceId = 0;
    std::shared_ptr<acpi::AcpiModel> firmware;
};

TEST_F(ControllerBringUp, ResetAndInitRowsForEveryInstance) {
    for (LONG instance : {0, 1, 2}) {
        for (bool ssFailed : {false, true}) {
            for (std::uint32_t socVersion : {0x1FFFFu, 0x20000u}) {
                SCOPED_TRACE(testing::Message()
                             << "instance " << instance << ", SS PHY failed " << ssFailed
                             << ", SoC 0x" << std::hex << socVersion);
                for (int n = 0; n < 4; ++n) {
                    soc.SsPhyReadyAfter(n, 0);
                }
                if (ssFailed) {
                    FailSsPhys(instance);
                }
                FILTER_EXTENSION& c = Context(instance);
                c.SocVersion = socVersion;
                c.SsPhyFailed = ssFailed ? 0 : 1; // cleared before the PHYs run
                pairs[0].SsPhyOff = pairs[1].SsPhyOff = 1;
                soc.ClearTrace();
                EXPECT_EQ(ResetAndInitController(&c), STATUS_SUCCESS);
                EXPECT_EQ(c.SsPhyFailed, ssFailed ? 1 : 0);
                EXPECT_TRUE(
                    Matches(Trace(), ResetAndInit(instance, ssFailed, socVersion), instance));
                // Only a Multiport bring-up with working super-speed PHYs clears SsPhyOff.
                const int cleared = instance == 2 && !ssFailed ? 0 : 1;
                EXPECT_EQ(pairs[0].SsPhyOff, cleared);
                EXPECT_EQ(pairs[1].SsPhyOff, instance == 2 ? cleared : 1);
            }
        }
    }
}

TEST_F(ControllerBringUp, GlueStatusIsReadOnlyForAnEnabledDiagnostic) {
    const ULONG hardware = 1u << 2; // the third flag of the control GUID, TRACE_HARDWARE
    struct Case {
        const char* what;
        std::optional<kmdf::WppSession> session;
        bool read;
    };
    const Case cases[] = {
        {"no session", std::nullopt, false},
        {"error level, every flag", kmdf::WppSession{TRACE_LEVEL_ERROR, 0xFFFFFFFF}, false},
        {"verbose, all but TRACE_HARDWARE", kmdf::WppSession{TRACE_LEVEL_VERBOSE, ~hardware},
         false},
        {"information, TRACE_HARDWARE only", kmdf::WppSession{TRACE_LEVEL_INFORMATION, hardware},
         true},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        machine.SetWppSession(k.session);
        FILTER_EXTENSION& c = Context(1);
        soc.ClearTrace();
        EXPECT_EQ(ResetAndInitController(&c), STATUS_SUCCESS);
        EXPECT_TRUE(Matches(Trace(), ResetAndInit(1, false, 0x10000, k.read), 1));
    }
}

TEST_F(ControllerBringUp, CoreRowsForEveryInstanceWithAndWithoutGen1) {
    for (LONG instance : {0, 1, 2}) {
        for (UCHAR gen1 : {0, 1}) {
            SCOPED_TRACE(testing::Message() << "instance " << instance << ", GEN1 " << +gen1);
            FILTER_EXTENSION& c = Context(instance);
            c.Gen1 = gen1;
            soc.ClearTrace();
            EXPECT_EQ(ConfigureCore(&c), STATUS_SUCCESS);
            EXPECT_TRUE(Matches(Trace(), CoreSettings(instance, gen1 == 1), instance));
        }
    }
}

TEST_F(ControllerBringUp, UnknownInstanceTouchesNoRegisterAndKeepsThePreviousFlag) {
    for (LONG instance : {3, -1}) {
        SCOPED_TRACE(instance);
        FILTER_EXTENSION& c = Context(instance);
        c.SsPhyFailed = 1; // from an earlier bring-up
        EXPECT_EQ(ResetAndInitController(&c), STATUS_DEVICE_HARDWARE_ERROR);
        EXPECT_EQ(c.SsPhyFailed, 1) << "returned before the flag was cleared";
        EXPECT_EQ(ConfigureCore(&c), STATUS_DEVICE_HARDWARE_ERROR);
        EXPECT_EQ(BringUpController(&c), STATUS_DEVICE_HARDWARE_ERROR);
        EXPECT_EQ(c.SsPhyFailed, 1);
    }
    EXPECT_TRUE(Hardware(Trace()).empty());
    EXPECT_TRUE(ReportedError("instance 3"));
}

TEST_F(ControllerBringUp, MissingContextIsAnInvalidParameter) {
    EXPECT_EQ(BringUpController(nullptr), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(ResetAndInitController(nullptr), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(ConfigureCore(nullptr), STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(Hardware(Trace()).empty());
    EXPECT_TRUE(machine.Events().empty());
}

TEST_F(ControllerBringUp, WholeBringUpOfEachInstance) {
    machine.EnableProvider(PELVANE_PROVIDER_GUID, TRACE_LEVEL_INFORMATION, 0);
    const std::uint32_t commonPart[] = {0x8008, 0xD008};
    for (LONG instance : {0, 1, 2}) {
        SCOPED_TRACE(instance);
        FILTER_EXTENSION& c = Context(instance);
        firmware->SetFlag("GEN1", 1);
        c.SocVersion = 0x20000;
        soc.ClearTrace();
        EXPECT_EQ(BringUpController(&c), STATUS_SUCCESS);

        Sequence expected;
        if (instance != 2) {
            expected += {Set(kPhy, commonPart[instance], 0x2), Read(kPhy, commonPart[instance])};
        }
        expected += ResetAndInit(instance, false, 0x20000);
        expected += CoreSettings(instance, true);
        EXPECT_TRUE(Matches(Trace(), expected, instance));

        // The power event comes first, before any register access.
        auto records = Trace();
        auto event = std::find_if(records.begin(), records.end(),
                                  [](const auto& r) { return r.op == soc::Op::Event; });
        auto access = std::find_if(records.begin(), records.end(), [](const auto& r) {
            return r.op == soc::Op::Read || r.op == soc::Op::Write;
        });
        ASSERT_NE(event, records.end());
        EXPECT_LT(event - records.begin(), access - records.begin());
        EXPECT_EQ(event->eventId, 4);
        EXPECT_EQ(event->payload, (std::vector<std::uint32_t>{4, 1}));
    }
    auto events = machine.Events();
    ASSERT_EQ(events.size(), 3u);
    for (auto& e : events) {
        EXPECT_EQ(e.id, 4);
        EXPECT_EQ(e.version, 0);
        EXPECT_EQ(e.channel, 0);
        EXPECT_EQ(e.level, 4);
        EXPECT_EQ(e.opcode, 0);
        EXPECT_EQ(e.task, 0);
        EXPECT_EQ(e.keyword, 0u);
    }
    // Common-part bit 1 is kept by the super-speed sequence, which sets only bit 0.
    EXPECT_EQ(soc.Peek(soc::BlockKind::Phy, 0, 0x8008), 0x3u);
    EXPECT_EQ(soc.Peek(soc::BlockKind::Phy, 0, 0xD008), 0x3u);
}

TEST_F(ControllerBringUp, DisabledProviderGetsNoEvent) {
    FILTER_EXTENSION& c = Context(2);
    EXPECT_EQ(BringUpController(&c), STATUS_SUCCESS);
    EXPECT_TRUE(machine.Events().empty());
    for (auto& r : Trace()) {
        EXPECT_NE(r.op, soc::Op::Event);
    }
}

TEST_F(ControllerBringUp, FailedSuperSpeedPhyOnPrimaryStillBringsItUp) {
    soc.SsPhyReadyAfter(0, -1);
    soc.Poke(soc::BlockKind::Controller, 0, 0xC2C0, 0x40000);
    FILTER_EXTENSION& c = Context(0);
    EXPECT_EQ(BringUpController(&c), STATUS_SUCCESS);
    EXPECT_EQ(c.SsPhyFailed, 1);
    // GLUE_GENERAL_CFG: bit 8 set, bit 0 set 1 ms later, bit 8 cleared 1 ms later, bit 1
    // cleared; GUSB3PIPECTL(0) bit 18 untouched.
    std::vector<std::pair<std::uint64_t, std::uint32_t>> general;
    for (auto& r : Trace()) {
        if (r.op == soc::Op::Write && r.block == soc::BlockKind::Controller) {
            if (r.offset == 0xF8808) {
                general.push_back({r.tNs, r.value});
            }
            if (r.offset == 0xC2C0) {
                EXPECT_NE(r.value & 0x40000, 0u) << "bit 18 cleared";
            }
        }
    }
    ASSERT_EQ(general.size(), 4u);
    EXPECT_EQ(general[0].second, 0x100u);
    EXPECT_EQ(general[1].second, 0x101u);
    EXPECT_EQ(general[1].first - general[0].first, 1000000u);
    EXPECT_EQ(general[2].second, 0x1u);
    EXPECT_EQ(general[2].first - general[1].first, 1000000u);
    EXPECT_EQ(general[3].second, 0x1u);
}

} // namespace
