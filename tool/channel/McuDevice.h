#pragma once

#include <windows.h>

// Interface class that the platform's MCU driver registers its device under.
// {DD0EBEDB-F1D6-4CFA-ACCA-71E66D3178CA}
extern const GUID McuInterfaceClass;

constexpr size_t McuDevicePathUnits = 256;

// Writes the path of the MCU interface to use into `path` (McuDevicePathUnits units).
bool GetMcuDevicePath(PWSTR path);

// Discovers and opens the MCU interface device for synchronous reading and writing.
// Returns INVALID_HANDLE_VALUE when no interface was found or the open failed.
HANDLE OpenMcuDevice();
