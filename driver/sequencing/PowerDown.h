#pragma once
// The power-down of D0 exit: the high-speed PHYs suspended, the super-speed PHYs armed for
// wake detection or powered down, the wrapper's wake events armed and the wake lines
// configured through the platform's wake-line service. D3Final resets or powers off the PHYs
// and arms nothing. Runs at passive level in the D0-exit callback; sleeps and busy-waits.
#include <ntddk.h>
#include <wdf.h>

#include "frame/FilterExtension.h"
#include "sequencing/PortLayout.h"
#include "sequencing/RegisterMap.h"

// What the power-down learns from a pair's two PORTSC registers.
typedef struct _PORT_PAIR_STATUS {
    ULONG HsPortsc;
    ULONG SsPortsc;
} PORT_PAIR_STATUS;

// The whole power-down. STATUS_UNSUCCESSFUL when the HS PHY of "Primary" or "Secondary" does
// not confirm its suspend (not at D3Final); STATUS_DEVICE_HARDWARE_ERROR for an unknown
// instance. PoweredDown is set only when the power-down ran to its end.
NTSTATUS PowerDownController(_In_ PFILTER_EXTENSION Context,
                             _In_ WDF_POWER_DEVICE_STATE TargetState);

// The high-speed part and the wake-line requests. FALSE when "Primary" or "Secondary" did not
// confirm the suspend before D3 (nothing after the failed poll runs).
BOOLEAN SuspendHsPhy(_In_ PFILTER_EXTENSION Context, _In_ WDF_POWER_DEVICE_STATE TargetState,
                     _In_ const BOOLEAN* HsSuspended);

// The super-speed part. FALSE when the Multiport power-down was abandoned for a port reset
// of its second super-speed port.
BOOLEAN PowerDownSsPhy(_In_ PFILTER_EXTENSION Context, _In_ WDF_POWER_DEVICE_STATE TargetState,
                       _In_ const BOOLEAN* SsSuspended, _In_ const BOOLEAN* Attached);

// Asks the wake-line service for line B, then line A, of every pair, with the modes that
// SuspendHsPhy stored, while a service is bound; nothing otherwise. A failed request is
// reported and changes nothing else.
VOID RequestWakeLines(_In_ PFILTER_EXTENSION Context);

// Clears the events pending in the instance's super-speed PHYs; bounded, never fails.
VOID ClearSsPhyEvents(_In_ PFILTER_EXTENSION Context);

// Port diagnostics; programs HS PHY 3 again when the second Multiport HS port is in Resume.
VOID ReportPortStates(_In_ PFILTER_EXTENSION Context, _In_ WDF_POWER_DEVICE_STATE TargetState);

// FALSE when the instance's ports are busy (a device attached and active); diagnostic only.
BOOLEAN CheckPortsIdle(_In_ PFILTER_EXTENSION Context);

//
// Port status, shared by the power sequences' diagnostics.
//
PORT_PAIR_STATUS ReadPortPairStatus(_In_ PFILTER_EXTENSION Context, _In_ const PORT_LAYOUT* Port);

FORCEINLINE ULONG PortLinkState(_In_ ULONG Portsc) {
    return (Portsc & PORTSC_PLS_MASK) >> PORTSC_PLS_SHIFT;
}
FORCEINLINE ULONG PortSpeed(_In_ ULONG Portsc) {
    return (Portsc & PORTSC_SPEED_MASK) >> PORTSC_SPEED_SHIFT;
}
FORCEINLINE BOOLEAN PortConnected(_In_ ULONG Portsc) {
    return (Portsc & PORTSC_CCS) != 0;
}
// A device attached and its HS link in U3 or Polling.
BOOLEAN HsPortSuspended(_In_ ULONG Portsc);
// A device attached and its SS link in U3.
BOOLEAN SsPortSuspended(_In_ ULONG Portsc);

// Per pair: name, link state and speed of both ports, whether anything is attached.
VOID ReportPortAttachment(_In_ PFILTER_EXTENSION Context);

// "UndefSpeed", "FullSpeed", ... by the PORTSC speed value.
PCSTR PortSpeedName(_In_ ULONG Speed);
// "Invalid", "D0", ... "Maximum"; "Unknown" beyond.
PCSTR DeviceStateName(_In_ WDF_POWER_DEVICE_STATE State);
