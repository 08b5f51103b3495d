#pragma once
// The driver's event provider {552F0202-67E3-40CD-83A9-03E530917D36}. The enable callback
// keeps what the trace consumers asked for, so that events are written only when enabled.
#include <ntddk.h>

DEFINE_GUID(PELVANE_PROVIDER_GUID, 0x552f0202, 0x67e3, 0x40cd, 0x83, 0xa9, 0x03, 0xe5, 0x30, 0x91,
            0x7d, 0x36);

typedef struct _PELVANE_EVENT_PROVIDER {
    REGHANDLE RegHandle;
    BOOLEAN Enabled;
    UCHAR Level;
    ULONGLONG MatchAnyKeyword;
    ULONGLONG MatchAllKeyword;
} PELVANE_EVENT_PROVIDER, *PPELVANE_EVENT_PROVIDER;

// Driver-wide; written by the enable callback, read by the sequences that write events.
extern PELVANE_EVENT_PROVIDER PelvaneEventProvider;

EXTERN_C_START
ETWENABLECALLBACK EventProviderEnableCallback;
EXTERN_C_END

NTSTATUS RegisterEventProvider(VOID);
VOID UnregisterEventProvider(VOID);
BOOLEAN EventProviderEnabled(VOID);
