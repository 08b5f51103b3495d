#pragma once
// The recorder behind the WPP macro layer (see WppRecorder.h).
#include <evntrace.h>
#include <wdm.h>

VOID WppStandInInitTracing(PVOID DriverObject, PCUNICODE_STRING RegistryPath,
                           const char* ControlGuidText);
VOID WppStandInCleanup(PVOID DriverObject);
// What the trace session enables: the flag (WPP_LEVEL_ENABLED), the control block's level
// (WPP_CONTROL(...).Level, 0 without a session), and both (a trace call of that level and flag).
BOOLEAN WppStandInFlagEnabled(ULONG Flags);
struct WPP_STANDIN_CONTROL {
    UCHAR Level;
};
WPP_STANDIN_CONTROL WppStandInControl(ULONG Flags);
BOOLEAN WppStandInEnabled(ULONG Flags, UCHAR Level);
VOID WppStandInTrace(UCHAR Level, ULONG Flags, const char* FlagName, const char* Function,
                     const char* Format, ...) __attribute__((format(printf, 5, 6)));
