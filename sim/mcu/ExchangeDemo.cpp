// exchange-demo: runs the tool's request/response exchange against the MCU driver (mcu-sim on
// Linux) for the get-flag command and both get-key selectors, and prints each outcome.

#include <cstdio>
#include <cstring>

#include "channel/Packet.h"

namespace {

struct DemoRequest {
    const char* title;
    uint32_t command;
    int32_t length;
    uint8_t selector;
};

void RunExchange(const DemoRequest& request, uint32_t device) {
    PacketContext context;
    std::memset(&context, 0, sizeof context);
    context.running = 1;
    context.kind = 4;
    context.target = 9;
    context.device = device;
    context.command = request.command;
    context.length = request.length;
    context.payload[0] = request.selector;

    Packet packet;
    packet.Transfer(context);

    std::printf("%-28s status %d", request.title, context.status);
    if (context.status == PacketStatusSuccess) {
        std::printf(", %d payload bytes:", context.length);
        for (int i = 0; i < context.length && i < PacketPayloadBytes; ++i)
            std::printf(" %02x", context.payload[i]);
    }
    std::printf("\n");
}

} // namespace

int main() {
    const DemoRequest requests[] = {
        {"get flag (0x64)", 0x64, 0, 0},
        {"get key, first key (0x62)", 0x62, 1, 0},
        {"get key, second key (0x62)", 0x62, 1, 1},
    };
    for (const auto& request : requests)
        RunExchange(request, 0);
    return 0;
}
