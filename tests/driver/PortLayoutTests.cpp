// The port layout table against the documented register map, and the instance lookup.
#include "sequencing/PortLayout.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

TEST(PortLayout, RowsFollowTheRegisterMapByPortNumber) {
    // p: instance, pair, name, HS and SS PORTSC, n, glue set, HS PHY control, SS PHY common
    // part, power, low power, wake detect, event status, event clear, wake lines A and B.
    struct Row {
        LONG instance;
        ULONG pair;
        const char* name;
        ULONG hs, ss, n, glue, hsControl, common, power, lowPower, wake, status, clear, a, b;
    } rows[] = {
        {0, 0, "Primary", 0x420, 0x430, 0, 0, 0x2064, 0x8008, 0x9C40, 0x9C8C, 0x9F08, 0x9F10,
         0x9F14, 0x208, 0x209},
        {1, 0, "Secondary", 0x420, 0x430, 0, 0, 0x3064, 0xD008, 0xEC40, 0xEC8C, 0xEF08, 0xEF10,
         0xEF14, 0x20A, 0x20B},
        {2, 0, "Multiport 0", 0x420, 0x440, 0, 0, 0x4064, 0, 0xB840, 0xB88C, 0xBE08, 0xBE10, 0xBE14,
         0x22E, 0x23B},
        {2, 1, "Multiport 1", 0x430, 0x450, 1, 1, 0x5064, 0, 0xC840, 0xC88C, 0xCE08, 0xCE10, 0xCE14,
         0x244, 0x247},
    };
    for (ULONG p = 0; p < PORT_COUNT; ++p) {
        SCOPED_TRACE(p);
        const PORT_LAYOUT& l = PORT_LAYOUTS[p];
        const Row& r = rows[p];
        EXPECT_EQ(l.Instance, r.instance);
        EXPECT_EQ(l.PairIndex, r.pair);
        EXPECT_STREQ(l.PairName, r.name);
        EXPECT_STREQ(PortPairName(p), r.name);
        EXPECT_EQ(l.HsPortsc, r.hs);
        EXPECT_EQ(l.SsPortsc, r.ss);
        EXPECT_EQ(l.CoreIndex, r.n);
        EXPECT_EQ(l.GlueSet, r.glue);
        EXPECT_EQ(l.HsPhyControl, r.hsControl);
        EXPECT_EQ(l.SsPhyCommon, r.common);
        EXPECT_EQ(l.SsPhyPowerControl, r.power);
        EXPECT_EQ(l.SsPhyLowPowerControl, r.lowPower);
        EXPECT_EQ(l.SsPhyWakeDetectControl, r.wake);
        EXPECT_EQ(l.SsPhyEventStatus, r.status);
        EXPECT_EQ(l.SsPhyEventClear, r.clear);
        EXPECT_EQ(l.WakeLineA, r.a);
        EXPECT_EQ(l.WakeLineB, r.b);
        // Glue set 0 or 1: status, event status, event enable, IRQ status, clock select, gate.
        const ULONG glue[2][6] = {{0xF88F8, 0xF8858, 0xF885C, 0xF8824, 0x1, 0x100},
                                  {0xF89D8, 0xF89DC, 0xF89E0, 0xF89F0, 0x10000, 0x1000000}};
        const ULONG* g = glue[r.glue];
        EXPECT_EQ(l.Glue.Status, g[0]);
        EXPECT_EQ(l.Glue.EventStatus, g[1]);
        EXPECT_EQ(l.Glue.EventEnable, g[2]);
        EXPECT_EQ(l.Glue.IrqStatus, g[3]);
        EXPECT_EQ(l.Glue.PipeClockSelect, g[4]);
        EXPECT_EQ(l.Glue.PipeClockGate, g[5]);
    }
}

TEST(PortLayout, InstanceLookupFailsBeforeIndexingAnything) {
    struct {
        LONG instance;
        ULONG first, pairs, controller, resetFirst, resetSecond;
    } known[] = {{0, 0, 1, 0x0A600000, 0xF004, 0xF000},
                 {1, 1, 1, 0x0A800000, 0x10004, 0x10000},
                 {2, 2, 2, 0x0A400000, 0xA6004, 0xA6000}};
    for (auto& k : known) {
        SCOPED_TRACE(k.instance);
        const INSTANCE_LAYOUT* layout = nullptr;
        ASSERT_EQ(LookupInstanceLayout(k.instance, &layout), STATUS_SUCCESS);
        EXPECT_EQ(layout->FirstPort, k.first);
        EXPECT_EQ(layout->PairCount, k.pairs);
        EXPECT_EQ(layout->ControllerPhysical, k.controller);
        EXPECT_EQ(layout->ControllerResetFirst, k.resetFirst);
        EXPECT_EQ(layout->ControllerResetSecond, k.resetSecond);
        EXPECT_EQ(InstancePort(layout, layout->PairCount - 1)->Instance, k.instance);
    }
    for (LONG instance : {3, -1, 0x7FFFFFFF, static_cast<LONG>(0x80000000)}) {
        const INSTANCE_LAYOUT* layout = reinterpret_cast<const INSTANCE_LAYOUT*>(0x1);
        EXPECT_EQ(LookupInstanceLayout(instance, &layout), STATUS_DEVICE_HARDWARE_ERROR);
        EXPECT_EQ(layout, nullptr);
    }
}

} // namespace
