#pragma once
// Resource hub (Linux stand-in): the device through which a driver opens the connection
// resources (GPIO, serial bus) that the firmware assigned to it. A connection is opened by a
// path made of the hub's device name and the resource's 64-bit connection ID.
#include <wdm.h>

#define RESOURCE_HUB_DEVICE_NAME L"\\Device\\RESOURCE_HUB"
#define RESOURCE_HUB_DEVICE_NAME_CHARS (RTL_NUMBER_OF(RESOURCE_HUB_DEVICE_NAME) - 1)
// A separator and the ID as 16 hexadecimal digits.
#define RESOURCE_HUB_FILE_CHARS 17
#define RESOURCE_HUB_PATH_CHARS (RESOURCE_HUB_DEVICE_NAME_CHARS + RESOURCE_HUB_FILE_CHARS)
// With the terminating NUL: 76 bytes where a WCHAR has 2.
#define RESOURCE_HUB_PATH_SIZE ((RESOURCE_HUB_PATH_CHARS + 1) * sizeof(WCHAR))

#if defined(RESHUB_USE_HELPER_ROUTINES)
#include <ntstrsafe.h>

// "\Device\RESOURCE_HUB\" followed by the ID, high half first, as 16 lower-case hex digits.
FORCEINLINE NTSTATUS RESOURCE_HUB_CREATE_PATH_FROM_ID(_Out_ PUNICODE_STRING DevicePath,
                                                      _In_ ULONG IdLowPart, _In_ ULONG IdHighPart) {
    return RtlUnicodeStringPrintf(DevicePath, L"%s\\%0*I64x", RESOURCE_HUB_DEVICE_NAME,
                                  (unsigned int)(sizeof(LARGE_INTEGER) * 2),
                                  (ULONGLONG)IdLowPart | ((ULONGLONG)IdHighPart << 32));
}
#endif
