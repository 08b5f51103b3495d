#include "McuModel.h"

#include <algorithm>

namespace mcusim {
namespace {

struct McuRoute {
    const char* mcu;
    uint8_t target;
    uint8_t device;
    uint8_t command;
};

// The frames that each MCU behind the driver takes.
constexpr McuRoute Routes[] = {
    {"bt", 9, 0, CommandGetKey},   {"bt", 9, 0, CommandEnable},
    {"bt", 9, 0, CommandGetFlag},  {"bt", 9, 0, CommandVersion},
    {"kbd", 9, 2, CommandGetKey},  {"kbd", 9, 2, CommandEnable},
    {"kbd", 9, 2, CommandGetFlag}, {"kbd", 5, 2, CommandVersion},
    {"pen", 7, 1, CommandVersion}, {"tp", 0, 0, CommandTouchpadVersion},
};

bool IsMcuCommand(uint8_t command) {
    for (const McuRoute& route : Routes) {
        if (route.command == command)
            return true;
    }
    return false;
}

uint32_t LittleEndianWord(const std::vector<uint8_t>& bytes) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4 && i < bytes.size(); ++i)
        value |= static_cast<uint32_t>(bytes[i]) << (8 * i);
    return value;
}

void AppendLittleEndian(std::vector<uint8_t>& bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

std::vector<uint8_t> NoiseFrame(const uint8_t* request, unsigned index) {
    std::vector<uint8_t> frame(FrameBytes, 0xEE);
    std::copy(request, request + FrameHeaderBytes, frame.begin());
    frame[5] = static_cast<uint8_t>(request[5] + 1 + index);
    frame[7] = FramePayloadBytes;
    return frame;
}

} // namespace

const char* AddressedMcu(uint8_t target, uint8_t device, uint8_t command) {
    for (const McuRoute& route : Routes) {
        if (route.target == target && route.device == device && route.command == command)
            return route.mcu;
    }
    return nullptr;
}

bool McuModel::IsWellFormed(const uint8_t* request, size_t size) {
    return size >= FrameHeaderBytes && size <= FrameBytes && request[1] == 0x00 &&
           request[2] == 0x02 && request[3] == 0x00 && request[6] == 0x11 &&
           request[7] == size - FrameHeaderBytes;
}

std::vector<uint8_t> ResponseFrame(const uint8_t* request, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> frame(FrameBytes, 0);
    std::copy(request, request + FrameHeaderBytes, frame.begin());
    frame[7] = static_cast<uint8_t>(std::min<size_t>(payload.size(), 255));
    size_t carried = std::min(payload.size(), FramePayloadBytes);
    std::copy(payload.begin(), payload.begin() + static_cast<long>(carried),
              frame.begin() + FrameHeaderBytes);
    return frame;
}

bool McuModel::AnswerPayload(const std::string& mcu, const uint8_t* request,
                             std::vector<uint8_t>& payload) const {
    uint8_t command = request[5];
    payload.clear();
    auto raw = settings.answers.find(command);
    if (raw != settings.answers.end()) {
        payload = raw->second;
        return true;
    }
    const McuAnswers answers = settings.AnswersOf(mcu);
    switch (command) {
    case CommandGetKey: {
        uint8_t selector = request[7] >= 1 ? request[8] : 0;
        const std::vector<uint8_t>* key = selector == 0   ? &answers.firstKey
                                          : selector == 1 ? &answers.secondKey
                                                          : nullptr;
        payload.push_back(selector);
        payload.push_back(static_cast<uint8_t>(key ? key->size() : 0));
        if (key)
            payload.insert(payload.end(), key->begin(), key->end());
        return true;
    }
    case CommandGetFlag:
        AppendLittleEndian(payload, Enabled(mcu) ? 0 : answers.secureBootFlag);
        return true;
    case CommandEnable:
        AppendLittleEndian(payload, static_cast<uint32_t>(answers.enableCode));
        return true;
    case CommandVersion:
    case CommandTouchpadVersion: {
        auto version = settings.versions.find(mcu);
        if (version == settings.versions.end())
            return false;
        payload.assign(version->second.begin(), version->second.end());
        return true;
    }
    default:
        return false;
    }
}

Reaction McuModel::React(const uint8_t* request, size_t size) {
    Reaction reaction;
    if (!IsWellFormed(request, size))
        return reaction;
    std::vector<uint8_t> payload;
    bool answers = false;
    const uint8_t command = request[5];
    if (const char* mcu = AddressedMcu(request[0], request[4], command)) {
        reaction.mcu = mcu;
        answers = AnswerPayload(reaction.mcu, request, payload);
        if (answers && command == CommandEnable && LittleEndianWord(payload) == 0) {
            reaction.enables = true;
            enabled.insert(reaction.mcu);
        }
    } else if (!IsMcuCommand(command)) {
        // A code that none of the MCUs knows: answered only when a test asks for it.
        auto raw = settings.answers.find(command);
        answers = raw != settings.answers.end();
        if (answers)
            payload = raw->second;
    }

    std::vector<Fault> faults = settings.faultsForAll;
    auto own = settings.faults.find(request[5]);
    if (own != settings.faults.end())
        faults.insert(faults.end(), own->second.begin(), own->second.end());

    size_t cut = FrameBytes;
    unsigned noise = 0;
    int lengthByte = -1;
    for (const Fault& fault : faults) {
        switch (fault.kind) {
        case FaultKind::Silent:
            answers = false;
            break;
        case FaultKind::Noise:
            noise += fault.value;
            break;
        case FaultKind::ZeroLength:
            lengthByte = 0;
            break;
        case FaultKind::Overlong:
            lengthByte = static_cast<int>(fault.value);
            break;
        case FaultKind::Drop:
            reaction.drop = true;
            break;
        case FaultKind::Delay:
            reaction.delayMs += fault.value;
            break;
        case FaultKind::Short:
            cut = fault.value;
            break;
        }
    }
    if (reaction.drop)
        return reaction;

    for (unsigned i = 0; i < noise; ++i)
        reaction.frames.push_back(NoiseFrame(request, i));
    if (!answers)
        return reaction;
    std::vector<uint8_t> frame = ResponseFrame(request, payload);
    if (lengthByte == 0) {
        std::fill(frame.begin() + FrameHeaderBytes, frame.end(), 0);
        frame[7] = 0;
    } else if (lengthByte > 0) {
        // Claims more than a frame can carry; the frame is filled to its end.
        std::fill(frame.begin() + FrameHeaderBytes +
                      static_cast<long>(std::min(payload.size(), FramePayloadBytes)),
                  frame.end(), 0x5A);
        frame[7] = static_cast<uint8_t>(lengthByte);
    }
    frame.resize(std::max<size_t>(cut, 1));
    reaction.frames.push_back(frame);
    return reaction;
}

} // namespace mcusim
