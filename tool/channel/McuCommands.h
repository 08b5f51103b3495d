#pragma once

#include <cstdint>

#include "channel/Packet.h"

// Command codes of the MCU command set.
constexpr uint32_t McuCommandGetKey = 0x62;
constexpr uint32_t McuCommandEnable = 0x63;
constexpr uint32_t McuCommandGetFlag = 0x64;

// Device index of a request: which MCU behind the interface the frame is for.
constexpr uint32_t BluetoothMcuDevice = 0;
constexpr uint32_t KeyboardMcuDevice = 2;

constexpr int ProvisioningKeyBytes = 32;

// The caller's buffer for one key read; zero-filled by the caller.
#pragma pack(push, 1)
struct KeyRecord {
    uint8_t selector; // 0 first key (boot), 1 second key (OTA)
    uint8_t reserved;
    uint8_t key[ProvisioningKeyBytes];
};
#pragma pack(pop)
static_assert(sizeof(KeyRecord) == 34);

// Results of FactoryBtMcuGetKey besides the exchange statuses.
constexpr int GetKeyNoRecord = 1;
constexpr int GetKeyDoesNotFit = 3;

// Reads the key that `record->selector` names from the MCU `device`. Returns 0, 1 without a
// record, 3 when the key in the response does not fit, or the exchange status.
int FactoryBtMcuGetKey(KeyRecord* record, uint32_t device);

// Copies the key of a successful get-key response into `record`: the bytes after the two
// header bytes, at most 32. Returns 0, or 3 (key zeroed) when the key does not fit. A response
// of just the header leaves the key bytes as they were.
int TakeKey(const PacketContext& response, KeyRecord& record);

// The request of the enable command, ready for Packet::Transfer.
PacketContext EnableRequest(uint32_t device);

// Reads the secure-boot flag of the MCU `device` (0 means secure boot is on). Returns the
// exchange status; `secureBootFlag` is written only when it is 0.
int32_t GetSecureBootFlag(uint32_t device, uint32_t& secureBootFlag);

// The four-byte value at the start of a response payload, least significant byte first. Bytes
// the MCU did not send are the zeros the caller filled the context with.
uint32_t PayloadWord(const PacketContext& context);
