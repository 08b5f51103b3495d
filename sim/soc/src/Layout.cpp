// The SoC's physical address map.
#include <soc/Layout.h>

namespace soc {

std::optional<Location> Locate(std::uint64_t physical) {
    for (int i = 0; i < 3; ++i) {
        if (physical >= kControllerBase[i] && physical < kControllerBase[i] + kControllerSize) {
            return Location{BlockKind::Controller, i,
                            static_cast<std::uint32_t>(physical - kControllerBase[i])};
        }
    }
    if (physical >= kClockResetBase && physical < kClockResetBase + kClockResetSize) {
        return Location{BlockKind::ClockReset, 0,
                        static_cast<std::uint32_t>(physical - kClockResetBase)};
    }
    if (physical >= kPhyBase && physical < kPhyBase + kPhySize) {
        return Location{BlockKind::Phy, 0, static_cast<std::uint32_t>(physical - kPhyBase)};
    }
    return std::nullopt;
}

std::uint64_t PhysicalOf(BlockKind block, int instance, std::uint32_t offset) {
    switch (block) {
    case BlockKind::Controller:
        return kControllerBase[instance] + offset;
    case BlockKind::ClockReset:
        return kClockResetBase + offset;
    case BlockKind::Phy:
        return kPhyBase + offset;
    }
    return 0;
}

bool RangeInOneBlock(std::uint64_t physical, std::uint64_t length) {
    auto first = Locate(physical);
    auto last = Locate(physical + length - 1);
    return length != 0 && first && last && first->block == last->block &&
           first->instance == last->instance;
}

const char* BlockName(BlockKind block) {
    switch (block) {
    case BlockKind::Controller:
        return "controller";
    case BlockKind::ClockReset:
        return "clockreset";
    case BlockKind::Phy:
        return "phy";
    }
    return "?";
}

const char* InstanceName(int instance) {
    switch (instance) {
    case kPrimary:
        return "primary";
    case kSecondary:
        return "secondary";
    case kMultiport:
        return "multiport";
    default:
        return "-";
    }
}

std::optional<int> InstanceByName(const std::string& name) {
    for (int i = 0; i < 3; ++i) {
        if (name == InstanceName(i)) {
            return i;
        }
    }
    return std::nullopt;
}

} // namespace soc
