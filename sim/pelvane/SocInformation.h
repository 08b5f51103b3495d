#pragma once
// The firmware's SoC information: the DSDT in the firmware table store, naming the record's
// physical address as "SOSI", and the record itself in firmware memory.
#include <kmdf/Machine.h>
#include <soc/Soc.h>

#include <cstdint>
#include <vector>

namespace pelvane {

struct SocInformation {
    bool named = true;                // "SOSI" appears in the DSDT
    std::size_t nameOffset = 0x240;   // where the name starts in the table
    std::size_t tableLength = 0x1400; // the whole DSDT, header included
    std::uint64_t recordAddress = 0x9FE00000;
    bool recordPresent = true;          // the record is in firmware memory
    std::uint32_t version = 0x00020001; // at offset 8
    std::uint32_t firstCount = 4;       // at offset 156
    std::uint32_t secondCount = 2;      // at offset 164
    std::size_t recordBytes = 0;        // bytes placed in memory; 0: the record's length
};

// ACPI's firmware table provider and the DSDT's table ID, as the query takes them.
inline constexpr ULONG kAcpiProvider = 0x41435049;
inline constexpr ULONG kDsdtTableId = 0x54445344;

std::vector<std::uint8_t> BuildDsdt(const SocInformation& info);
std::vector<std::uint8_t> BuildSocInfoRecord(const SocInformation& info);
// Both in place: the table in the machine's store, the record in the SoC's memory.
void InstallSocInformation(kmdf::Machine& machine, soc::Soc& soc, const SocInformation& info);

} // namespace pelvane
