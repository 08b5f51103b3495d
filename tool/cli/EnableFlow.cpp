#include "cli/EnableFlow.h"

#include <windows.h>

#include "channel/McuCommands.h"
#include "channel/McuDevice.h"
#include "channel/Packet.h"
#include "log/Log.h"

namespace {

// Tells the line engineer early that no MCU interface is there; the exchange runs anyway
// and reports its own failure.
void CheckPresence() {
    const HANDLE handle = OpenMcuDevice();
    if (handle == INVALID_HANDLE_VALUE) {
        LogError("Unable to find any MCU devices!");
        return;
    }
    CloseHandle(handle);
}

} // namespace

int32_t EnableSecureBootAndOta(uint32_t device, int32_t& enableCode) {
    PacketContext context = EnableRequest(device);
    CheckPresence();
    Packet packet;
    packet.Transfer(context);
    if (context.status == PacketStatusSuccess) {
        enableCode = static_cast<int32_t>(PayloadWord(context));
    }
    return context.status;
}
