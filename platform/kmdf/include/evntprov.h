#pragma once
// Event provider types and the kernel's event provider routines (Linux stand-in).
#include <wdm.h>

typedef ULONGLONG REGHANDLE, *PREGHANDLE;

typedef struct _EVENT_DESCRIPTOR {
    USHORT Id;
    UCHAR Version;
    UCHAR Channel;
    UCHAR Level;
    UCHAR Opcode;
    USHORT Task;
    ULONGLONG Keyword;
} EVENT_DESCRIPTOR, *PEVENT_DESCRIPTOR;
typedef const EVENT_DESCRIPTOR* PCEVENT_DESCRIPTOR;

typedef struct _EVENT_DATA_DESCRIPTOR {
    ULONGLONG Ptr;
    ULONG Size;
    ULONG Reserved;
} EVENT_DATA_DESCRIPTOR, *PEVENT_DATA_DESCRIPTOR;

typedef struct _EVENT_FILTER_DESCRIPTOR {
    ULONGLONG Ptr;
    ULONG Size;
    ULONG Type;
} EVENT_FILTER_DESCRIPTOR, *PEVENT_FILTER_DESCRIPTOR;

#define EVENT_CONTROL_CODE_DISABLE_PROVIDER 0
#define EVENT_CONTROL_CODE_ENABLE_PROVIDER 1
#define EVENT_CONTROL_CODE_CAPTURE_STATE 2

FORCEINLINE VOID EventDataDescCreate(_Out_ PEVENT_DATA_DESCRIPTOR EventDataDescriptor,
                                     _In_ const VOID* DataPtr, _In_ ULONG DataSize) {
    EventDataDescriptor->Ptr = (ULONGLONG)(ULONG_PTR)DataPtr;
    EventDataDescriptor->Size = DataSize;
    EventDataDescriptor->Reserved = 0;
}

FORCEINLINE VOID EventDescCreate(_Out_ PEVENT_DESCRIPTOR EventDescriptor, _In_ USHORT Id,
                                 _In_ UCHAR Version, _In_ UCHAR Channel, _In_ UCHAR Level,
                                 _In_ USHORT Task, _In_ UCHAR Opcode, _In_ ULONGLONG Keyword) {
    EventDescriptor->Id = Id;
    EventDescriptor->Version = Version;
    EventDescriptor->Channel = Channel;
    EventDescriptor->Level = Level;
    EventDescriptor->Task = Task;
    EventDescriptor->Opcode = Opcode;
    EventDescriptor->Keyword = Keyword;
}

typedef VOID NTAPI ETWENABLECALLBACK(_In_ LPCGUID SourceId, _In_ ULONG ControlCode,
                                     _In_ UCHAR Level, _In_ ULONGLONG MatchAnyKeyword,
                                     _In_ ULONGLONG MatchAllKeyword,
                                     _In_opt_ PEVENT_FILTER_DESCRIPTOR FilterData,
                                     _Inout_opt_ PVOID CallbackContext);
typedef ETWENABLECALLBACK* PETWENABLECALLBACK;

NTSTATUS EtwRegister(_In_ LPCGUID ProviderId, _In_opt_ PETWENABLECALLBACK EnableCallback,
                     _In_opt_ PVOID CallbackContext, _Out_ PREGHANDLE RegHandle);
NTSTATUS EtwUnregister(_In_ REGHANDLE RegHandle);
BOOLEAN EtwEventEnabled(_In_ REGHANDLE RegHandle, _In_ PCEVENT_DESCRIPTOR EventDescriptor);
NTSTATUS EtwWriteTransfer(_In_ REGHANDLE RegHandle, _In_ PCEVENT_DESCRIPTOR EventDescriptor,
                          _In_opt_ LPCGUID ActivityId, _In_opt_ LPCGUID RelatedActivityId,
                          _In_ ULONG UserDataCount, _In_opt_ PEVENT_DATA_DESCRIPTOR UserData);
