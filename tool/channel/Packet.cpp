#include "channel/Packet.h"

#include <atomic>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>

#include "channel/McuDevice.h"
#include "log/Log.h"

namespace {

constexpr DWORD RequestDelayMs = 50;
constexpr DWORD ResponseWaitMs = 2000;
// While stopping the read thread: how long to wait for it to end before cancelling again.
constexpr DWORD StopPollMs = 1;
constexpr uint32_t MaxTarget = 9;
constexpr uint32_t MaxDevice = 3;
constexpr int32_t OutOfRangeArgument = 1;
constexpr int OutOfRangeErrno = 34; // ERANGE

// Frame layout (request and response).
constexpr int FrameTarget = 0;
constexpr int FrameDevice = 4;
constexpr int FrameCommand = 5;
constexpr int FrameLength = 7;
constexpr int FramePayload = 8;

// `running` is the one field that both threads change while the exchange is under way; it is a
// single byte, so it is accessed atomically in place. Everything else is handed over through the
// event or the thread's end.
bool IsRunning(PacketContext& context) {
    return std::atomic_ref<uint8_t>(context.running).load(std::memory_order_acquire) != 0;
}

void StopRunning(PacketContext& context) {
    std::atomic_ref<uint8_t>(context.running).store(0, std::memory_order_release);
}

bool IsOpen(HANDLE handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

// Builds and writes the request frame. Returns the status that the request sets (0, or 1 / 5
// when nothing could be sent), so that the exchange need not read `status` while the read thread
// may be writing it.
int32_t WriteRequestFrame(PacketContext& context) {
    if (context.writeHandle == INVALID_HANDLE_VALUE)
        return PacketStatusFailure;
    if (context.target > MaxTarget || context.device > MaxDevice)
        return OutOfRangeArgument;
    if (context.length < 0 || context.length > PacketPayloadBytes) {
        LogError("Copy data Failed! error code");
        return PacketStatusSuccess;
    }

    std::unique_ptr<uint8_t[]> frame(new (std::nothrow) uint8_t[PacketFrameBytes]());
    if (!frame)
        return PacketStatusSuccess;
    frame[FrameTarget] = static_cast<uint8_t>(context.target);
    frame[1] = 0x00; // 0x0200, least significant byte first
    frame[2] = 0x02;
    frame[3] = 0x00;
    frame[FrameDevice] = static_cast<uint8_t>(context.device);
    frame[FrameCommand] = static_cast<uint8_t>(context.command);
    frame[6] = 0x11;
    frame[FrameLength] = static_cast<uint8_t>(context.length);
    std::memcpy(&frame[FramePayload], context.payload, static_cast<size_t>(context.length));

    DWORD written = 0;
    if (!WriteFile(context.writeHandle, frame.get(), FramePayload + context.length, &written,
                   nullptr)) {
        DWORD error = GetLastError();
        LogError("WriteFile failed, error code:" + std::to_string(error));
    }
    return PacketStatusSuccess;
}

// Ends the read thread: clears `running`, then cancels its read until it has ended. A cancel
// that arrives while the thread is between two reads does nothing, and the thread may already
// be in its next read; it sees `running` clear before any further read, so one more cancel
// after a short wait ends it.
void StopReadThread(PacketContext& context, HANDLE thread) {
    StopRunning(context);
    for (;;) {
        CancelSynchronousIo(thread);
        DWORD wait = WaitForSingleObject(thread, StopPollMs);
        if (wait != WAIT_TIMEOUT)
            break;
    }
    CloseHandle(thread);
}

void CloseChannel(PacketContext& context) {
    if (IsOpen(context.readHandle))
        CloseHandle(context.readHandle);
    context.readHandle = INVALID_HANDLE_VALUE;
    if (IsOpen(context.writeHandle))
        CloseHandle(context.writeHandle);
    context.writeHandle = INVALID_HANDLE_VALUE;
    if (context.event) {
        CloseHandle(context.event);
        context.event = nullptr;
    }
}

} // namespace

void Packet::Transfer(PacketContext& context) {
    context.status = PacketStatusSuccess;
    HANDLE thread = nullptr;
    try {
        if (!OpenChannel(context)) {
            LogError("Open Handle failed!");
            StopRunning(context);
        } else {
            thread = CreateThread(nullptr, 0, ReadThread, &context, 0, nullptr);
            if (!thread) {
                LogError("Failed to create ReadThread\n");
                context.status = PacketStatusFailure;
                StopRunning(context);
            } else {
                // The read thread is in its read before the request goes out.
                Sleep(RequestDelayMs);
                int32_t sent = WriteRequestFrame(context);
                if (sent != PacketStatusSuccess) {
                    LogError("Retrieve MAC failed!,errorCode:" + std::to_string(sent));
                    context.status = PacketStatusFailure;
                } else {
                    DWORD waitMs = (context.extraTimeoutSeconds * 1000) + ResponseWaitMs;
                    if (WaitForSingleObject(context.event, waitMs) != WAIT_OBJECT_0) {
                        DWORD error = GetLastError();
                        LogError("Timeout While Waiting Response:" + std::to_string(error));
                        context.status = PacketStatusTimeout;
                    }
                }
            }
        }
    } catch (const std::exception&) {
        context.status = PacketStatusException;
    }
    if (thread)
        StopReadThread(context, thread);
    CloseChannel(context);
}

bool Packet::OpenChannel(PacketContext& context) {
    context.readHandle = OpenMcuDevice();
    if (context.readHandle == INVALID_HANDLE_VALUE) {
        LogError("Unable to find any MCU devices!");
        context.status = PacketStatusFailure;
    } else {
        context.writeHandle = OpenMcuDevice();
        if (context.writeHandle == INVALID_HANDLE_VALUE) {
            LogError("Unable to find any MCU devices!");
            context.status = PacketStatusFailure;
        } else {
            context.event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
            if (!context.event) {
                DWORD error = GetLastError();
                LogError("Create Event failed!,errorCode:" + std::to_string(error));
                context.status = PacketStatusFailure;
            }
        }
    }
    return context.status == PacketStatusSuccess;
}

void Packet::SendRequest(PacketContext& context) {
    int32_t sent = WriteRequestFrame(context);
    if (sent != PacketStatusSuccess)
        context.status = sent;
}

DWORD WINAPI Packet::ReadThread(LPVOID parameter) {
    PacketContext& context = *static_cast<PacketContext*>(parameter);
    try {
        if (context.readHandle == INVALID_HANDLE_VALUE) {
            context.status = PacketStatusFailure;
            return 0;
        }
        uint8_t frame[PacketFrameBytes];
        while (IsRunning(context)) {
            // Cleared before every read, so a short frame never shows an earlier frame's bytes.
            std::memset(frame, 0, sizeof frame);
            DWORD received = 0;
            if (!ReadFile(context.readHandle, frame, sizeof frame, &received, nullptr)) {
                DWORD error = GetLastError();
                // While `running` is still set the exchange is waiting for this answer, and
                // nothing will come: that ends the exchange as a failure. When the exchange has
                // cleared it, the exchange stopped the read and keeps its own status.
                bool stillWaiting = IsRunning(context);
                LogError("ReadFile failed - error:" + std::to_string(error));
                if (stillWaiting)
                    context.status = PacketStatusFailure;
                break;
            }
            if (frame[FrameCommand] != context.command)
                continue;
            AcceptResponse(context, frame);
        }
        SetEvent(context.event);
    } catch (const std::exception&) {
        context.status = PacketStatusException;
    }
    return 0;
}

void Packet::AcceptResponse(PacketContext& context, const uint8_t* frame) {
    uint8_t length = frame[FrameLength];
    if (length == 0) {
        context.status = PacketStatusFailure;
        StopRunning(context);
        return;
    }
    context.length = length;
    if (length <= PacketPayloadBytes) {
        std::memcpy(context.payload, frame + FramePayload, length);
        StopRunning(context);
        return;
    }
    // Longer than a frame can carry: the payload is cleared and the thread reads on.
    std::memset(context.payload, 0, sizeof context.payload);
    LogError("Copy data Failed! error code:" + std::to_string(OutOfRangeErrno));
}
