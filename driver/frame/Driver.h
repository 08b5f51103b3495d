#pragma once
// Pelvane's framework callbacks, declared by their roles.
#include <ntddk.h>
#include <wdf.h>

#include "frame/FilterExtension.h"
#include "frame/PoolTag.h"
#include "frame/Trace.h"

// Every framework callback has C linkage: #pragma alloc_text accepts no other.
EXTERN_C_START
DRIVER_INITIALIZE DriverEntry;
EVT_WDF_DRIVER_UNLOAD EvtDriverUnload;
EVT_WDF_DRIVER_DEVICE_ADD EvtDriverDeviceAdd;
EVT_WDF_DEVICE_PREPARE_HARDWARE EvtDevicePrepareHardware;
EVT_WDF_DEVICE_RELEASE_HARDWARE EvtDeviceReleaseHardware;
EVT_WDF_DEVICE_D0_ENTRY EvtDeviceD0Entry;
EVT_WDF_DEVICE_D0_EXIT EvtDeviceD0Exit;
EXTERN_C_END
