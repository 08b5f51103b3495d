#include "cli/VerifyFlow.h"

#include <cstring>
#include <string>

#include <windows.h>

#include "ProvisioningKeys.h"
#include "channel/McuCommands.h"
#include "log/Log.h"
#include "version/GetDriverVersion.h"

namespace {

bool KeyEquals(const KeyRecord& record, const uint8_t (&expected)[ProvisioningKeyBytes]) {
    return std::memcmp(record.key, expected, ProvisioningKeyBytes) == 0;
}

// Reads the key of `selector` into `record`, whose key bytes carry over from the last read.
bool ReadKey(KeyRecord& record, uint8_t selector, uint32_t device) {
    record.selector = selector;
    if (FactoryBtMcuGetKey(&record, device) != 0) {
        LogError("VerifySecureBootAndOta Get Key Error!");
        return false;
    }
    return true;
}

bool KeysAreProvisioned(uint32_t device) {
    KeyRecord record{};
    if (!ReadKey(record, 0, device)) {
        return false;
    }
    if (!KeyEquals(record, expectedFirstKey)) {
        LogError("firat Key Not Equal!");
        return false;
    }
    if (!ReadKey(record, 1, device)) {
        return false;
    }
    if (!KeyEquals(record, expectedSecondKey)) {
        LogError("second Key Not Equal!");
        return false;
    }
    LogDebug("All Key Equals!");
    return true;
}

} // namespace

bool IsVersion15(uint32_t device) {
    if (device != BluetoothMcuDevice) {
        return false;
    }
    char version[64] = {};
    int32_t length = 0;
    const int32_t result = GetDriverVersion("BT_MCU", version, 13, &length);
    if (result != 0) {
        LogError("IsVersion15 Get Version Error:" + std::to_string(result));
        return false;
    }
    if (length == 0) {
        LogError("IsVersion15 Get Version Error Len:" + std::to_string(length));
        return false;
    }
    const std::string text(version);
    return text == "1.0.0.15" || text == "1.0.0.13";
}

bool VerifySecureBootAndOta(uint32_t device) {
    if (!KeysAreProvisioned(device)) {
        return false;
    }
    uint32_t secureBootFlag = 0;
    if (GetSecureBootFlag(device, secureBootFlag) != PacketStatusSuccess) {
        LogDebug("VerifySecureBootAndOta Get Flag Error!");
        return false;
    }
    if (secureBootFlag != 0) {
        LogDebug("Not Secure boot!");
        return false;
    }
    if (IsVersion15(device)) {
        LogDebug("Not Secure boot version is 15 or 13!");
        return false;
    }
    LogDebug("Secure boot!");
    return true;
}
