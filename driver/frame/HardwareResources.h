#pragma once
// What prepare hardware sets up besides the register mappings, and what D0 entry repeats on
// resume from hibernation.
#include <ntddk.h>
#include <wdf.h>

// The I/O target on the device's GPIO connection (through the resource hub), or NULL.
WDFIOTARGET OpenGpioTarget(_In_ WDFDEVICE Device);

// The SoC version from the firmware's SoC information record; 0 when it cannot be found.
// The firmware is asked once per driver load.
ULONG GetSocVersion(VOID);

// Driver entry forgets what an earlier load of the driver looked up.
VOID ForgetSocVersion(VOID);
