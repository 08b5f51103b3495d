// The recording side of the WPP macro layer.
#include "State.h"

#include <WppRecorderApi.h>

#include <cstdarg>
#include <cstdio>

using namespace kmdf;

VOID WppStandInInitTracing(PVOID DriverObject, PCUNICODE_STRING RegistryPath,
                           const char* ControlGuidText) {
    UNREFERENCED_PARAMETER(DriverObject);
    UNREFERENCED_PARAMETER(RegistryPath);
    auto& s = Current();
    std::lock_guard guard(s.lock);
    ++s.wppSessions;
    s.wppControlGuid = ControlGuidText;
}

VOID WppStandInCleanup(PVOID DriverObject) {
    UNREFERENCED_PARAMETER(DriverObject);
    auto& s = Current();
    std::lock_guard guard(s.lock);
    if (s.wppSessions == 0) {
        BugCheck("WPP_CLEANUP without WPP_INIT_TRACING");
    }
    --s.wppSessions;
}

BOOLEAN WppStandInEnabled(ULONG Flags, UCHAR Level) {
    UNREFERENCED_PARAMETER(Flags);
    auto& s = Current();
    std::lock_guard guard(s.lock);
    return Level <= s.traceLevel;
}

VOID WppStandInTrace(UCHAR Level, ULONG Flags, const char* FlagName, const char* Function,
                     const char* Format, ...) {
    auto& s = Current();
    DiagnosticRecord d;
    d.level = Level;
    d.flags = Flags;
    d.flagName = FlagName;
    d.function = Function;
    char text[512];
    va_list args;
    va_start(args, Format);
    std::vsnprintf(text, sizeof text, Format, args);
    va_end(args);
    d.message = text;
    {
        std::lock_guard guard(s.lock);
        if (Level > s.traceLevel) {
            return;
        }
        AppendBounded(s.diagnostics, d, s.historyLimit);
        ++s.diagnosticsByLevel[d.level];
    }
    s.hardware->OnDiagnostic(d);
}
