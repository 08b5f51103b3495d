#pragma once

// The MCUs behind the simulated driver: what they answer to one request frame.

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "McuSettings.h"

namespace mcusim {

constexpr size_t FrameBytes = 64;
constexpr size_t FrameHeaderBytes = 8;
constexpr size_t FramePayloadBytes = 56;

// The MCU ("bt", "kbd", "pen" or "tp") that takes a request of this target byte, device byte
// and command; nullptr when the frame addresses no MCU or an MCU that does not take the command.
const char* AddressedMcu(uint8_t target, uint8_t device, uint8_t command);

// What the driver does about one request: wait, then send `frames` to every open file of the
// device, or close them all.
struct Reaction {
    unsigned delayMs = 0;
    bool drop = false;
    std::vector<std::vector<uint8_t>> frames;
    std::string mcu;      // the MCU that took the request; empty when none did
    bool enables = false; // the request turned secure boot on for `mcu`
};

class McuModel {
  public:
    explicit McuModel(McuSettings settings) : settings(std::move(settings)) {}

    // False when `request` is not a well-formed request frame (it is then ignored).
    static bool IsWellFormed(const uint8_t* request, size_t size);

    // Hands the request to the MCU it addresses; an enable may change that MCU's state.
    Reaction React(const uint8_t* request, size_t size);

    // The payload with which `mcu` answers a well-formed request; false when it gives none.
    bool AnswerPayload(const std::string& mcu, const uint8_t* request,
                       std::vector<uint8_t>& payload) const;

    // True once an enable answered with code 0 has turned secure boot on for `mcu`.
    bool Enabled(const std::string& mcu) const { return enabled.count(mcu) != 0; }

    const McuSettings& Settings() const { return settings; }

  private:
    McuSettings settings;
    std::set<std::string> enabled;
};

// A response frame with the request's header and `payload`; the payload length byte is the
// payload's size (up to 255) while the frame carries at most 56 payload bytes.
std::vector<uint8_t> ResponseFrame(const uint8_t* request, const std::vector<uint8_t>& payload);

} // namespace mcusim
