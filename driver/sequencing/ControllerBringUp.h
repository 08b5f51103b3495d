#pragma once
// The controller bring-up: from whatever state the controller is in to a reset, clocked and
// configured host controller with programmed PHYs. Runs at passive level and sleeps.
#include <ntddk.h>

#include "frame/FilterExtension.h"

// The whole bring-up: the firmware settings, the resets and PHYs, and the core.
// STATUS_INVALID_PARAMETER without a context.
NTSTATUS BringUpController(PFILTER_EXTENSION Context);

// The controller resets, the PHYs and the first core and glue settings. A failed super-speed
// PHY is not a failure: SsPhyFailed is set and the controller is clocked for USB 2.0 only.
NTSTATUS ResetAndInitController(PFILTER_EXTENSION Context);

// The second group of core settings, after ResetAndInitController succeeded.
NTSTATUS ConfigureCore(PFILTER_EXTENSION Context);

// TRUE while the core keeps the host mode that ConfigureCore set: one read of GCTL. Only a
// controller reset or a loss of power takes the core out of host mode; after either the whole
// bring-up is needed again.
BOOLEAN CoreConfigured(PFILTER_EXTENSION Context);
