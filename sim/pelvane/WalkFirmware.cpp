// The firmware changes a walk draws: a switch of one controller's ACPI node answering 0 or 1,
// missing or failing, and the node's "PHYC" override packages drawn from a number. The driver
// reads the switches at every bring-up and the overrides while its list is empty, so a change
// takes effect at the next bring-up that reads it.
#include "WalkFirmware.h"

#include <cstdlib>

namespace pelvane {

namespace {

constexpr std::uint32_t kPhyBlock = 0x088E0000;
constexpr std::uint32_t kControllerBase[kInstances] = {0x0A600000, 0x0A800000, 0x0A400000};

// The HS PHYs' override windows are 0x100 bytes at 0x2000 + 0x1000 n in the PHY block. The SS
// PHYs' windows are 4 KiB; the records stay below their control registers at 0xC00 (soft
// reset, status, power control and start), which belong to the sequence, not to tuning.
std::uint32_t HsWindow(int phy) {
    return kPhyBlock + 0x2000 + 0x1000 * static_cast<std::uint32_t>(phy);
}
constexpr std::uint32_t kSsWindow[4] = {0x088E9000, 0x088EE000, 0x088EB000, 0x088EC000};
constexpr std::uint32_t kSsTuningSpan = 0xC00;

int FirstPhy(int instance) {
    return instance == soc::kMultiport ? 2 : instance;
}
int PhyCount(int instance) {
    return instance == soc::kMultiport ? 2 : 1;
}

// A record's address: mostly where the instance's passes apply it, sometimes just past a
// window, in another instance's window or nowhere the driver writes.
std::uint32_t DrawAddress(WalkRandom& random, int instance) {
    int phy = FirstPhy(instance) + random.Below(PhyCount(instance));
    std::uint32_t word = 4 * static_cast<std::uint32_t>(random.Below(0x40));
    int where = random.Below(20);
    if (where < 6) {
        return HsWindow(phy) + word;
    }
    if (where < 12) {
        return kSsWindow[phy] + 4 * static_cast<std::uint32_t>(random.Below(kSsTuningSpan / 4));
    }
    if (where < 15) {
        return kControllerBase[instance] + 0xD060 + 4 * static_cast<std::uint32_t>(random.Below(4));
    }
    if (where < 17) {
        int other = (instance + 1 + random.Below(kInstances - 1)) % kInstances;
        return random.Chance(50) ? HsWindow(FirstPhy(other)) + word
                                 : kControllerBase[other] + 0xD060;
    }
    if (where < 18) {
        return HsWindow(phy) + 0x100; // just past the window
    }
    static constexpr std::uint32_t kNowhere[] = {0, 0x088DFFFC, 0x088F4000, 0xFFFFFFFC, 0x0A60D070};
    return kNowhere[random.Below(5)];
}

} // namespace

std::vector<acpi::Argument> DrawOverridePackages(int instance, unsigned number) {
    WalkRandom random(0x50485943ULL * (number + 1) + static_cast<std::uint64_t>(instance));
    // A few records, now and then more than the first 1024-byte buffer holds, and now and then
    // more than the last one does.
    int count = random.Chance(85) ? random.Below(7) : 30 + random.Below(140);
    std::vector<acpi::Argument> packages;
    for (int i = 0; i < count; ++i) {
        std::uint32_t kind = random.Chance(92) ? 0 : 1;
        std::uint32_t address = DrawAddress(random, instance);
        auto value = static_cast<std::uint32_t>(random.Next());
        packages.push_back(acpi::Override(kind, address, value));
    }
    return packages;
}

std::string DrawFirmwareChange(WalkRandom& random) {
    static const char* const names[] = {"GEN1", "MPRD", "MPDP", "CCVL", "PHYC"};
    std::string name = names[random.Below(5)];
    if (name == "PHYC") {
        return random.Chance(10) ? "PHYC=fail" : "PHYC=" + std::to_string(random.Below(1000));
    }
    static const char* const answers[] = {"0", "1", "1", "0", "missing", "fail"};
    return name + "=" + answers[random.Below(6)];
}

std::optional<FirmwareChange> ParseFirmwareChange(const std::string& arg) {
    std::size_t eq = arg.find('=');
    if (eq == std::string::npos) {
        return std::nullopt;
    }
    FirmwareChange change{arg.substr(0, eq), arg.substr(eq + 1)};
    const std::string& v = change.answer;
    if (change.name == "PHYC") {
        bool number =
            !v.empty() && v.size() <= 3 && v.find_first_not_of("0123456789") == std::string::npos;
        return number || v == "fail" ? std::optional(change) : std::nullopt;
    }
    bool known = change.name == "GEN1" || change.name == "MPRD" || change.name == "MPDP" ||
                 change.name == "CCVL";
    bool answer = v == "0" || v == "1" || v == "missing" || v == "fail";
    return known && answer ? std::optional(change) : std::nullopt;
}

void ApplyFirmwareChange(acpi::AcpiModel& firmware, int instance, const FirmwareChange& change) {
    if (change.answer == "fail") {
        acpi::Answer failing;
        failing.status = STATUS_UNSUCCESSFUL;
        firmware.SetObject(change.name, failing);
    } else if (change.answer == "missing") {
        firmware.RemoveObject(change.name);
    } else if (change.name == "PHYC") {
        firmware.SetPackages("PHYC", DrawOverridePackages(instance, static_cast<unsigned>(std::atoi(
                                                                        change.answer.c_str()))));
    } else {
        firmware.SetFlag(change.name, change.answer == "1" ? 1 : 0);
    }
}

} // namespace pelvane
