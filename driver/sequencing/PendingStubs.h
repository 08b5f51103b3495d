#pragma once
// TEMPORARY: declarations of the frame's and the firmware settings' routines that the power
// sequences call, until those land. Deleted together with PendingStubs.cpp.
#include <ntddk.h>
#include <wdf.h>

#include "frame/FilterExtension.h"

WDFIOTARGET OpenGpioTarget(_In_ WDFDEVICE Device);
NTSTATUS RegisterWakeLineArrival(_In_opt_ PFILTER_EXTENSION Context);

// Provided by the stand-in with the frame.
FORCEINLINE UCHAR ReadUCharAcquire(_In_ UCHAR const volatile* Source) {
    return __atomic_load_n(Source, __ATOMIC_ACQUIRE);
}
