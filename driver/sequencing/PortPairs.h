#pragma once
// Port pairs: each is one high-speed and one super-speed port of a controller instance. The
// port number p = Instance + pair index selects the PHYs, the wake lines and the pair name.
#include <ntddk.h>

constexpr LONG INSTANCE_PRIMARY = 0;
constexpr LONG INSTANCE_SECONDARY = 1;
constexpr LONG INSTANCE_MULTIPORT = 2;
constexpr LONG INSTANCE_UNKNOWN = 3;

constexpr ULONG PORT_COUNT = 4;

// What the power sequences remember about a pair between D0 exit and D0 entry.
typedef struct _PORT_PAIR_STATE {
    UCHAR SsWakeArmed;
    UCHAR HsWakeArmed;
    UCHAR SsPhyOff;
    ULONG LineBMode;
    ULONG LineAMode;
} PORT_PAIR_STATE, *PPORT_PAIR_STATE;

C_ASSERT(sizeof(PORT_PAIR_STATE) == 12);

FORCEINLINE ULONG PortNumber(_In_ LONG Instance, _In_ ULONG PairIndex) {
    return static_cast<ULONG>(Instance) + PairIndex;
}

// "Primary", "Secondary", "Multiport 0", "Multiport 1"; "Unknown" for any other p.
PCSTR PortPairName(_In_ ULONG Port);
