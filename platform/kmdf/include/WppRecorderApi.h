#pragma once
// The recorder behind the WPP macro layer (see WppRecorder.h).
#include <evntrace.h>
#include <wdm.h>

VOID WppStandInInitTracing(PVOID DriverObject, PCUNICODE_STRING RegistryPath,
                           const char* ControlGuidText);
VOID WppStandInCleanup(PVOID DriverObject);
BOOLEAN WppStandInEnabled(ULONG Flags, UCHAR Level);
VOID WppStandInTrace(UCHAR Level, ULONG Flags, const char* FlagName, const char* Function,
                     const char* Format, ...) __attribute__((format(printf, 5, 6)));
