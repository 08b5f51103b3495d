#pragma once
// The power-up of D0 entry: undoes a completed power-down. Runs at passive level in the
// D0-entry callback and sleeps.
#include <ntddk.h>
#include <wdf.h>

#include "frame/FilterExtension.h"

// Pulses the shared PHY control bit, then, when the last D0 exit completed its power-down or
// left a Multiport SS PHY off before it was abandoned, disarms the wake events, writes the
// power events and resumes the PHYs; the Multiport SS PHYs that were powered off are
// programmed again first. STATUS_DEVICE_HARDWARE_ERROR for an unknown instance, after the
// shared PHY control step.
NTSTATUS PowerUpController(_In_ PFILTER_EXTENSION Context,
                           _In_ WDF_POWER_DEVICE_STATE PreviousState);

// Disarms the wrapper's wake events that a completed power-down armed. For a bring-up that
// follows a power-down without a power loss (a hibernation aborted after the D0 exits): the
// bring-up leaves the wrapper's wake events as they were.
VOID DisarmPowerDownWakeEvents(_In_ PFILTER_EXTENSION Context);

// The HS PHYs out of suspend.
VOID ResumeHsPhy(_In_ PFILTER_EXTENSION Context);

// The SS PHYs out of low power.
VOID ResumeSsPhy(_In_ PFILTER_EXTENSION Context);
