#pragma once
// Reading an evaluation output. Arguments sit at any byte offset, so fields are copied out
// byte-wise; every read is preceded by a check that it lies inside what the request returned.
#include <ntddk.h>
#include <acpiioct.h>

// Offset of an argument's data from its start: after the type and the data length.
#define ACPI_ARGUMENT_HEADER_SIZE ((ULONG)FIELD_OFFSET(ACPI_METHOD_ARGUMENT, Data))
// Offset of the first argument from the start of the output.
#define ACPI_OUTPUT_HEADER_SIZE ((ULONG)FIELD_OFFSET(ACPI_EVAL_OUTPUT_BUFFER, Argument))

FORCEINLINE ULONG AcpiReadUlong(_In_ const UCHAR* At) {
    ULONG value;
    RtlCopyMemory(&value, At, sizeof(value));
    return value;
}

FORCEINLINE USHORT AcpiReadUshort(_In_ const UCHAR* At) {
    USHORT value;
    RtlCopyMemory(&value, At, sizeof(value));
    return value;
}

// Type and data length of the argument at At; the caller has checked that its header fits.
FORCEINLINE VOID AcpiReadArgumentHeader(_In_ const UCHAR* At, _Out_ PUSHORT Type,
                                        _Out_ PUSHORT DataLength) {
    *Type = AcpiReadUshort(At + FIELD_OFFSET(ACPI_METHOD_ARGUMENT, Type));
    *DataLength = AcpiReadUshort(At + FIELD_OFFSET(ACPI_METHOD_ARGUMENT, DataLength));
}
