// The super-speed PHYs' start command and ready status.
#include <soc/Soc.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>

namespace soc {

namespace {

struct SsPhyRegisters {
    std::uint32_t start, status;
};

// PHY-block offsets of SS PHY 0..3.
constexpr SsPhyRegisters kSsPhy[] = {
    {0x9C44, 0x9C14},
    {0xEC44, 0xEC14},
    {0xB844, 0xB814},
    {0xC844, 0xC814},
};

constexpr std::uint32_t kNotReady = 0x40; // status bit 6

} // namespace

void Soc::SsPhyReadyAfter(int phy, int busyReads) {
    if (phy < 0 || phy >= static_cast<int>(std::size(kSsPhy))) {
        std::fprintf(stderr, "soc: no SS PHY %d\n", phy);
        std::abort();
    }
    const std::uint32_t status = kSsPhy[phy].status;
    OnWrite(BlockKind::Phy, 0, kSsPhy[phy].start,
            [status, busyReads](std::uint32_t, RegisterView& view) {
                view.ClearBitsAfterReads(BlockKind::Phy, 0, status, kNotReady, busyReads);
            });
}

} // namespace soc
