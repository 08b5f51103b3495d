#pragma once
// Platform settings from the ACPI firmware below the filter (the PHY override records and the
// one-byte switches) and the GPIO line of the Multiport instance's super-speed PHY supply.
// Evaluation (the requests, the buffer growth) is kept apart from parsing: a parser is a
// function of the output buffer and the bytes that the request really returned.
#include <ntddk.h>
#include <wdf.h>
#include <acpiioct.h>

#include "frame/FilterExtension.h"

// Buffer growth of ReadPhyOverrides: InitialSize times 1, 2, 3 and 4.
#define PHY_OVERRIDE_READ_ATTEMPTS 4
// Output of a one-byte switch: the header and one buffer argument of one byte.
#define ACPI_FLAG_OUTPUT_SIZE 20
// Send time-out of a GPIO pin write, in milliseconds.
#define GPIO_WRITE_TIMEOUT_MS 300

// Evaluates MethodName (four characters) and appends its override records to PhyOverrides.
NTSTATUS ReadPhyOverrides(_In_ WDFDEVICE Device, _In_ PCSTR MethodName, _In_ ULONG InitialSize);

// Walks an evaluation output of BytesReturned bytes: every argument a package, each parsed by
// ParsePhyOverridePackage. Records appended before a bad argument stay.
NTSTATUS ParsePhyOverrideOutput(_In_ WDFDEVICE Device, _In_ PACPI_EVAL_OUTPUT_BUFFER Output,
                                _In_ ULONG BytesReturned);

// Turns one package argument of exactly three integers into a PHY_OVERRIDE and appends it
// (kind 0) or drops it (any other kind). Available: the bytes from the start of the package
// argument to the end of what the request returned.
NTSTATUS ParsePhyOverridePackage(_In_ WDFDEVICE Device, _In_ PACPI_METHOD_ARGUMENT Package,
                                 _In_ ULONG Available);

// Sends IOCTL_ACPI_EVAL_METHOD_EX to the device's default I/O target, no time-out, and checks
// the output's signature.
NTSTATUS EvaluateAcpiObjectByName(_In_ WDFDEVICE Device, _In_ PVOID Input, _In_ ULONG InputSize,
                                  _Out_ PVOID Output, _In_ ULONG OutputSize);
// The same, telling the bytes the request returned (0 on failure).
NTSTATUS EvaluateAcpiObject(_In_ WDFDEVICE Device, _In_ PVOID Input, _In_ ULONG InputSize,
                            _Out_ PVOID Output, _In_ ULONG OutputSize, _Out_ PULONG BytesReturned);

// Reads one switch ("GEN1", "MPRD", "MPDP" or "CCVL") into its flag of FILTER_EXTENSION.
NTSTATUS ReadAcpiFlag(_In_ WDFDEVICE Device, _In_ PCSTR Name);

// The byte of a switch's output: exactly one argument, a buffer of one byte.
NTSTATUS ParseAcpiFlagOutput(_In_ PACPI_EVAL_OUTPUT_BUFFER Output, _In_ ULONG BytesReturned,
                             _Out_ PUCHAR Value);

// Drives the GPIO line to Value (0 or 1) when GpioTarget is open.
NTSTATUS SetGpioLine(_In_ PFILTER_EXTENSION Context, _In_ UCHAR Value);
