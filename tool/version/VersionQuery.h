#pragma once

#include <cstdint>

#include "channel/Packet.h"

constexpr int VersionTextBytes = 64;

// The result of one registry or MCU version query: up to 63 characters and a NUL.
struct VersionQuery {
    uint8_t length;
    char text[VersionTextBytes];
};

// Reads the string value `valueName` of HKEY_LOCAL_MACHINE\`subKey` into `query`.
// Returns 0, or 5 when the key or value cannot be read or the text does not convert.
int QueryRegistryVersion(const wchar_t* subKey, const wchar_t* valueName, VersionQuery& query);

// Asks the MCU of `kind` for its version reply. Returns the exchange status, or 34 when the
// exchange reported a response length above 64.
int QueryMcuVersion(uint32_t kind, char* text, uint8_t& length);

// Takes the reply of a version exchange into `text` (64 bytes) and `length`: at most 63
// characters and a NUL. Returns the exchange status, or 34 when the response length exceeds 64.
int TakeVersionReply(const PacketContext& response, char* text, uint8_t& length);
