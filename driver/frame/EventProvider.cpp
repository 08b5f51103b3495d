// Registration of the driver's event provider and the state of its enablement.
#include "frame/EventProvider.h"
#include "frame/Trace.h"

#include "EventProvider.tmh"

PELVANE_EVENT_PROVIDER PelvaneEventProvider;

_Use_decl_annotations_ VOID NTAPI EventProviderEnableCallback(
    LPCGUID SourceId, ULONG ControlCode, UCHAR Level, ULONGLONG MatchAnyKeyword,
    ULONGLONG MatchAllKeyword, PEVENT_FILTER_DESCRIPTOR FilterData, PVOID CallbackContext) {
    PPELVANE_EVENT_PROVIDER provider = static_cast<PPELVANE_EVENT_PROVIDER>(CallbackContext);

    UNREFERENCED_PARAMETER(SourceId);
    UNREFERENCED_PARAMETER(FilterData);

    if (provider == NULL) {
        return;
    }

    switch (ControlCode) {
    case EVENT_CONTROL_CODE_ENABLE_PROVIDER:
        provider->Level = Level;
        provider->MatchAnyKeyword = MatchAnyKeyword;
        provider->MatchAllKeyword = MatchAllKeyword;
        provider->Enabled = TRUE;
        break;
    case EVENT_CONTROL_CODE_DISABLE_PROVIDER:
        provider->Enabled = FALSE;
        provider->Level = 0;
        provider->MatchAnyKeyword = 0;
        provider->MatchAllKeyword = 0;
        break;
    default:
        // A capture-state request changes nothing of the enablement.
        break;
    }
    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_DRIVER,
                "event provider control %u: enabled %u, level %u, keywords 0x%llX", ControlCode,
                provider->Enabled, provider->Level, provider->MatchAnyKeyword);
}

NTSTATUS RegisterEventProvider(VOID) {
    RtlZeroMemory(&PelvaneEventProvider, sizeof(PelvaneEventProvider));
    return EtwRegister(&PELVANE_PROVIDER_GUID, EventProviderEnableCallback, &PelvaneEventProvider,
                       &PelvaneEventProvider.RegHandle);
}

VOID UnregisterEventProvider(VOID) {
    if (PelvaneEventProvider.RegHandle != 0) {
        EtwUnregister(PelvaneEventProvider.RegHandle);
    }
    RtlZeroMemory(&PelvaneEventProvider, sizeof(PelvaneEventProvider));
}

BOOLEAN EventProviderEnabled(VOID) {
    return PelvaneEventProvider.Enabled;
}
