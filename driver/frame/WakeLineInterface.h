#pragma once
// The platform's wake-line service, another driver, reached through a driver-to-driver
// interface. Its record is the standard interface header followed by one routine.
#include <ntddk.h>

// {902FE583-D28A-49C4-A8E0-23EFCEDCF7C7}: the interface, and the service's device interface
// class.
DEFINE_GUID(GUID_WAKE_LINE_INTERFACE, 0x902fe583, 0xd28a, 0x49c4, 0xa8, 0xe0, 0x23, 0xef, 0xce,
            0xdc, 0xf7, 0xc7);

constexpr USHORT WAKE_LINE_INTERFACE_VERSION = 1;

// One request: which line, the constant 1, and the wake mode.
typedef struct _WAKE_LINE_REQUEST {
    ULONG LineNumber;
    ULONG Enable;
    ULONG Mode;
} WAKE_LINE_REQUEST, *PWAKE_LINE_REQUEST;

typedef NTSTATUS WAKE_LINE_CONFIGURE(_In_ WAKE_LINE_REQUEST Request);
typedef WAKE_LINE_CONFIGURE* PWAKE_LINE_CONFIGURE;

typedef struct _WAKE_LINE_INTERFACE {
    USHORT Size;
    USHORT Version;
    PVOID Context;
    PINTERFACE_REFERENCE InterfaceReference;
    PINTERFACE_DEREFERENCE InterfaceDereference;
    PWAKE_LINE_CONFIGURE ConfigureWakeLine;
} WAKE_LINE_INTERFACE, *PWAKE_LINE_INTERFACE;

C_ASSERT(sizeof(WAKE_LINE_INTERFACE) == 40);
