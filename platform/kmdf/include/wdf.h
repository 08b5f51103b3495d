#pragma once
// Kernel-Mode Driver Framework subset that the driver calls (Linux stand-in).
// Prototypes, records, initialisers and values are those of the framework's public headers;
// the objects behind the handles live in the stand-in library.
#include <ntddk.h>

#define WDF_DECLARE_HANDLE_(h) typedef struct h##__* h
typedef HANDLE WDFOBJECT, *PWDFOBJECT;
WDF_DECLARE_HANDLE_(WDFDRIVER);
WDF_DECLARE_HANDLE_(WDFDEVICE);
WDF_DECLARE_HANDLE_(WDFCOLLECTION);
WDF_DECLARE_HANDLE_(WDFMEMORY);
WDF_DECLARE_HANDLE_(WDFIOTARGET);
WDF_DECLARE_HANDLE_(WDFREQUEST);
WDF_DECLARE_HANDLE_(WDFCMRESLIST);
WDF_DECLARE_HANDLE_(WDFWORKITEM);
typedef struct WDFDEVICE_INIT* PWDFDEVICE_INIT;

#define WDF_NO_OBJECT_ATTRIBUTES NULL
#define WDF_NO_HANDLE NULL
#define WDF_NO_SEND_OPTIONS NULL

// Typed object contexts.
typedef struct _WDF_OBJECT_CONTEXT_TYPE_INFO WDF_OBJECT_CONTEXT_TYPE_INFO;
typedef const WDF_OBJECT_CONTEXT_TYPE_INFO* PCWDF_OBJECT_CONTEXT_TYPE_INFO;
typedef PCWDF_OBJECT_CONTEXT_TYPE_INFO (*PFN_GET_UNIQUE_CONTEXT_TYPE)();
struct _WDF_OBJECT_CONTEXT_TYPE_INFO {
    ULONG Size;
    LPCSTR ContextName;
    SIZE_T ContextSize;
    PCWDF_OBJECT_CONTEXT_TYPE_INFO UniqueType;
    PFN_GET_UNIQUE_CONTEXT_TYPE EvtDriverGetUniqueContextType;
};

#define WDF_TYPE_NAME_TO_TYPE_INFO(_contexttype) _WDF_##_contexttype##_TYPE_INFO
#define WDF_GET_CONTEXT_TYPE_INFO(_contexttype) (&WDF_TYPE_NAME_TO_TYPE_INFO(_contexttype))

PVOID WdfObjectGetTypedContextWorker(_In_ WDFOBJECT Handle,
                                     _In_ PCWDF_OBJECT_CONTEXT_TYPE_INFO TypeInfo);

#define WDF_DECLARE_CONTEXT_TYPE_WITH_NAME(_contexttype, _castingfunction)                         \
    inline const WDF_OBJECT_CONTEXT_TYPE_INFO WDF_TYPE_NAME_TO_TYPE_INFO(_contexttype) = {         \
        sizeof(WDF_OBJECT_CONTEXT_TYPE_INFO), #_contexttype, sizeof(_contexttype),                 \
        &WDF_TYPE_NAME_TO_TYPE_INFO(_contexttype), NULL};                                          \
    FORCEINLINE _contexttype* _castingfunction(_In_ WDFOBJECT Handle) {                            \
        return (_contexttype*)WdfObjectGetTypedContextWorker(                                      \
            Handle, WDF_GET_CONTEXT_TYPE_INFO(_contexttype));                                      \
    }
#define WDF_DECLARE_CONTEXT_TYPE(_contexttype)                                                     \
    WDF_DECLARE_CONTEXT_TYPE_WITH_NAME(_contexttype, WdfObjectGet_##_contexttype)

// Object attributes.
typedef VOID EVT_WDF_OBJECT_CONTEXT_CLEANUP(_In_ WDFOBJECT Object);
typedef EVT_WDF_OBJECT_CONTEXT_CLEANUP* PFN_WDF_OBJECT_CONTEXT_CLEANUP;
typedef VOID EVT_WDF_OBJECT_CONTEXT_DESTROY(_In_ WDFOBJECT Object);
typedef EVT_WDF_OBJECT_CONTEXT_DESTROY* PFN_WDF_OBJECT_CONTEXT_DESTROY;

typedef enum _WDF_EXECUTION_LEVEL {
    WdfExecutionLevelInvalid = 0,
    WdfExecutionLevelInheritFromParent,
    WdfExecutionLevelPassive,
    WdfExecutionLevelDispatch
} WDF_EXECUTION_LEVEL;
typedef enum _WDF_SYNCHRONIZATION_SCOPE {
    WdfSynchronizationScopeInvalid = 0,
    WdfSynchronizationScopeInheritFromParent,
    WdfSynchronizationScopeDevice,
    WdfSynchronizationScopeQueue,
    WdfSynchronizationScopeNone
} WDF_SYNCHRONIZATION_SCOPE;

typedef struct _WDF_OBJECT_ATTRIBUTES {
    ULONG Size;
    PFN_WDF_OBJECT_CONTEXT_CLEANUP EvtCleanupCallback;
    PFN_WDF_OBJECT_CONTEXT_DESTROY EvtDestroyCallback;
    WDF_EXECUTION_LEVEL ExecutionLevel;
    WDF_SYNCHRONIZATION_SCOPE SynchronizationScope;
    WDFOBJECT ParentObject;
    SIZE_T ContextSizeOverride;
    PCWDF_OBJECT_CONTEXT_TYPE_INFO ContextTypeInfo;
} WDF_OBJECT_ATTRIBUTES, *PWDF_OBJECT_ATTRIBUTES;

FORCEINLINE VOID WDF_OBJECT_ATTRIBUTES_INIT(_Out_ PWDF_OBJECT_ATTRIBUTES Attributes) {
    RtlZeroMemory(Attributes, sizeof(WDF_OBJECT_ATTRIBUTES));
    Attributes->Size = sizeof(WDF_OBJECT_ATTRIBUTES);
    Attributes->ExecutionLevel = WdfExecutionLevelInheritFromParent;
    Attributes->SynchronizationScope = WdfSynchronizationScopeInheritFromParent;
}
#define WDF_OBJECT_ATTRIBUTES_SET_CONTEXT_TYPE(_attributes, _contexttype)                          \
    (_attributes)->ContextTypeInfo = WDF_GET_CONTEXT_TYPE_INFO(_contexttype)->UniqueType
#define WDF_OBJECT_ATTRIBUTES_INIT_CONTEXT_TYPE(_attributes, _contexttype)                         \
    WDF_OBJECT_ATTRIBUTES_INIT(_attributes);                                                       \
    WDF_OBJECT_ATTRIBUTES_SET_CONTEXT_TYPE(_attributes, _contexttype)

VOID WdfObjectDelete(_In_ WDFOBJECT Object);

// Driver object.
typedef NTSTATUS EVT_WDF_DRIVER_DEVICE_ADD(_In_ WDFDRIVER Driver,
                                           _Inout_ PWDFDEVICE_INIT DeviceInit);
typedef EVT_WDF_DRIVER_DEVICE_ADD* PFN_WDF_DRIVER_DEVICE_ADD;
typedef VOID EVT_WDF_DRIVER_UNLOAD(_In_ WDFDRIVER Driver);
typedef EVT_WDF_DRIVER_UNLOAD* PFN_WDF_DRIVER_UNLOAD;

typedef enum _WDF_DRIVER_INIT_FLAGS {
    WdfDriverInitNonPnpDriver = 0x00000001,
    WdfDriverInitNoDispatchOverride = 0x00000002,
    WdfVerifyOn = 0x00000004,
    WdfVerifierOn = 0x00000008
} WDF_DRIVER_INIT_FLAGS;

typedef struct _WDF_DRIVER_CONFIG {
    ULONG Size;
    PFN_WDF_DRIVER_DEVICE_ADD EvtDriverDeviceAdd;
    PFN_WDF_DRIVER_UNLOAD EvtDriverUnload;
    ULONG DriverInitFlags;
    ULONG DriverPoolTag;
} WDF_DRIVER_CONFIG, *PWDF_DRIVER_CONFIG;

FORCEINLINE VOID WDF_DRIVER_CONFIG_INIT(_Out_ PWDF_DRIVER_CONFIG Config,
                                        _In_opt_ PFN_WDF_DRIVER_DEVICE_ADD EvtDriverDeviceAdd) {
    RtlZeroMemory(Config, sizeof(WDF_DRIVER_CONFIG));
    Config->Size = sizeof(WDF_DRIVER_CONFIG);
    Config->EvtDriverDeviceAdd = EvtDriverDeviceAdd;
}

NTSTATUS WdfDriverCreate(_In_ PDRIVER_OBJECT DriverObject, _In_ PCUNICODE_STRING RegistryPath,
                         _In_opt_ PWDF_OBJECT_ATTRIBUTES DriverAttributes,
                         _In_ PWDF_DRIVER_CONFIG DriverConfig, _Out_opt_ WDFDRIVER* Driver);
WDFDRIVER WdfGetDriver(VOID);
PDRIVER_OBJECT WdfDriverWdmGetDriverObject(_In_ WDFDRIVER Driver);

// Device object and its Plug and Play and power callbacks.
typedef enum _WDF_POWER_DEVICE_STATE {
    WdfPowerDeviceInvalid = 0,
    WdfPowerDeviceD0,
    WdfPowerDeviceD1,
    WdfPowerDeviceD2,
    WdfPowerDeviceD3,
    WdfPowerDeviceD3Final,
    WdfPowerDevicePrepareForHibernation,
    WdfPowerDeviceMaximum
} WDF_POWER_DEVICE_STATE,
    *PWDF_POWER_DEVICE_STATE;

typedef NTSTATUS EVT_WDF_DEVICE_D0_ENTRY(_In_ WDFDEVICE Device,
                                         _In_ WDF_POWER_DEVICE_STATE PreviousState);
typedef EVT_WDF_DEVICE_D0_ENTRY* PFN_WDF_DEVICE_D0_ENTRY;
typedef NTSTATUS EVT_WDF_DEVICE_D0_EXIT(_In_ WDFDEVICE Device,
                                        _In_ WDF_POWER_DEVICE_STATE TargetState);
typedef EVT_WDF_DEVICE_D0_EXIT* PFN_WDF_DEVICE_D0_EXIT;
typedef NTSTATUS EVT_WDF_DEVICE_PREPARE_HARDWARE(_In_ WDFDEVICE Device,
                                                 _In_ WDFCMRESLIST ResourcesRaw,
                                                 _In_ WDFCMRESLIST ResourcesTranslated);
typedef EVT_WDF_DEVICE_PREPARE_HARDWARE* PFN_WDF_DEVICE_PREPARE_HARDWARE;
typedef NTSTATUS EVT_WDF_DEVICE_RELEASE_HARDWARE(_In_ WDFDEVICE Device,
                                                 _In_ WDFCMRESLIST ResourcesTranslated);
typedef EVT_WDF_DEVICE_RELEASE_HARDWARE* PFN_WDF_DEVICE_RELEASE_HARDWARE;
typedef VOID EVT_WDF_DEVICE_SURPRISE_REMOVAL(_In_ WDFDEVICE Device);
typedef EVT_WDF_DEVICE_SURPRISE_REMOVAL* PFN_WDF_DEVICE_SURPRISE_REMOVAL;

// Callbacks this stand-in never calls keep their slots so that the record has its layout.
typedef PVOID PFN_WDF_STAND_IN_UNUSED;

typedef struct _WDF_PNPPOWER_EVENT_CALLBACKS {
    ULONG Size;
    PFN_WDF_DEVICE_D0_ENTRY EvtDeviceD0Entry;
    PFN_WDF_STAND_IN_UNUSED EvtDeviceD0EntryPostInterruptsEnabled;
    PFN_WDF_DEVICE_D0_EXIT EvtDeviceD0Exit;
    PFN_WDF_STAND_IN_UNUSED EvtDeviceD0ExitPreInterruptsDisabled;
    PFN_WDF_DEVICE_PREPARE_HARDWARE EvtDevicePrepareHardware;
    PFN_WDF_DEVICE_RELEASE_HARDWARE EvtDeviceReleaseHardware;
    PFN_WDF_STAND_IN_UNUSED EvtDeviceSelfManagedIoCleanup;
    PFN_WDF_STAND_IN_UNUSED EvtDeviceSelfManagedIoFlush;
    PFN_WDF_STAND_IN_UNUSED EvtDeviceSelfManagedIoInit;
    PFN_WDF_STAND_IN_UNUSED EvtDeviceSelfManagedIoSuspend;
    PFN_WDF_STAND_IN_UNUSED EvtDeviceSelfManagedIoRestart;
    PFN_WDF_DEVICE_SURPRISE_REMOVAL EvtDeviceSurpriseRemoval;
    PFN_WDF_STAND_IN_UNUSED EvtDeviceQueryRemove;
    PFN_WDF_STAND_IN_UNUSED EvtDeviceQueryStop;
    PFN_WDF_STAND_IN_UNUSED EvtDeviceUsageNotification;
    PFN_WDF_STAND_IN_UNUSED EvtDeviceRelationsQuery;
    PFN_WDF_STAND_IN_UNUSED EvtDeviceUsageNotificationEx;
} WDF_PNPPOWER_EVENT_CALLBACKS, *PWDF_PNPPOWER_EVENT_CALLBACKS;

FORCEINLINE VOID WDF_PNPPOWER_EVENT_CALLBACKS_INIT(_Out_ PWDF_PNPPOWER_EVENT_CALLBACKS Callbacks) {
    RtlZeroMemory(Callbacks, sizeof(WDF_PNPPOWER_EVENT_CALLBACKS));
    Callbacks->Size = sizeof(WDF_PNPPOWER_EVENT_CALLBACKS);
}

VOID WdfFdoInitSetFilter(_In_ PWDFDEVICE_INIT DeviceInit);
VOID WdfDeviceInitSetPnpPowerEventCallbacks(
    _In_ PWDFDEVICE_INIT DeviceInit, _In_ PWDF_PNPPOWER_EVENT_CALLBACKS PnpPowerEventCallbacks);
NTSTATUS WdfDeviceCreate(_Inout_ PWDFDEVICE_INIT* DeviceInit,
                         _In_opt_ PWDF_OBJECT_ATTRIBUTES DeviceAttributes, _Out_ WDFDEVICE* Device);
WDFIOTARGET WdfDeviceGetIoTarget(_In_ WDFDEVICE Device);
POWER_ACTION WdfDeviceGetSystemPowerAction(_In_ WDFDEVICE Device);
PDEVICE_OBJECT WdfDeviceWdmGetDeviceObject(_In_ WDFDEVICE Device);

// Resource lists.
ULONG WdfCmResourceListGetCount(_In_ WDFCMRESLIST List);
PCM_PARTIAL_RESOURCE_DESCRIPTOR WdfCmResourceListGetDescriptor(_In_ WDFCMRESLIST List,
                                                               _In_ ULONG Index);

// Collections.
NTSTATUS WdfCollectionCreate(_In_opt_ PWDF_OBJECT_ATTRIBUTES CollectionAttributes,
                             _Out_ WDFCOLLECTION* Collection);
ULONG WdfCollectionGetCount(_In_ WDFCOLLECTION Collection);
NTSTATUS WdfCollectionAdd(_In_ WDFCOLLECTION Collection, _In_ WDFOBJECT Object);
VOID WdfCollectionRemove(_In_ WDFCOLLECTION Collection, _In_ WDFOBJECT Item);
WDFOBJECT WdfCollectionGetItem(_In_ WDFCOLLECTION Collection, _In_ ULONG Index);

// Memory objects.
NTSTATUS WdfMemoryCreate(_In_opt_ PWDF_OBJECT_ATTRIBUTES Attributes, _In_ POOL_TYPE PoolType,
                         _In_opt_ ULONG PoolTag, _In_ SIZE_T BufferSize, _Out_ WDFMEMORY* Memory,
                         _Out_opt_ PVOID* Buffer);
PVOID WdfMemoryGetBuffer(_In_ WDFMEMORY Memory, _Out_opt_ SIZE_T* BufferSize);

typedef enum _WDF_MEMORY_DESCRIPTOR_TYPE {
    WdfMemoryDescriptorTypeInvalid = 0,
    WdfMemoryDescriptorTypeBuffer,
    WdfMemoryDescriptorTypeMdl,
    WdfMemoryDescriptorTypeHandle
} WDF_MEMORY_DESCRIPTOR_TYPE;

typedef struct _WDF_MEMORY_DESCRIPTOR {
    WDF_MEMORY_DESCRIPTOR_TYPE Type;
    union {
        struct {
            PVOID Buffer;
            ULONG Length;
        } BufferType;
        struct {
            WDFMEMORY Memory;
            PVOID Offsets;
        } HandleType;
    } u;
} WDF_MEMORY_DESCRIPTOR, *PWDF_MEMORY_DESCRIPTOR;

FORCEINLINE VOID WDF_MEMORY_DESCRIPTOR_INIT_BUFFER(_Out_ PWDF_MEMORY_DESCRIPTOR Descriptor,
                                                   _In_ PVOID Buffer, _In_ ULONG BufferLength) {
    RtlZeroMemory(Descriptor, sizeof(WDF_MEMORY_DESCRIPTOR));
    Descriptor->Type = WdfMemoryDescriptorTypeBuffer;
    Descriptor->u.BufferType.Buffer = Buffer;
    Descriptor->u.BufferType.Length = BufferLength;
}

// I/O targets.
typedef enum _WDF_IO_TARGET_OPEN_TYPE {
    WdfIoTargetOpenUndefined = 0,
    WdfIoTargetOpenUseExistingDevice = 1,
    WdfIoTargetOpenByName = 2,
    WdfIoTargetOpenReopen = 3,
    WdfIoTargetOpenLocalTargetByFile = 4
} WDF_IO_TARGET_OPEN_TYPE;

typedef NTSTATUS EVT_WDF_IO_TARGET_QUERY_REMOVE(_In_ WDFIOTARGET IoTarget);
typedef EVT_WDF_IO_TARGET_QUERY_REMOVE* PFN_WDF_IO_TARGET_QUERY_REMOVE;
typedef VOID EVT_WDF_IO_TARGET_REMOVE_CANCELED(_In_ WDFIOTARGET IoTarget);
typedef EVT_WDF_IO_TARGET_REMOVE_CANCELED* PFN_WDF_IO_TARGET_REMOVE_CANCELED;
typedef VOID EVT_WDF_IO_TARGET_REMOVE_COMPLETE(_In_ WDFIOTARGET IoTarget);
typedef EVT_WDF_IO_TARGET_REMOVE_COMPLETE* PFN_WDF_IO_TARGET_REMOVE_COMPLETE;

typedef struct _WDF_IO_TARGET_OPEN_PARAMS {
    ULONG Size;
    WDF_IO_TARGET_OPEN_TYPE Type;
    PFN_WDF_IO_TARGET_QUERY_REMOVE EvtIoTargetQueryRemove;
    PFN_WDF_IO_TARGET_REMOVE_CANCELED EvtIoTargetRemoveCanceled;
    PFN_WDF_IO_TARGET_REMOVE_COMPLETE EvtIoTargetRemoveComplete;
    PDEVICE_OBJECT TargetDeviceObject;
    PFILE_OBJECT TargetFileObject;
    UNICODE_STRING TargetDeviceName;
    ACCESS_MASK DesiredAccess;
    ULONG ShareAccess;
    ULONG FileAttributes;
    ULONG CreateDisposition;
    ULONG CreateOptions;
    PVOID EaBuffer;
    ULONG EaBufferLength;
    PLONGLONG AllocationSize;
    ULONG FileInformation;
    UNICODE_STRING FileName;
} WDF_IO_TARGET_OPEN_PARAMS, *PWDF_IO_TARGET_OPEN_PARAMS;

FORCEINLINE VOID WDF_IO_TARGET_OPEN_PARAMS_INIT_EXISTING_DEVICE(
    _Out_ PWDF_IO_TARGET_OPEN_PARAMS Params, _In_ PDEVICE_OBJECT DeviceObject) {
    RtlZeroMemory(Params, sizeof(WDF_IO_TARGET_OPEN_PARAMS));
    Params->Size = sizeof(WDF_IO_TARGET_OPEN_PARAMS);
    Params->Type = WdfIoTargetOpenUseExistingDevice;
    Params->TargetDeviceObject = DeviceObject;
}

FORCEINLINE VOID WDF_IO_TARGET_OPEN_PARAMS_INIT_OPEN_BY_NAME(
    _Out_ PWDF_IO_TARGET_OPEN_PARAMS Params, _In_ PCUNICODE_STRING TargetDeviceName,
    _In_ ACCESS_MASK DesiredAccess) {
    RtlZeroMemory(Params, sizeof(WDF_IO_TARGET_OPEN_PARAMS));
    Params->Size = sizeof(WDF_IO_TARGET_OPEN_PARAMS);
    Params->Type = WdfIoTargetOpenByName;
    Params->TargetDeviceName = *TargetDeviceName;
    Params->DesiredAccess = DesiredAccess;
    Params->CreateOptions = FILE_NON_DIRECTORY_FILE;
    Params->CreateDisposition = FILE_OPEN;
}

typedef enum _WDF_REQUEST_SEND_OPTIONS_FLAGS {
    WDF_REQUEST_SEND_OPTION_TIMEOUT = 0x00000001,
    WDF_REQUEST_SEND_OPTION_SYNCHRONOUS = 0x00000002,
    WDF_REQUEST_SEND_OPTION_IGNORE_TARGET_STATE = 0x00000004,
    WDF_REQUEST_SEND_OPTION_SEND_AND_FORGET = 0x00000008
} WDF_REQUEST_SEND_OPTIONS_FLAGS;

typedef struct _WDF_REQUEST_SEND_OPTIONS {
    ULONG Size;
    ULONG Flags;
    LONGLONG Timeout;
} WDF_REQUEST_SEND_OPTIONS, *PWDF_REQUEST_SEND_OPTIONS;

FORCEINLINE VOID WDF_REQUEST_SEND_OPTIONS_INIT(_Out_ PWDF_REQUEST_SEND_OPTIONS Options,
                                               _In_ ULONG Flags) {
    RtlZeroMemory(Options, sizeof(WDF_REQUEST_SEND_OPTIONS));
    Options->Size = sizeof(WDF_REQUEST_SEND_OPTIONS);
    Options->Flags = Flags;
}
FORCEINLINE VOID WDF_REQUEST_SEND_OPTIONS_SET_TIMEOUT(_Inout_ PWDF_REQUEST_SEND_OPTIONS Options,
                                                      _In_ LONGLONG Timeout) {
    Options->Flags |= WDF_REQUEST_SEND_OPTION_TIMEOUT;
    Options->Timeout = Timeout;
}
#define WDF_TIMEOUT_TO_SEC ((LONGLONG)1 * 10 * 1000 * 1000)
#define WDF_TIMEOUT_TO_MS ((LONGLONG)1 * 10 * 1000)
#define WDF_TIMEOUT_TO_US ((LONGLONG)1 * 10)
FORCEINLINE LONGLONG WDF_REL_TIMEOUT_IN_MS(_In_ ULONGLONG Time) {
    return Time * -WDF_TIMEOUT_TO_MS;
}
FORCEINLINE LONGLONG WDF_REL_TIMEOUT_IN_US(_In_ ULONGLONG Time) {
    return Time * -WDF_TIMEOUT_TO_US;
}

NTSTATUS WdfIoTargetCreate(_In_ WDFDEVICE Device,
                           _In_opt_ PWDF_OBJECT_ATTRIBUTES IoTargetAttributes,
                           _Out_ WDFIOTARGET* IoTarget);
NTSTATUS WdfIoTargetOpen(_In_ WDFIOTARGET IoTarget, _In_ PWDF_IO_TARGET_OPEN_PARAMS OpenParams);
VOID WdfIoTargetClose(_In_ WDFIOTARGET IoTarget);
VOID WdfIoTargetCloseForQueryRemove(_In_ WDFIOTARGET IoTarget);
WDFDEVICE WdfIoTargetGetDevice(_In_ WDFIOTARGET IoTarget);
NTSTATUS WdfIoTargetSendIoctlSynchronously(_In_ WDFIOTARGET IoTarget, _In_opt_ WDFREQUEST Request,
                                           _In_ ULONG IoctlCode,
                                           _In_opt_ PWDF_MEMORY_DESCRIPTOR InputBuffer,
                                           _In_opt_ PWDF_MEMORY_DESCRIPTOR OutputBuffer,
                                           _In_opt_ PWDF_REQUEST_SEND_OPTIONS RequestOptions,
                                           _Out_opt_ PULONG_PTR BytesReturned);
NTSTATUS WdfIoTargetQueryForInterface(_In_ WDFIOTARGET IoTarget, _In_ LPCGUID InterfaceType,
                                      _Out_ PINTERFACE Interface, _In_ USHORT Size,
                                      _In_ USHORT Version, _In_opt_ PVOID InterfaceSpecificData);

// Work items: run at passive level on a system thread. One queued already is not queued
// again; a flush returns once the item queued or running has run.
typedef VOID EVT_WDF_WORKITEM(_In_ WDFWORKITEM WorkItem);
typedef EVT_WDF_WORKITEM* PFN_WDF_WORKITEM;

typedef struct _WDF_WORKITEM_CONFIG {
    ULONG Size;
    PFN_WDF_WORKITEM EvtWorkItemFunc;
    BOOLEAN AutomaticSerialization;
} WDF_WORKITEM_CONFIG, *PWDF_WORKITEM_CONFIG;

FORCEINLINE VOID WDF_WORKITEM_CONFIG_INIT(_Out_ PWDF_WORKITEM_CONFIG Config,
                                          _In_ PFN_WDF_WORKITEM EvtWorkItemFunc) {
    RtlZeroMemory(Config, sizeof(WDF_WORKITEM_CONFIG));
    Config->Size = sizeof(WDF_WORKITEM_CONFIG);
    Config->EvtWorkItemFunc = EvtWorkItemFunc;
    Config->AutomaticSerialization = TRUE;
}

NTSTATUS WdfWorkItemCreate(_In_ PWDF_WORKITEM_CONFIG Config, _In_ PWDF_OBJECT_ATTRIBUTES Attributes,
                           _Out_ WDFWORKITEM* WorkItem);
VOID WdfWorkItemEnqueue(_In_ WDFWORKITEM WorkItem);
WDFOBJECT WdfWorkItemGetParentObject(_In_ WDFWORKITEM WorkItem);
VOID WdfWorkItemFlush(_In_ WDFWORKITEM WorkItem);
