#pragma once

#include <cstdint>

// True when both provisioning keys read from the MCU `device` are the expected ones and
// secure boot is in force.
bool VerifySecureBootAndOta(uint32_t device);

// True when `device` is the Bluetooth MCU and its firmware is 1.0.0.15 or 1.0.0.13, on which
// the secure-boot flag is no proof of secure boot.
bool IsVersion15(uint32_t device);
