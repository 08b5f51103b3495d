// Response frames of any content through the transport's response handling and what the
// commands make of it: the key copy and the version reply with its extraction.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzSetup.h"
#include "channel/McuCommands.h"
#include "channel/Packet.h"
#include "version/ComponentTable.h"
#include "version/VersionQuery.h"
#include "version/VersionText.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

// The context as a command leaves it while its read thread waits for the answer.
PacketContext Waiting(uint8_t command, int32_t requestLength) {
    PacketContext context{};
    context.running = 1;
    context.target = 9;
    context.command = command;
    context.length = requestLength;
    return context;
}

void CheckAccepted(const PacketContext& context, const uint8_t* frame) {
    const uint8_t length = frame[7];
    if (length == 0) {
        Require(context.status == PacketStatusFailure && context.running == 0);
    } else if (length <= PacketPayloadBytes) {
        Require(context.status == 0 && context.running == 0 && context.length == length);
        Require(std::memcmp(context.payload, frame + 8, length) == 0);
    } else {
        // Too long to take: the payload is cleared and the thread reads on.
        Require(context.running == 1 && context.length == length);
        for (uint8_t byte : context.payload) {
            Require(byte == 0);
        }
    }
}

void TakeKeyFrom(const PacketContext& context) {
    KeyRecord record{};
    std::memset(record.key, 0xA5, sizeof(record.key));
    const int result = TakeKey(context, record);
    const int n = context.length - 2;
    Require(result == ((n >= 0 && n <= ProvisioningKeyBytes) ? 0 : GetKeyDoesNotFit));
}

void TakeVersionFrom(PacketContext context, const uint8_t* data, size_t size) {
    // A frame that was not taken leaves the exchange to time out.
    if (context.running != 0) {
        context.status = PacketStatusTimeout;
    }
    VersionQuery query{};
    const int result = TakeVersionReply(context, query.text, query.length);
    Require(query.length < VersionTextBytes);
    if (result != 0) {
        return;
    }
    const ComponentEntry& row = ComponentTable[(size > 64 ? data[64] : 0) % ComponentCount];
    char out[64];
    ExtractVersionText(std::string(query.text), row.tag, row.variant, out, query.length);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    PrepareFuzzHost();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint8_t frame[PacketFrameBytes] = {};
    std::memcpy(frame, data, std::min(size, sizeof(frame)));

    PacketContext context = Waiting(frame[5], 1);
    Packet::AcceptResponse(context, frame);
    CheckAccepted(context, frame);
    if (context.status == 0 && context.running == 0) {
        TakeKeyFrom(context);
    }
    TakeVersionFrom(context, data, size);
    return 0;
}
