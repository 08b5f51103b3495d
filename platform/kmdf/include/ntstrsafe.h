#pragma once
// Bounded string formatting of the kernel's safe string library (Linux stand-in).
// The results follow the library: the destination is always terminated, and a result that
// does not fit is truncated with STATUS_BUFFER_OVERFLOW.
#include <wdm.h>

#define NTSTRSAFE_MAX_CCH 2147483647

NTSTATUS RtlStringCbPrintfA(_Out_ PSTR pszDest, _In_ SIZE_T cbDest, _In_ PCSTR pszFormat, ...)
    __attribute__((format(printf, 3, 4)));
NTSTATUS RtlStringCbPrintfW(_Out_ PWSTR pszDest, _In_ SIZE_T cbDest, _In_ PCWSTR pszFormat, ...);
// Formats into the counted string's buffer (MaximumLength bytes); Length excludes the NUL.
NTSTATUS RtlUnicodeStringPrintf(_Inout_ PUNICODE_STRING DestinationString, _In_ PCWSTR pszFormat,
                                ...);
NTSTATUS RtlStringCbLengthW(_In_ PCWSTR psz, _In_ SIZE_T cbMax, _Out_opt_ SIZE_T* pcbLength);
