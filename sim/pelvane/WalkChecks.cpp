// What must hold after every step of a walk, read from the hardware and the platform: the
// registers as the SoC holds them, the GPIO line, what the world's firmware answered. Never the
// driver's own records.
#include "WalkRun.h"

#include <cstdio>

namespace pelvane {

namespace {

using kmdf::PolicyState;

constexpr std::uint32_t kGctl = 0xC110;
constexpr std::uint32_t kGlueIrqEnable = 0xF8820;
constexpr std::uint32_t kGlueEvtEnable0 = 0xF885C;
constexpr std::uint32_t kGlueEvtEnable1 = 0xF89E0;

std::string Hex(std::uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", v);
    return text;
}

// The instance is in D0 with the host-controller driver above it running.
bool InD0(WalkRun& run, int instance) {
    InstanceLife& life = run.Life(instance);
    return life.present && life.owner && life.owner->State() == PolicyState::Started &&
           run.GetMachine().DeviceStarted(life.owner->Id());
}

bool CheckInstance(WalkRun& run, std::size_t step, int instance) {
    soc::Soc& soc = run.Soc();
    const std::string who = soc::InstanceName(instance);
    std::uint32_t gctl = soc.Peek(soc::BlockKind::Controller, instance, kGctl);
    if ((gctl & 0x3000) != 0x1000) {
        return run.Fail(step, "every instance in D0 has a core configured as a host",
                        who + ": GCTL " + Hex(gctl));
    }
    // The wrapper's wake events are armed by a power-down and disarmed by the next D0 entry.
    std::uint32_t irq = soc.Peek(soc::BlockKind::Controller, instance, kGlueIrqEnable);
    std::uint32_t evt0 = soc.Peek(soc::BlockKind::Controller, instance, kGlueEvtEnable0);
    std::uint32_t evt1 = instance == soc::kMultiport
                             ? soc.Peek(soc::BlockKind::Controller, instance, kGlueEvtEnable1)
                             : 0;
    bool armed = (irq & 0x1000) != 0 || (evt0 & 0x1028) != 0 || (evt1 & 0x1028) != 0;
    if (armed && run.Life(instance).lowPowerExit) {
        return run.Fail(step, "wake events disarmed in D0",
                        who + ": IRQ enable " + Hex(irq) + ", event enables " + Hex(evt0) + " " +
                            Hex(evt1));
    }
    // Each SS PHY of a running controller is powered and has been programmed since its last
    // power loss, unless it never becomes ready (the bring-up then records the failure).
    if (run.GetWorld().Options().ssPhyReadyAfter >= 0) {
        int first = instance == soc::kMultiport ? 2 : instance;
        int count = instance == soc::kMultiport ? 2 : 1;
        for (int k = 0; k < count; ++k) {
            int phy = first + k;
            if (!run.SsPhyProgrammed(phy)) {
                return run.Fail(step, "every SS PHY of a running controller is programmed",
                                who + ": SS PHY " + std::to_string(phy) +
                                    " not programmed since its last power loss");
            }
        }
    }
    // Multiport with MPRD: the line that powers the second SS port is high while it runs.
    if (instance == soc::kMultiport && run.MprdRead(instance) && run.GetWorld().Options().gpio) {
        int level = run.GetWorld().Gpio(instance).Level();
        if (level != 1) {
            return run.Fail(step, "the MPRD GPIO line is high while Multiport runs",
                            who + ": line " + std::to_string(level));
        }
    }
    return true;
}

} // namespace

bool CheckWalkStep(WalkRun& run, std::size_t step) {
    for (int instance : run.Instances()) {
        if (InD0(run, instance) && !run.Life(instance).degraded &&
            !CheckInstance(run, step, instance)) {
            return false;
        }
    }
    return true;
}

} // namespace pelvane
