#pragma once
// The SoC's physical address map: the three USB controller blocks, the clock-and-reset block
// and the PHY block, all 32-bit registers.
#include <cstdint>
#include <optional>
#include <string>

namespace soc {

enum class BlockKind { Controller, ClockReset, Phy };

inline constexpr std::uint64_t kControllerBase[3] = {0x0A600000, 0x0A800000, 0x0A400000};
// Large enough for the wrapper's glue registers at 0xF8808..0xF89F0.
inline constexpr std::uint64_t kControllerSize = 0x100000;
inline constexpr std::uint64_t kClockResetBase = 0x00100000;
inline constexpr std::uint64_t kClockResetSize = 0x200000;
inline constexpr std::uint64_t kPhyBase = 0x088E0000;
inline constexpr std::uint64_t kPhySize = 0x14000;

inline constexpr int kPrimary = 0;
inline constexpr int kSecondary = 1;
inline constexpr int kMultiport = 2;

struct Location {
    BlockKind block;
    int instance; // controller instance for the controller block, 0 for the shared blocks
    std::uint32_t offset;
};

// The block that holds the four bytes at `physical`, if any.
std::optional<Location> Locate(std::uint64_t physical);
std::uint64_t PhysicalOf(BlockKind block, int instance, std::uint32_t offset);
bool RangeInOneBlock(std::uint64_t physical, std::uint64_t length);

const char* BlockName(BlockKind block); // "controller", "clockreset", "phy"
const char* InstanceName(int instance); // "primary", "secondary", "multiport"
std::optional<int> InstanceByName(const std::string& name);

} // namespace soc
