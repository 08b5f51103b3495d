#pragma once

#include <cstdint>

#include <windows.h>

// Exchange status codes left in PacketContext::status by Packet::Transfer.
constexpr int32_t PacketStatusSuccess = 0;
constexpr int32_t PacketStatusTimeout = 4;
constexpr int32_t PacketStatusFailure = 5;
constexpr int32_t PacketStatusException = 6;

constexpr int PacketPayloadBytes = 56;
constexpr int PacketFrameBytes = 64;

// The record shared by a command, the exchange and its read thread. Packed: callers
// zero-fill it and set running, kind, target, device, command, length and payload.
#pragma pack(push, 1)
struct PacketContext {
    uint8_t running;
    uint32_t kind;
    uint32_t target;
    uint32_t device;
    uint32_t command;
    uint32_t extraTimeoutSeconds;
    HANDLE event;
    HANDLE readHandle;
    HANDLE writeHandle;
    int32_t status;
    int32_t length;
    uint8_t payload[PacketPayloadBytes];
};
#pragma pack(pop)

// One request/response exchange with the MCU interface device.
class Packet {
public:
    virtual ~Packet() = default;

    void Transfer(PacketContext& context);
    bool OpenChannel(PacketContext& context);
    void SendRequest(PacketContext& context);
    static DWORD WINAPI ReadThread(LPVOID parameter);
    static void AcceptResponse(PacketContext& context, const uint8_t* frame);
};
