#include <algorithm>
#include <cerrno>
#include <cstring>

#include "channel/Packet.h"
#include "log/Log.h"
#include "version/ComponentTable.h"
#include "version/VersionQuery.h"

// Overlong data is reported with the C library's out-of-range error number, which callers and
// the record log know as 34.
static_assert(ERANGE == 34);

namespace {

struct VersionRequest {
    uint32_t target;
    uint32_t device;
    uint32_t command;
};

// Every keyboard model answers the same request; the touchpad has a command of its own.
VersionRequest RequestFor(uint32_t kind) {
    switch (kind) {
    case KeyboardMcu:
        return {5, 2, 0x03};
    case PenMcu:
        return {7, 1, 0x03};
    case BtMcu:
        return {9, 0, 0x03};
    default:
        return {0, 0, 0x57};
    }
}

} // namespace

int QueryMcuVersion(uint32_t kind, char* text, uint8_t& length) {
    const VersionRequest request = RequestFor(kind);
    Packet packet;
    PacketContext context{};
    context.running = 1;
    context.kind = kind;
    context.target = request.target;
    context.device = request.device;
    context.command = request.command;
    context.length = 0;
    context.extraTimeoutSeconds = 0;
    packet.Transfer(context);

    return TakeVersionReply(context, text, length);
}

int TakeVersionReply(const PacketContext& response, char* text, uint8_t& length) {
    // A failed exchange may still leave a length and payload bytes behind; they are taken over
    // as they are, and the status tells the caller what they are worth.
    const int32_t reported = response.length; // a packed field: no reference to it
    const int32_t n = std::max(reported, 0);
    if (n > VersionTextBytes) {
        std::memset(text, 0, VersionTextBytes);
        LogError("Copy data Failed! error code:" + std::to_string(ERANGE));
        return ERANGE;
    }
    if (n != 0) {
        std::memcpy(text, response.payload, std::min(n, PacketPayloadBytes));
    }
    length = static_cast<uint8_t>(std::min(n, VersionTextBytes - 1));
    text[length] = '\0';
    return response.status;
}
