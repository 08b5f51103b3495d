#pragma once
// WPP software tracing of Pelvane: the control GUID, the trace flags and the TraceEvents
// function that the trace preprocessor expands in every source's .tmh.
// <evntrace.h> (through <wmistr.h>) needs the kernel's base types first.
#include <ntddk.h>
#include <evntrace.h>

// clang-format off
#define WPP_CONTROL_GUIDS                                                        \
    WPP_DEFINE_CONTROL_GUID(                                                     \
        PelvaneTraceGuid, (11ED5F0A,0200,42AF,B5DF,B8BEC02C9624),                \
        WPP_DEFINE_BIT(TRACE_DRIVER)                                             \
        WPP_DEFINE_BIT(TRACE_DEVICE)                                             \
        WPP_DEFINE_BIT(TRACE_HARDWARE)                                           \
        WPP_DEFINE_BIT(TRACE_POWER)                                              \
        WPP_DEFINE_BIT(TRACE_REGISTER)                                           \
        WPP_DEFINE_BIT(TRACE_PHY)                                                \
        WPP_DEFINE_BIT(TRACE_ACPI)                                               \
        WPP_DEFINE_BIT(TRACE_WAKE)                                               \
        )

#define WPP_FLAG_LEVEL_LOGGER(flag, level) WPP_LEVEL_LOGGER(flag)
#define WPP_FLAG_LEVEL_ENABLED(flag, level) \
    (WPP_LEVEL_ENABLED(flag) && WPP_CONTROL(WPP_BIT_##flag).Level >= (level))
#define WPP_LEVEL_FLAGS_LOGGER(lvl, flags) WPP_LEVEL_LOGGER(flags)
#define WPP_LEVEL_FLAGS_ENABLED(lvl, flags) \
    (WPP_LEVEL_ENABLED(flags) && WPP_CONTROL(WPP_BIT_##flags).Level >= (lvl))
// clang-format on

//
// begin_wpp config
// FUNC TraceEvents(LEVEL, FLAGS, MSG, ...);
// end_wpp
//
