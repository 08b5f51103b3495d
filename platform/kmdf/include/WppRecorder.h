#pragma once
// WPP software tracing, recording edition (Linux stand-in for the trace preprocessor's output).
// The build generates one trace message header (.tmh) per driver source; each includes this
// file after the driver's trace header has defined WPP_CONTROL_GUIDS. The macros keep the
// driver's calls as they are under the WDK and record, for every diagnostic, its level, its
// flag and the formatted message, so that tests can tell which diagnostics were reported.
#include <WppRecorderApi.h>

#ifndef WPP_CONTROL_GUIDS
#error "WPP_CONTROL_GUIDS must be defined before the trace message header is included"
#endif

// Flag indices and bit masks, in the order of the WPP_DEFINE_BIT entries.
#define WPP_DEFINE_CONTROL_GUID(Name, Guid, Bits) Bits
#define WPP_DEFINE_BIT(Name) WPP_BIT_INDEX_##Name,
enum WPP_BIT_INDEX_ { WPP_CONTROL_GUIDS WPP_BIT_INDEX_COUNT_ };
#undef WPP_DEFINE_BIT
#define WPP_DEFINE_BIT(Name) WPP_BIT_##Name = 1u << WPP_BIT_INDEX_##Name,
enum WPP_BITS_ : unsigned { WPP_CONTROL_GUIDS WPP_BITS_NONE_ = 0 };
#undef WPP_DEFINE_BIT
#undef WPP_DEFINE_CONTROL_GUID

// The control GUID as its text, e.g. "(11ED5F0A,0200,...)".
#define WPP_DEFINE_BIT(Name)
#define WPP_DEFINE_CONTROL_GUID(Name, Guid, Bits) #Guid
inline constexpr char WppControlGuidText[] = WPP_CONTROL_GUIDS;
#undef WPP_DEFINE_BIT
#undef WPP_DEFINE_CONTROL_GUID

#define WPP_INIT_TRACING(DriverObject, RegistryPath)                                               \
    WppStandInInitTracing((DriverObject), (RegistryPath), WppControlGuidText)
#define WPP_CLEANUP(DriverObject) WppStandInCleanup(DriverObject)
#define WPP_LEVEL_ENABLED(Flags) WppStandInEnabled(WPP_BIT_##Flags, TRACE_LEVEL_VERBOSE)
#define WPP_FLAG_ENABLED(Flags, Level) WppStandInEnabled(WPP_BIT_##Flags, (Level))
#define TraceEvents(Level, Flags, Msg, ...)                                                        \
    WppStandInTrace((Level), WPP_BIT_##Flags, #Flags, __func__, Msg __VA_OPT__(, ) __VA_ARGS__)
