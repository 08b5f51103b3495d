// Version replies of any shape, matched against every row of the component table. The reply
// reaches the extraction as the version query leaves it: at most 63 characters, up to a NUL.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzSetup.h"
#include "version/ComponentTable.h"
#include "version/VersionText.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    PrepareFuzzHost();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const ComponentEntry& row = ComponentTable[data[0] % ComponentCount];
    std::string reply(reinterpret_cast<const char*>(data + 1), std::min<size_t>(size - 1, 63));
    reply = reply.c_str();

    char out[64];
    std::memset(out, 0x7F, sizeof(out));
    ExtractVersionText(reply, row.tag, row.variant, out, static_cast<int>(reply.size()));
    if (out[0] != 0x7F) {
        const size_t length = strnlen(out, sizeof(out));
        // Whatever was written is a NUL-terminated piece of the reply after its first blank.
        if (length == sizeof(out) || reply.find(std::string(out, length)) == std::string::npos) {
            __builtin_trap();
        }
    }
    return 0;
}
