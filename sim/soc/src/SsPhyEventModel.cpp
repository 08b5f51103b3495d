// The super-speed PHYs' event status and event clear registers.
#include <soc/Soc.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>

namespace soc {

namespace {

struct SsPhyEventRegisters {
    std::uint32_t status, clear;
};

// PHY-block offsets of SS PHY 0..3.
constexpr SsPhyEventRegisters kSsPhyEvents[] = {
    {0x9F10, 0x9F14},
    {0xEF10, 0xEF14},
    {0xBE10, 0xBE14},
    {0xCE10, 0xCE14},
};

constexpr std::uint32_t kBusy = 0x4;    // bit 2
constexpr std::uint32_t kPending = 0x3; // bits 1:0

} // namespace

void Soc::SsPhyEventStatus(int phy, int busyReads, std::uint32_t events, int clearWrites) {
    if (phy < 0 || phy >= static_cast<int>(std::size(kSsPhyEvents))) {
        std::fprintf(stderr, "soc: no SS PHY %d\n", phy);
        std::abort();
    }
    const SsPhyEventRegisters regs = kSsPhyEvents[phy];
    Poke(BlockKind::Phy, 0, regs.status, events & kPending);
    if (busyReads != 0) {
        ClearBitsAfterReads(BlockKind::Phy, 0, regs.status, kBusy, busyReads);
    }
    auto remaining = std::make_shared<int>(clearWrites);
    OnWrite(BlockKind::Phy, 0, regs.clear,
            [regs, remaining](std::uint32_t written, RegisterView& view) {
                if ((written & 1) == 0 || *remaining < 0) {
                    return;
                }
                if (*remaining > 0) {
                    --*remaining;
                }
                if (*remaining == 0) {
                    view.Set(BlockKind::Phy, 0, regs.status,
                             view.Get(BlockKind::Phy, 0, regs.status) & ~kPending);
                }
            });
}

} // namespace soc
