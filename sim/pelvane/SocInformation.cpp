// The DSDT with its "SOSI" name and the SoC information record.
#include "SocInformation.h"

#include <cstring>

namespace pelvane {

namespace {

void Put32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

} // namespace

std::vector<std::uint8_t> BuildDsdt(const SocInformation& info) {
    std::vector<std::uint8_t> table(info.tableLength, 0xA3); // filler that never spells SOSI
    static const char header[] = "DSDT";
    std::size_t headerBytes = table.size() < 36 ? table.size() : 36;
    std::memset(table.data(), 0, headerBytes);
    std::memcpy(table.data(), header, headerBytes < 4 ? headerBytes : 4);
    if (headerBytes >= 8) {
        Put32(table, 4, static_cast<std::uint32_t>(table.size()));
    }
    if (!info.named) {
        return table;
    }
    // NameOp, the name, QWordPrefix and the address, as far as the table holds them.
    const std::uint8_t name[] = {'S', 'O', 'S', 'I', 0x0E};
    std::vector<std::uint8_t> entry(name, name + sizeof name);
    for (int i = 0; i < 8; ++i) {
        entry.push_back(static_cast<std::uint8_t>(info.recordAddress >> (8 * i)));
    }
    if (info.nameOffset > 0 && info.nameOffset - 1 < table.size()) {
        table[info.nameOffset - 1] = 0x08;
    }
    for (std::size_t i = 0; i < entry.size() && info.nameOffset + i < table.size(); ++i) {
        table[info.nameOffset + i] = entry[i];
    }
    return table;
}

std::vector<std::uint8_t> BuildSocInfoRecord(const SocInformation& info) {
    std::uint64_t words = std::uint64_t(info.firstCount) + info.secondCount + 44;
    std::size_t length = info.recordBytes != 0 ? info.recordBytes : std::size_t(words * 4);
    std::vector<std::uint8_t> record(length, 0x5A);
    if (length >= 12) {
        Put32(record, 8, info.version);
    }
    if (length >= 160) {
        Put32(record, 156, info.firstCount);
    }
    if (length >= 168) {
        Put32(record, 164, info.secondCount);
    }
    return record;
}

void InstallSocInformation(kmdf::Machine& machine, soc::Soc& soc, const SocInformation& info) {
    machine.SetFirmwareTable(kAcpiProvider, kDsdtTableId, BuildDsdt(info));
    if (info.recordPresent) {
        soc.AddMemory(info.recordAddress, BuildSocInfoRecord(info));
    }
}

} // namespace pelvane
