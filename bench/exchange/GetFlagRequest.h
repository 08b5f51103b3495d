// The request that both exchange measurements send: GetFlag to the Bluetooth MCU.
#pragma once

#include <cstring>

#include "channel/Packet.h"

inline PacketContext GetFlagRequest() {
    PacketContext context;
    std::memset(&context, 0, sizeof context);
    context.running = 1;
    context.kind = 4;
    context.target = 9;
    context.command = 0x64;
    return context;
}
