// The driver's search of the DSDT for "SOSI" and its reading of the SoC information record, on
// arbitrary firmware bytes. The input's first two bytes say how many of the rest are the DSDT;
// the remainder is the record. Each part lives in a buffer of exactly its length, so that a
// read past either end is caught.
#include "frame/SocInfoRecord.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

std::vector<unsigned char> Exactly(const std::uint8_t* data, std::size_t size) {
    return std::vector<unsigned char>(data, data + size);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    std::size_t rest = size - 2;
    std::size_t tableLength = (static_cast<std::size_t>(data[0]) | (data[1] << 8)) % (rest + 1);
    auto table = Exactly(data + 2, tableLength);
    auto record = Exactly(data + 2 + tableLength, rest - tableLength);

    ULONGLONG address = 0;
    if (FindSocInfoAddress(table.data(), static_cast<ULONG>(table.size()), &address)) {
        // The address must be the eight bytes five past the first "SOSI" that starts inside the
        // searched part; those bytes may lie past it, but never past the end of the table.
        std::size_t searched =
            table.size() < SOC_INFO_SEARCH_LENGTH ? table.size() : SOC_INFO_SEARCH_LENGTH;
        std::size_t first = 0;
        while (first + 4 <= searched && std::memcmp(table.data() + first, "SOSI", 4) != 0) {
            ++first;
        }
        bool seen = false;
        if (first + 4 <= searched && first + 13 <= table.size()) {
            ULONGLONG candidate;
            std::memcpy(&candidate, table.data() + first + 5, 8);
            seen = candidate == address;
        }
        if (!seen) {
            __builtin_trap();
        }
    }

    ULONG length = 0;
    if (GetSocInfoRecordLength(record.data(), static_cast<ULONG>(record.size()), &length)) {
        if (length < SOC_INFO_FIXED_LENGTH || length > SOC_INFO_MAX_LENGTH || length % 4 != 0) {
            __builtin_trap();
        }
        if (length <= record.size()) {
            (void)GetSocInfoVersion(record.data(), length);
        }
    }
    (void)GetSocInfoVersion(record.data(), static_cast<ULONG>(record.size()));
    return 0;
}
