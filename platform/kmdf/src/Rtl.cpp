// Run-time library routines: counted strings, memory comparison, bounded formatting.
#include "State.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <ntstrsafe.h>

using namespace kmdf;

VOID RtlInitUnicodeString(PUNICODE_STRING DestinationString, PCWSTR SourceString) {
    SwitchPoint("RtlInitUnicodeString");
    DestinationString->Buffer = const_cast<PWCH>(SourceString);
    if (SourceString == nullptr) {
        DestinationString->Length = DestinationString->MaximumLength = 0;
        return;
    }
    auto length = std::wcslen(SourceString) * sizeof(WCHAR);
    DestinationString->Length = static_cast<USHORT>(length);
    DestinationString->MaximumLength = static_cast<USHORT>(length + sizeof(WCHAR));
}

SIZE_T RtlCompareMemoryStandIn(const VOID* Source1, const VOID* Source2, SIZE_T Length) {
    SwitchPoint("RtlCompareMemory");
    auto* a = static_cast<const unsigned char*>(Source1);
    auto* b = static_cast<const unsigned char*>(Source2);
    SIZE_T i = 0;
    while (i < Length && a[i] == b[i]) {
        ++i;
    }
    return i;
}

NTSTATUS RtlStringCbPrintfA(PSTR pszDest, SIZE_T cbDest, PCSTR pszFormat, ...) {
    SwitchPoint("RtlStringCbPrintfA");
    if (pszDest == nullptr || cbDest == 0 || cbDest > NTSTRSAFE_MAX_CCH) {
        return STATUS_INVALID_PARAMETER;
    }
    va_list args;
    va_start(args, pszFormat);
    int n = std::vsnprintf(pszDest, cbDest, pszFormat, args);
    va_end(args);
    if (n < 0) {
        pszDest[0] = 0;
        return STATUS_INVALID_PARAMETER;
    }
    return static_cast<SIZE_T>(n) >= cbDest ? STATUS_BUFFER_OVERFLOW : STATUS_SUCCESS;
}

// In the kernel's wide formatters %s and %c take wide arguments and %S and %C narrow ones;
// the C library's wide formatters use %ls/%lc and %s/%c. The kernel's 64-bit size prefix
// I64 is the C library's ll.
static std::wstring KernelToLibraryFormat(PCWSTR format) {
    std::wstring out;
    for (const wchar_t* p = format; *p != 0; ++p) {
        out += *p;
        if (*p != L'%') {
            continue;
        }
        ++p;
        while (*p != 0 && std::wcschr(L"-+ #0123456789.*", *p) != nullptr) {
            out += *p++;
        }
        if (*p == 0) {
            break;
        }
        if (p[0] == L'I' && p[1] == L'6' && p[2] == L'4') {
            out += L"ll";
            p += 3;
            if (*p == 0) {
                break;
            }
        }
        if (*p == L's' || *p == L'c') {
            out += L'l';
            out += *p;
        } else if (*p == L'S' || *p == L'C') {
            out += static_cast<wchar_t>(*p == L'S' ? L's' : L'c');
        } else {
            out += *p;
        }
    }
    return out;
}

namespace {

// Formats into cch characters at dest, always terminated; *written gets the characters kept.
NTSTATUS FormatWide(PWSTR dest, SIZE_T cch, PCWSTR pszFormat, va_list args, SIZE_T* written) {
    std::wstring format = KernelToLibraryFormat(pszFormat);
    std::wstring whole(4096, L'\0');
    int n = std::vswprintf(whole.data(), whole.size(), format.c_str(), args);
    if (n < 0) {
        dest[0] = 0;
        *written = 0;
        return STATUS_INVALID_PARAMETER;
    }
    SIZE_T copy = static_cast<SIZE_T>(n) < cch ? static_cast<SIZE_T>(n) : cch - 1;
    std::wmemcpy(dest, whole.data(), copy);
    dest[copy] = 0;
    *written = copy;
    return static_cast<SIZE_T>(n) >= cch ? STATUS_BUFFER_OVERFLOW : STATUS_SUCCESS;
}

} // namespace

NTSTATUS RtlStringCbPrintfW(PWSTR pszDest, SIZE_T cbDest, PCWSTR pszFormat, ...) {
    SwitchPoint("RtlStringCbPrintfW");
    SIZE_T cch = cbDest / sizeof(WCHAR);
    if (pszDest == nullptr || cch == 0 || cch > NTSTRSAFE_MAX_CCH) {
        return STATUS_INVALID_PARAMETER;
    }
    SIZE_T written;
    va_list args;
    va_start(args, pszFormat);
    NTSTATUS status = FormatWide(pszDest, cch, pszFormat, args, &written);
    va_end(args);
    return status;
}

// A counted string needs no terminator: the whole buffer may hold characters.
NTSTATUS RtlUnicodeStringPrintf(PUNICODE_STRING DestinationString, PCWSTR pszFormat, ...) {
    SwitchPoint("RtlUnicodeStringPrintf");
    if (DestinationString == nullptr || DestinationString->Buffer == nullptr ||
        DestinationString->MaximumLength < sizeof(WCHAR)) {
        return STATUS_INVALID_PARAMETER;
    }
    SIZE_T cch = DestinationString->MaximumLength / sizeof(WCHAR);
    std::wstring scratch(cch + 1, L'\0');
    SIZE_T written;
    va_list args;
    va_start(args, pszFormat);
    NTSTATUS status = FormatWide(scratch.data(), cch + 1, pszFormat, args, &written);
    va_end(args);
    std::wmemcpy(DestinationString->Buffer, scratch.data(), written);
    if (written < cch) {
        DestinationString->Buffer[written] = 0;
    }
    DestinationString->Length = static_cast<USHORT>(written * sizeof(WCHAR));
    return status;
}

NTSTATUS RtlStringCbLengthW(PCWSTR psz, SIZE_T cbMax, SIZE_T* pcbLength) {
    SwitchPoint("RtlStringCbLengthW");
    if (pcbLength != nullptr) {
        *pcbLength = 0;
    }
    if (psz == nullptr || cbMax == 0) {
        return STATUS_INVALID_PARAMETER;
    }
    SIZE_T cch = 0;
    while (cch < cbMax / sizeof(WCHAR) && psz[cch] != 0) {
        ++cch;
    }
    if (cch == cbMax / sizeof(WCHAR)) {
        return STATUS_INVALID_PARAMETER;
    }
    if (pcbLength != nullptr) {
        *pcbLength = cch * sizeof(WCHAR);
    }
    return STATUS_SUCCESS;
}
