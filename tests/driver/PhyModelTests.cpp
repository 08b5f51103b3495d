// The simulated super-speed PHYs: the ready status after a start write.
#include <soc/Soc.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<std::uint32_t> StatusReads(soc::Soc& soc, std::uint64_t status, int reads) {
    std::vector<std::uint32_t> out;
    for (int i = 0; i < reads; ++i) {
        out.push_back(soc.Read32(status) & 0x40);
    }
    return out;
}

TEST(SsPhyModel, StatusReportsReadyAfterTheConfiguredReadsFollowingEachStart) {
    soc::Soc soc;
    const std::uint64_t start = soc::kPhyBase + 0xB844, status = soc::kPhyBase + 0xB814;
    EXPECT_EQ(StatusReads(soc, status, 1), (std::vector<std::uint32_t>{0})) << "ready by default";

    soc.SsPhyReadyAfter(2, 2);
    EXPECT_EQ(StatusReads(soc, status, 1), (std::vector<std::uint32_t>{0})) << "before a start";
    soc.Write32(start, 3);
    EXPECT_EQ(StatusReads(soc, status, 4), (std::vector<std::uint32_t>{0x40, 0x40, 0, 0}));
    soc.Write32(start, 3); // every start begins again
    EXPECT_EQ(StatusReads(soc, status, 3), (std::vector<std::uint32_t>{0x40, 0x40, 0}));

    soc.SsPhyReadyAfter(2, -1);
    soc.Write32(start, 3);
    EXPECT_EQ(StatusReads(soc, status, 6), std::vector<std::uint32_t>(6, 0x40));
    EXPECT_EQ(soc.Read32(soc::kPhyBase + 0xC814) & 0x40, 0u) << "SS PHY 3 is its own";
}

} // namespace
