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
// As the preprocessor's output: WPP_LEVEL_ENABLED tests the flag alone, WPP_CONTROL gives the
// session's level, and a trace call tests the driver's own WPP_LEVEL_FLAGS_ENABLED first, so
// that its arguments are evaluated only when a session enables its flag and level.
#define WPP_LEVEL_ENABLED(Flags) WppStandInFlagEnabled(WPP_BIT_##Flags)
#define WPP_CONTROL(Bit) WppStandInControl(Bit)
#define TraceEvents(Level, Flags, Msg, ...)                                                        \
    (WPP_LEVEL_FLAGS_ENABLED(Level, Flags)                                                         \
         ? WppStandInTrace((Level), WPP_BIT_##Flags, #Flags, __func__,                             \
                           Msg __VA_OPT__(, ) __VA_ARGS__)                                         \
         : (void)0)
