#pragma once
// The per-device context of the filter: one per controller instance.
#include <ntddk.h>
#include <wdf.h>

#include "frame/WakeLineInterface.h"
#include "sequencing/PortPairs.h"

typedef struct _FILTER_EXTENSION {
    WDFDEVICE Device;
    PVOID ControllerBase;
    ULONG ControllerLength;
    PVOID ClockResetBase;
    ULONG ClockResetLength;
    PVOID PhyBase;
    ULONG PhyLength;
    UCHAR PoweredDown;
    LONG Instance;
    ULONG PortPairCount;
    PPORT_PAIR_STATE PortPairs;
    WDFMEMORY PortPairsMemory;
    UCHAR SsPhyFailed;
    ULONG SocVersion;
    WDFCOLLECTION PhyOverrides;
    UCHAR Ccvl;
    WDFIOTARGET WakeLineTarget;
    WAKE_LINE_INTERFACE WakeLineInterface;
    PVOID ArrivalNotification;
    UCHAR WakeInterfaceReady;
    UCHAR Gen1;
    UCHAR Mprd;
    UCHAR Mpdp;
    ULONG GpioConnectionIdLow;
    ULONG GpioConnectionIdHigh;
    WDFIOTARGET GpioTarget;
    // The reference on the service's file object that WakeLineTarget was opened with.
    PFILE_OBJECT WakeLineFileObject;
    // Held by the wake-line notification that opens and publishes; the others wait for it at
    // passive level (a synchronization event, signalled while free).
    KEVENT WakeLineArrivalLock;
} FILTER_EXTENSION, *PFILTER_EXTENSION;

WDF_DECLARE_CONTEXT_TYPE_WITH_NAME(FILTER_EXTENSION, GetFilterExtension)
