// LINK-ONLY STAND-IN. The WDK's aux_klib.lib is a static library with no import library, so the
// image linked on Linux gets these two routines from here. This is no firmware access: the table
// query reports STATUS_NOT_SUPPORTED, and the driver then treats the SoC version as unknown, as
// it does on a machine whose firmware has no such table. A WDK build links aux_klib.lib and never
// compiles this file.
#include <ntddk.h>
#include <aux_klib.h>

NTSTATUS NTAPI AuxKlibInitialize(VOID) {
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI AuxKlibGetSystemFirmwareTable(ULONG FirmwareTableProviderSignature,
                                             ULONG FirmwareTableID, PVOID FirmwareTableBuffer,
                                             ULONG BufferLength, PULONG ReturnLength) {
    UNREFERENCED_PARAMETER(FirmwareTableProviderSignature);
    UNREFERENCED_PARAMETER(FirmwareTableID);
    UNREFERENCED_PARAMETER(FirmwareTableBuffer);
    UNREFERENCED_PARAMETER(BufferLength);
    if (ReturnLength != NULL) {
        *ReturnLength = 0;
    }
    return STATUS_NOT_SUPPORTED;
}
