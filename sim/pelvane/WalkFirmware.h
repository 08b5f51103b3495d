#pragma once
// The changes of a controller's ACPI firmware that a walk draws ("firmware multiport MPRD=1",
// "firmware primary PHYC=417"): a switch answering 0, 1, missing or failing, and the "PHYC"
// override packages drawn from a number, or failing.
#include "WalkRun.h"

#include <acpi/AcpiModel.h>

#include <optional>
#include <string>
#include <vector>

namespace pelvane {

struct FirmwareChange {
    std::string name;   // "GEN1", "MPRD", "MPDP", "CCVL" or "PHYC"
    std::string answer; // "0", "1", "missing", "fail"; for "PHYC" a number or "fail"
};

std::string DrawFirmwareChange(WalkRandom& random);
std::optional<FirmwareChange> ParseFirmwareChange(const std::string& arg);
void ApplyFirmwareChange(acpi::AcpiModel& firmware, int instance, const FirmwareChange& change);

// The override packages that "PHYC=number" stands for on the instance's node: records of kind
// 0 (a few of another kind) in its windows, its controller registers and elsewhere.
std::vector<acpi::Argument> DrawOverridePackages(int instance, unsigned number);

} // namespace pelvane
