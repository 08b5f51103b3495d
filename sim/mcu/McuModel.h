#pragma once

// The MCUs behind the simulated driver: what they answer to one request frame.

#include <cstdint>
#include <vector>

#include "McuSettings.h"

namespace mcusim {

constexpr size_t FrameBytes = 64;
constexpr size_t FrameHeaderBytes = 8;
constexpr size_t FramePayloadBytes = 56;

// What the driver does about one request: wait, then send `frames` to every open file of the
// device, or close them all.
struct Reaction {
    unsigned delayMs = 0;
    bool drop = false;
    std::vector<std::vector<uint8_t>> frames;
};

class McuModel {
  public:
    explicit McuModel(McuSettings settings) : settings(std::move(settings)) {}

    // False when `request` is not a well-formed request frame (it is then ignored).
    static bool IsWellFormed(const uint8_t* request, size_t size);

    Reaction React(const uint8_t* request, size_t size) const;

    // The payload that answers a well-formed request; false when the command is not known.
    bool AnswerPayload(const uint8_t* request, std::vector<uint8_t>& payload) const;

    const McuSettings& Settings() const { return settings; }

  private:
    McuSettings settings;
};

// A response frame with the request's header and `payload`; the payload length byte is the
// payload's size (up to 255) while the frame carries at most 56 payload bytes.
std::vector<uint8_t> ResponseFrame(const uint8_t* request, const std::vector<uint8_t>& payload);

} // namespace mcusim
