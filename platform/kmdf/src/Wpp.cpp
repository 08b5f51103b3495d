// The recording side of the WPP macro layer.
#include "State.h"

#include <WppRecorderApi.h>

#include <cstdarg>
#include <cstdio>

using namespace kmdf;

VOID WppStandInInitTracing(PVOID DriverObject, PCUNICODE_STRING RegistryPath,
                           const char* ControlGuidText) {
    SwitchPoint("WppStandInInitTracing");
    UNREFERENCED_PARAMETER(DriverObject);
    UNREFERENCED_PARAMETER(RegistryPath);
    auto& s = Current();
    std::lock_guard guard(s.lock);
    ++s.wppSessions;
    s.wppControlGuid = ControlGuidText;
}

VOID WppStandInCleanup(PVOID DriverObject) {
    SwitchPoint("WppStandInCleanup");
    UNREFERENCED_PARAMETER(DriverObject);
    auto& s = Current();
    std::lock_guard guard(s.lock);
    if (s.wppSessions == 0) {
        BugCheck("WPP_CLEANUP without WPP_INIT_TRACING");
    }
    --s.wppSessions;
}

namespace {

bool Enabled(const Machine::State& s, ULONG Flags, UCHAR Level) {
    return s.wppSession && (s.wppSession->flags & Flags) != 0 && Level <= s.wppSession->level;
}

} // namespace

// The flag and level tests stand for the preprocessor's reads of the control block, which it
// writes in line: no routine is called there, so they are no switch points.
BOOLEAN WppStandInFlagEnabled(ULONG Flags) {
    auto& s = Current();
    std::lock_guard guard(s.lock);
    return Enabled(s, Flags, TRACE_LEVEL_NONE); // every level of a session is at least none
}

WPP_STANDIN_CONTROL WppStandInControl(ULONG Flags) {
    UNREFERENCED_PARAMETER(Flags); // one session for every flag of the control GUID
    auto& s = Current();
    std::lock_guard guard(s.lock);
    return WPP_STANDIN_CONTROL{s.wppSession ? s.wppSession->level : UCHAR(TRACE_LEVEL_NONE)};
}

BOOLEAN WppStandInEnabled(ULONG Flags, UCHAR Level) {
    auto& s = Current();
    std::lock_guard guard(s.lock);
    return Enabled(s, Flags, Level);
}

VOID WppStandInTrace(UCHAR Level, ULONG Flags, const char* FlagName, const char* Function,
                     const char* Format, ...) {
    SwitchPoint("WppStandInTrace");
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
        if (!Enabled(s, Flags, Level)) {
            return;
        }
        AppendBounded(s.diagnostics, d, s.historyLimit);
        ++s.diagnosticsByLevel[d.level];
    }
    s.hardware->OnDiagnostic(d);
}
