#pragma once

#include <cstdint>

// Tells the MCU `device` to switch on secure boot and its OTA key. Returns the exchange
// status; only when it is 0 is `enableCode`, the MCU's own result, written.
int32_t EnableSecureBootAndOta(uint32_t device, int32_t& enableCode);
