#pragma once
// ACPI evaluation requests sent to the ACPI driver below a device (Linux stand-in): the I/O
// control codes, the input and output formats and their signatures, with the WDK's names,
// values and layouts.
#include <wdm.h>

#define IOCTL_ACPI_EVAL_METHOD                                                                     \
    CTL_CODE(FILE_DEVICE_ACPI, 1, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS)
#define IOCTL_ACPI_EVAL_METHOD_EX                                                                  \
    CTL_CODE(FILE_DEVICE_ACPI, 6, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS)

#define ACPI_EVAL_INPUT_BUFFER_SIGNATURE 0x42696541    // 'BieA'
#define ACPI_EVAL_INPUT_BUFFER_SIGNATURE_EX 0x41696541 // 'AieA'
#define ACPI_EVAL_OUTPUT_BUFFER_SIGNATURE 0x426F6541   // 'BoeA'

typedef struct _ACPI_EVAL_INPUT_BUFFER_V1 {
    ULONG Signature;
    union {
        UCHAR MethodName[4];
        ULONG MethodNameAsUlong;
    };
} ACPI_EVAL_INPUT_BUFFER_V1, *PACPI_EVAL_INPUT_BUFFER_V1;

typedef struct _ACPI_EVAL_INPUT_BUFFER_V1_EX {
    ULONG Signature;
    CHAR MethodName[256];
} ACPI_EVAL_INPUT_BUFFER_V1_EX, *PACPI_EVAL_INPUT_BUFFER_V1_EX;

typedef ACPI_EVAL_INPUT_BUFFER_V1 ACPI_EVAL_INPUT_BUFFER, *PACPI_EVAL_INPUT_BUFFER;
typedef ACPI_EVAL_INPUT_BUFFER_V1_EX ACPI_EVAL_INPUT_BUFFER_EX, *PACPI_EVAL_INPUT_BUFFER_EX;

#define ACPI_METHOD_ARGUMENT_INTEGER 0x0
#define ACPI_METHOD_ARGUMENT_STRING 0x1
#define ACPI_METHOD_ARGUMENT_BUFFER 0x2
#define ACPI_METHOD_ARGUMENT_PACKAGE 0x3

typedef struct _ACPI_METHOD_ARGUMENT_V1 {
    USHORT Type;
    USHORT DataLength;
    union {
        ULONG Argument;
        UCHAR Data[ANYSIZE_ARRAY];
    };
} ACPI_METHOD_ARGUMENT_V1;
typedef ACPI_METHOD_ARGUMENT_V1 UNALIGNED* PACPI_METHOD_ARGUMENT_V1;

typedef struct _ACPI_EVAL_OUTPUT_BUFFER_V1 {
    ULONG Signature;
    ULONG Length;
    ULONG Count;
    ACPI_METHOD_ARGUMENT_V1 Argument[ANYSIZE_ARRAY];
} ACPI_EVAL_OUTPUT_BUFFER_V1;
typedef ACPI_EVAL_OUTPUT_BUFFER_V1 UNALIGNED* PACPI_EVAL_OUTPUT_BUFFER_V1;

typedef ACPI_METHOD_ARGUMENT_V1 ACPI_METHOD_ARGUMENT;
typedef ACPI_METHOD_ARGUMENT_V1 UNALIGNED* PACPI_METHOD_ARGUMENT;
typedef ACPI_EVAL_OUTPUT_BUFFER_V1 ACPI_EVAL_OUTPUT_BUFFER;
typedef ACPI_EVAL_OUTPUT_BUFFER_V1 UNALIGNED* PACPI_EVAL_OUTPUT_BUFFER;

// Bytes one argument occupies: its header and at least four bytes of data.
#define ACPI_METHOD_ARGUMENT_LENGTH(DataLength)                                                    \
    (FIELD_OFFSET(ACPI_METHOD_ARGUMENT, Data) +                                                    \
     ((DataLength) > sizeof(ULONG) ? (DataLength) : sizeof(ULONG)))

C_ASSERT(sizeof(ACPI_EVAL_INPUT_BUFFER) == 8);
C_ASSERT(sizeof(ACPI_EVAL_INPUT_BUFFER_EX) == 260);
C_ASSERT(sizeof(ACPI_METHOD_ARGUMENT) == 8);
C_ASSERT(sizeof(ACPI_EVAL_OUTPUT_BUFFER) == 20);
