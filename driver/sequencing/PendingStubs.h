#pragma once
// TEMPORARY: declarations of the frame's and the firmware settings' routines that the power
// sequences call, until those land. Deleted together with PendingStubs.cpp.
#include <ntddk.h>
#include <wdf.h>

#include "frame/FilterExtension.h"

NTSTATUS SetGpioLine(_In_ PFILTER_EXTENSION Context, _In_ UCHAR Value);
WDFIOTARGET OpenGpioTarget(_In_ WDFDEVICE Device);
NTSTATUS RegisterWakeLineArrival(_In_opt_ PFILTER_EXTENSION Context);
BOOLEAN WakeInterfaceIsReady(_In_ PFILTER_EXTENSION Context);
