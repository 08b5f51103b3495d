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
        // The address must have come from eight bytes inside the searched part.
        std::size_t searched =
            table.size() < SOC_INFO_SEARCH_LENGTH ? table.size() : SOC_INFO_SEARCH_LENGTH;
        bool seen = false;
        for (std::size_t i = 0; i + 13 <= searched && !seen; ++i) {
            ULONGLONG candidate;
            std::memcpy(&candidate, table.data() + i + 5, 8);
            seen = std::memcmp(table.data() + i, "SOSI", 4) == 0 && candidate == address;
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
