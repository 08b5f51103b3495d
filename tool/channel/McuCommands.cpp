#include "channel/McuCommands.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "log/Log.h"

// Overlong data is reported with the C library's out-of-range error number, which callers and
// the record log know as 34.
static_assert(ERANGE == 34);

namespace {

// The MCU needs a moment after an answer before it takes the next request.
constexpr DWORD SettleMilliseconds = 50;

// The first two bytes of a key response are a header the tool does not interpret.
constexpr int KeyResponseHeaderBytes = 2;

PacketContext Request(uint32_t kind, uint32_t device, uint32_t command) {
    PacketContext context{};
    context.running = 1;
    context.kind = kind;
    context.target = 9;
    context.device = device;
    context.command = command;
    context.length = 0;
    return context;
}

} // namespace

int FactoryBtMcuGetKey(KeyRecord* record, uint32_t device) {
    if (record == nullptr) {
        return GetKeyNoRecord;
    }
    PacketContext context = Request(4, device, McuCommandGetKey);
    context.length = 1;
    context.payload[0] = record->selector;
    Packet packet;
    packet.Transfer(context);
    Sleep(SettleMilliseconds);

    LogDebug("FactoryBtMcuGetKey error code:" + std::to_string(context.status));
    if (context.status != PacketStatusSuccess) {
        return context.status;
    }
    return TakeKey(context, *record);
}

int TakeKey(const PacketContext& response, KeyRecord& record) {
    const int n = response.length - KeyResponseHeaderBytes;
    if (n == 0) {
        return 0;
    }
    if (n > 0 && n <= ProvisioningKeyBytes) {
        std::memcpy(record.key, response.payload + KeyResponseHeaderBytes, n);
        return 0;
    }
    // Longer than a key, or a single byte: nothing of it is trusted.
    std::memset(record.key, 0, sizeof(record.key));
    LogError("Copy data Failed! error code:" + std::to_string(ERANGE));
    return GetKeyDoesNotFit;
}

PacketContext EnableRequest(uint32_t device) {
    return Request(99, device, McuCommandEnable);
}

int32_t GetSecureBootFlag(uint32_t device, uint32_t& secureBootFlag) {
    PacketContext context = Request(4, device, McuCommandGetFlag);
    Packet packet;
    packet.Transfer(context);
    Sleep(SettleMilliseconds);
    if (context.status == PacketStatusSuccess) {
        secureBootFlag = context.length != 0 ? PayloadWord(context) : 0;
    }
    return context.status;
}

uint32_t PayloadWord(const PacketContext& context) {
    return static_cast<uint32_t>(context.payload[0]) |
           static_cast<uint32_t>(context.payload[1]) << 8 |
           static_cast<uint32_t>(context.payload[2]) << 16 |
           static_cast<uint32_t>(context.payload[3]) << 24;
}
