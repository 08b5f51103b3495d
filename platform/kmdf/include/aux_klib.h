#pragma once
// Auxiliary kernel-mode library (Linux stand-in): the system firmware table query.
#include <wdm.h>

NTSTATUS AuxKlibInitialize(VOID);
NTSTATUS AuxKlibGetSystemFirmwareTable(_In_ ULONG FirmwareTableProviderSignature,
                                       _In_ ULONG FirmwareTableID,
                                       _Out_opt_ PVOID FirmwareTableBuffer, _In_ ULONG BufferLength,
                                       _Out_opt_ PULONG ReturnLength);
