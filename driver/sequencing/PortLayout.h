#pragma once
// Where the registers of each USB port live, by port number p = Instance + pair index, and the
// per-instance view of that table. One constant row per port, in read-only data: every
// sequence that touches a port's registers takes them from here, never from arrays indexed by
// instance. An instance is looked up before anything is indexed.
#include <ntddk.h>

#include "sequencing/PortPairs.h"

// The PHY block register a port does not have.
constexpr ULONG PORT_LAYOUT_NO_REGISTER = 0;

// One of the wrapper's two glue register sets (controller block) and the bits of
// GLUE_GENERAL_CFG that belong to it.
typedef struct _GLUE_REGISTER_SET {
    ULONG Status;          // GLUE_STATUS0 or GLUE_STATUS1
    ULONG EventStatus;     // GLUE_EVT_STAT0 or 1, write 1 to clear
    ULONG EventEnable;     // GLUE_EVT_ENABLE0 or 1
    ULONG IrqStatus;       // GLUE_IRQ_STAT0 or 1, cleared by writing back the value read
    ULONG PipeClockSelect; // GLUE_GENERAL_CFG bit: clock source of the super-speed interface
    ULONG PipeClockGate;   // GLUE_GENERAL_CFG bit: gate of that clock while it is switched
} GLUE_REGISTER_SET;

typedef struct _PORT_LAYOUT {
    LONG Instance;   // controller instance that drives the port
    ULONG PairIndex; // the port's pair within that instance
    // Diagnostic name: "Primary", "Secondary", "Multiport 0", "Multiport 1". Held in the row
    // rather than pointed to, so that the table needs no relocation.
    CHAR PairName[12];
    // Controller block.
    ULONG HsPortsc;  // PORTSC of the high-speed port
    ULONG SsPortsc;  // PORTSC of the super-speed port
    ULONG CoreIndex; // n of GUSB2PHYCFG(n), GUSB3PIPECTL(n), LINK_TIMER(n) and LLUCTL(n)
    ULONG GlueSet;   // 0 or 1, the glue registers below
    GLUE_REGISTER_SET Glue;
    // PHY block.
    ULONG HsPhyControl;           // bit 0
    ULONG SsPhyCommon;            // common-part register (bit 1); none for Multiport
    ULONG SsPhyPowerControl;      // 1 powered, 0 powered down
    ULONG SsPhyLowPowerControl;   // 1 while the PHY runs, 0 in low power
    ULONG SsPhyWakeDetectControl; // bits 0, 1 and 4
    ULONG SsPhyEventStatus;       // bit 2 busy, bits 1:0 events pending
    ULONG SsPhyEventClear;        // written 1 then 0
    // The wake-line service.
    ULONG WakeLineA; // first wake line of the pair
    ULONG WakeLineB; // second wake line of the pair
} PORT_LAYOUT;

// Indexed by port number p, 0 to PORT_COUNT - 1.
extern const PORT_LAYOUT PORT_LAYOUTS[PORT_COUNT];

typedef struct _INSTANCE_LAYOUT {
    ULONG FirstPort;             // p of pair 0; pair i is port FirstPort + i
    ULONG PairCount;             // 1, or 2 for the Multiport instance
    ULONG ControllerPhysical;    // physical start of the instance's controller block
    ULONG ControllerResetFirst;  // clock-and-reset block, bit 0, pulsed first
    ULONG ControllerResetSecond; // clock-and-reset block, bit 0, pulsed second
} INSTANCE_LAYOUT;

// STATUS_DEVICE_HARDWARE_ERROR for an instance other than 0, 1 or 2; *Layout is then NULL.
_Must_inspect_result_ NTSTATUS LookupInstanceLayout(_In_ LONG Instance,
                                                    _Out_ const INSTANCE_LAYOUT** Layout);

// The row of pair PairIndex (< Layout->PairCount) of an instance that was looked up.
FORCEINLINE const PORT_LAYOUT* InstancePort(_In_ const INSTANCE_LAYOUT* Layout,
                                            _In_ ULONG PairIndex) {
    return &PORT_LAYOUTS[Layout->FirstPort + PairIndex];
}
