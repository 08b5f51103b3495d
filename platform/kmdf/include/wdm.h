#pragma once
// Kernel types and routines of the WDM subset that the driver calls (Linux stand-in).
// Names, prototypes and values are those of the WDK; behaviour is provided by the stand-in
// library, which routes I/O space and time to the installed kmdf::Hardware.

// Source annotations carry no meaning for this compiler.
#define _In_
#define _In_opt_
#define _Out_
#define _Out_opt_
#define _Inout_
#define _Inout_opt_
#define _Outptr_result_nullonfailure_
#define _In_reads_bytes_(size)
#define _Use_decl_annotations_
#define _Must_inspect_result_
#define _IRQL_requires_(x)
#define _IRQL_requires_max_(x)
#define _Function_class_(x)
#define _Analysis_assume_(x)

#define VOID void
#define NTAPI
#define FORCEINLINE inline __attribute__((always_inline))
#define UNREFERENCED_PARAMETER(P) ((void)(P))
#define C_ASSERT(e) static_assert(e, #e)
// C linkage, spelt as the WDK spells it.
#define EXTERN_C extern "C"
#define EXTERN_C_START extern "C" {
#define EXTERN_C_END }
#define TRUE 1
#define FALSE 0
#ifndef NULL
#define NULL nullptr
#endif

typedef void* PVOID;
typedef void* HANDLE;
typedef char CHAR;
typedef signed char CCHAR;
typedef unsigned char UCHAR, *PUCHAR;
typedef unsigned char BOOLEAN;
typedef short SHORT;
typedef unsigned short USHORT, *PUSHORT;
typedef int LONG, *PLONG;
typedef unsigned int ULONG, *PULONG;
typedef long long LONGLONG, *PLONGLONG;
typedef unsigned long long ULONGLONG, *PULONGLONG, ULONG64, *PULONG64;
typedef __UINTPTR_TYPE__ ULONG_PTR, *PULONG_PTR;
typedef ULONG_PTR SIZE_T;
typedef ULONG ACCESS_MASK;
typedef wchar_t WCHAR, *PWCH, *PWSTR, *PZZWSTR;
typedef const wchar_t* PCWSTR;
typedef char* PSTR;
typedef const char* PCSTR;
typedef const char* LPCSTR;
typedef LONG NTSTATUS;
typedef ULONG POOL_TAG;
typedef CCHAR KPROCESSOR_MODE;
typedef UCHAR KIRQL;

#define NT_SUCCESS(Status) (((NTSTATUS)(Status)) >= 0)

#define STATUS_SUCCESS ((NTSTATUS)0x00000000L)
#define STATUS_PENDING ((NTSTATUS)0x00000103L)
#define STATUS_BUFFER_OVERFLOW ((NTSTATUS)0x80000005L)
#define STATUS_UNSUCCESSFUL ((NTSTATUS)0xC0000001L)
#define STATUS_NOT_IMPLEMENTED ((NTSTATUS)0xC0000002L)
#define STATUS_INVALID_HANDLE ((NTSTATUS)0xC0000008L)
#define STATUS_INVALID_PARAMETER ((NTSTATUS)0xC000000DL)
#define STATUS_INVALID_DEVICE_REQUEST ((NTSTATUS)0xC0000010L)
#define STATUS_BUFFER_TOO_SMALL ((NTSTATUS)0xC0000023L)
#define STATUS_OBJECT_NAME_NOT_FOUND ((NTSTATUS)0xC0000034L)
#define STATUS_DELETE_PENDING ((NTSTATUS)0xC0000056L)
#define STATUS_NO_SUCH_DEVICE ((NTSTATUS)0xC000000EL)
#define STATUS_INSUFFICIENT_RESOURCES ((NTSTATUS)0xC000009AL)
#define STATUS_IO_TIMEOUT ((NTSTATUS)0xC00000B5L)
#define STATUS_NOT_SUPPORTED ((NTSTATUS)0xC00000BBL)
#define STATUS_INTERNAL_ERROR ((NTSTATUS)0xC00000E5L)
#define STATUS_DEVICE_NOT_CONNECTED ((NTSTATUS)0xC000009DL)
#define STATUS_INVALID_DEVICE_STATE ((NTSTATUS)0xC0000184L)
#define STATUS_NOT_FOUND ((NTSTATUS)0xC0000225L)
#define STATUS_DEVICE_HARDWARE_ERROR ((NTSTATUS)0xC0000483L)
#define STATUS_ACPI_INVALID_DATA ((NTSTATUS)0xC014000FL)

typedef union _LARGE_INTEGER {
    struct {
        ULONG LowPart;
        LONG HighPart;
    };
    struct {
        ULONG LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;
typedef LARGE_INTEGER PHYSICAL_ADDRESS, *PPHYSICAL_ADDRESS;

typedef struct _GUID {
    ULONG Data1;
    USHORT Data2;
    USHORT Data3;
    UCHAR Data4[8];
} GUID, *PGUID;
typedef const GUID* LPCGUID;
typedef const GUID& REFGUID;

#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8)                               \
    inline constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}

inline bool IsEqualGUID(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) {
        return false;
    }
    for (int i = 0; i < 8; ++i) {
        if (a.Data4[i] != b.Data4[i]) {
            return false;
        }
    }
    return true;
}

typedef struct _UNICODE_STRING {
    USHORT Length;
    USHORT MaximumLength;
    PWCH Buffer;
} UNICODE_STRING, *PUNICODE_STRING;
typedef const UNICODE_STRING* PCUNICODE_STRING;

#define RTL_CONSTANT_STRING(s)                                                                     \
    { sizeof(s) - sizeof((s)[0]), sizeof(s), const_cast<PWCH>(s) }

#define DECLARE_CONST_UNICODE_STRING(_var, _string)                                                \
    const WCHAR _var##_buffer[] = _string;                                                         \
    const UNICODE_STRING _var = {sizeof(_string) - sizeof(WCHAR), sizeof(_string),                 \
                                 const_cast<PWCH>(_var##_buffer)}

VOID RtlInitUnicodeString(PUNICODE_STRING DestinationString, PCWSTR SourceString);
#define RtlInitEmptyUnicodeString(_ucStr, _buf, _bufSize)                                          \
    ((_ucStr)->Buffer = (_buf), (_ucStr)->Length = 0, (_ucStr)->MaximumLength = (USHORT)(_bufSize))

#define RtlZeroMemory(Destination, Length) __builtin_memset((Destination), 0, (Length))
#define RtlFillMemory(Destination, Length, Fill) __builtin_memset((Destination), (Fill), (Length))
#define RtlCopyMemory(Destination, Source, Length)                                                 \
    __builtin_memcpy((Destination), (Source), (Length))
#define RtlCompareMemory(Source1, Source2, Length)                                                 \
    RtlCompareMemoryStandIn((Source1), (Source2), (Length))
SIZE_T RtlCompareMemoryStandIn(const VOID* Source1, const VOID* Source2, SIZE_T Length);

#define FIELD_OFFSET(type, field) __builtin_offsetof(type, field)
#define ANYSIZE_ARRAY 1
#define MAXULONG 0xffffffffUL
// Data that may sit at any address. The stand-in's compilers have no such qualifier, so code
// reads such data byte-wise.
#define UNALIGNED
#define ARRAYSIZE(a) (sizeof(a) / sizeof((a)[0]))
#define RTL_NUMBER_OF(a) ARRAYSIZE(a)

// Ordered accesses to shared memory. An acquire read is ordered before every later access of
// its processor, a release write after every earlier one; the no-fence forms are atomic but
// impose no order.
FORCEINLINE UCHAR ReadUCharAcquire(_In_ UCHAR const volatile* Source) {
    return __atomic_load_n(Source, __ATOMIC_ACQUIRE);
}
FORCEINLINE VOID WriteUCharRelease(_Out_ UCHAR volatile* Destination, _In_ UCHAR Value) {
    __atomic_store_n(Destination, Value, __ATOMIC_RELEASE);
}
FORCEINLINE LONG ReadAcquire(_In_ LONG const volatile* Source) {
    return __atomic_load_n(Source, __ATOMIC_ACQUIRE);
}
FORCEINLINE VOID WriteRelease(_Out_ LONG volatile* Destination, _In_ LONG Value) {
    __atomic_store_n(Destination, Value, __ATOMIC_RELEASE);
}
// Atomic read-modify-write with a full barrier; the result is the new value.
FORCEINLINE LONG InterlockedIncrement(_Inout_ LONG volatile* Addend) {
    return __atomic_add_fetch(Addend, 1, __ATOMIC_SEQ_CST);
}
FORCEINLINE LONG InterlockedDecrement(_Inout_ LONG volatile* Addend) {
    return __atomic_sub_fetch(Addend, 1, __ATOMIC_SEQ_CST);
}
FORCEINLINE LONG InterlockedExchange(_Inout_ LONG volatile* Target, _In_ LONG Value) {
    return __atomic_exchange_n(Target, Value, __ATOMIC_SEQ_CST);
}
FORCEINLINE LONG ReadNoFence(_In_ LONG const volatile* Source) {
    return __atomic_load_n(Source, __ATOMIC_RELAXED);
}
FORCEINLINE VOID WriteNoFence(_Out_ LONG volatile* Destination, _In_ LONG Value) {
    __atomic_store_n(Destination, Value, __ATOMIC_RELAXED);
}

// IRQL. Every callback of the stand-in runs at passive level.
#define PASSIVE_LEVEL 0
#define APC_LEVEL 1
#define DISPATCH_LEVEL 2
KIRQL KeGetCurrentIrql();
// Pageable code says so on entry. Inside D0 entry or D0 exit of a stack that is not power
// pageable the stand-in takes it as paged out, with paging I/O unavailable: a bug check.
VOID KmdfStandInPagedCode(PCSTR function);
#define PAGED_CODE() KmdfStandInPagedCode(__func__)

// Objects of the I/O manager. Of a device object the driver reads only its flags.
typedef struct _DEVICE_OBJECT {
    ULONG Flags;
} DEVICE_OBJECT, *PDEVICE_OBJECT;
#define DO_POWER_PAGABLE 0x00002000UL
#define DO_POWER_INRUSH 0x00004000UL
typedef struct _FILE_OBJECT FILE_OBJECT, *PFILE_OBJECT;
typedef struct _DRIVER_OBJECT DRIVER_OBJECT, *PDRIVER_OBJECT;

typedef NTSTATUS DRIVER_INITIALIZE(_In_ PDRIVER_OBJECT DriverObject,
                                   _In_ PUNICODE_STRING RegistryPath);
typedef DRIVER_INITIALIZE* PDRIVER_INITIALIZE;

#define GENERIC_READ 0x80000000UL
#define GENERIC_WRITE 0x40000000UL
#define FILE_ALL_ACCESS 0x001F01FFUL
#define FILE_SHARE_READ 0x00000001UL
#define FILE_SHARE_WRITE 0x00000002UL
#define FILE_OPEN 0x00000001UL
#define FILE_NON_DIRECTORY_FILE 0x00000040UL

// I/O control codes.
#define CTL_CODE(DeviceType, Function, Method, Access)                                             \
    (((DeviceType) << 16) | ((Access) << 14) | ((Function) << 2) | (Method))
#define METHOD_BUFFERED 0
#define FILE_ANY_ACCESS 0
#define FILE_READ_ACCESS 0x0001
#define FILE_WRITE_ACCESS 0x0002
#define FILE_DEVICE_ACPI 0x00000032
#define FILE_DEVICE_GPIO 0x00000048

// Hardware resources.
#define CmResourceTypeNull 0
#define CmResourceTypePort 1
#define CmResourceTypeInterrupt 2
#define CmResourceTypeMemory 3
#define CmResourceTypeConnection 0x84
#define CM_RESOURCE_CONNECTION_CLASS_GPIO 0x01
#define CM_RESOURCE_CONNECTION_TYPE_GPIO_IO 0x02
#define CmResourceShareDeviceExclusive 1

#pragma pack(push, 4)
typedef struct _CM_PARTIAL_RESOURCE_DESCRIPTOR {
    UCHAR Type;
    UCHAR ShareDisposition;
    USHORT Flags;
    union {
        struct {
            PHYSICAL_ADDRESS Start;
            ULONG Length;
        } Generic;
        struct {
            PHYSICAL_ADDRESS Start;
            ULONG Length;
        } Memory;
        struct {
            USHORT Level;
            USHORT Group;
            ULONG Vector;
            ULONG_PTR Affinity;
        } Interrupt;
        struct {
            UCHAR Class;
            UCHAR Type;
            UCHAR Reserved1;
            UCHAR Reserved2;
            ULONG IdLowPart;
            ULONG IdHighPart;
        } Connection;
    } u;
} CM_PARTIAL_RESOURCE_DESCRIPTOR, *PCM_PARTIAL_RESOURCE_DESCRIPTOR;
#pragma pack(pop)

// Power.
typedef enum _POWER_ACTION {
    PowerActionNone = 0,
    PowerActionReserved,
    PowerActionSleep,
    PowerActionHibernate,
    PowerActionShutdown,
    PowerActionShutdownReset,
    PowerActionShutdownOff,
    PowerActionWarmEject,
    PowerActionDisplayOff
} POWER_ACTION,
    *PPOWER_ACTION;

// Pool.
typedef enum _DEVICE_USAGE_NOTIFICATION_TYPE {
    DeviceUsageTypeUndefined,
    DeviceUsageTypePaging,
    DeviceUsageTypeHibernation,
    DeviceUsageTypeDumpFile,
    DeviceUsageTypeBoot,
    DeviceUsageTypePostDisplay,
    DeviceUsageTypeGuestAssigned
} DEVICE_USAGE_NOTIFICATION_TYPE;

typedef enum _POOL_TYPE { NonPagedPool = 0, PagedPool = 1, NonPagedPoolNx = 512 } POOL_TYPE;
typedef ULONG64 POOL_FLAGS;
#define POOL_FLAG_UNINITIALIZED 0x0000000000000002ULL
#define POOL_FLAG_NON_PAGED 0x0000000000000040ULL
#define POOL_FLAG_PAGED 0x0000000000000100ULL

PVOID ExAllocatePool2(_In_ POOL_FLAGS Flags, _In_ SIZE_T NumberOfBytes, _In_ ULONG Tag);
PVOID ExAllocatePoolWithTag(_In_ POOL_TYPE PoolType, _In_ SIZE_T NumberOfBytes, _In_ ULONG Tag);
VOID ExFreePoolWithTag(_In_ PVOID P, _In_ ULONG Tag);
VOID ExFreePool(_In_ PVOID P);

// I/O space. MmMapIoSpaceEx maps device memory; register accesses go through the documented
// register routines so that every access reaches the device exactly once.
#define PAGE_NOACCESS 0x01
#define PAGE_READONLY 0x02
#define PAGE_READWRITE 0x04
#define PAGE_NOCACHE 0x200
#define PAGE_WRITECOMBINE 0x400

PVOID MmMapIoSpaceEx(_In_ PHYSICAL_ADDRESS PhysicalAddress, _In_ SIZE_T NumberOfBytes,
                     _In_ ULONG Protect);
VOID MmUnmapIoSpace(_In_ PVOID BaseAddress, _In_ SIZE_T NumberOfBytes);
ULONG READ_REGISTER_NOFENCE_ULONG(_In_ volatile ULONG* Register);
VOID WRITE_REGISTER_NOFENCE_ULONG(_In_ volatile ULONG* Register, _In_ ULONG Value);

// ARM64 barrier intrinsic (arm64intr.h on the target).
#define _ARM64_BARRIER_SY 0xF
void __dsb(unsigned int Type);

// Waits and time.
#define KernelMode 0
#define UserMode 1
NTSTATUS KeDelayExecutionThread(_In_ KPROCESSOR_MODE WaitMode, _In_ BOOLEAN Alertable,
                                _In_ PLARGE_INTEGER Interval);
LARGE_INTEGER KeQueryPerformanceCounter(_Out_opt_ PLARGE_INTEGER PerformanceFrequency);

// Events, the one dispatcher object the driver waits on. The header has the real layout; the
// stand-in keeps the state in SignalState and its waiters elsewhere.
typedef struct _LIST_ENTRY {
    struct _LIST_ENTRY* Flink;
    struct _LIST_ENTRY* Blink;
} LIST_ENTRY, *PLIST_ENTRY;
typedef struct _DISPATCHER_HEADER {
    union {
        struct {
            UCHAR Type;
            UCHAR Signalling;
            UCHAR Size;
            UCHAR DpcActive;
        };
        volatile LONG Lock;
    };
    LONG SignalState;
    LIST_ENTRY WaitListHead;
} DISPATCHER_HEADER, *PDISPATCHER_HEADER;
typedef struct _KEVENT {
    DISPATCHER_HEADER Header;
} KEVENT, *PKEVENT, *PRKEVENT;
typedef enum _EVENT_TYPE { NotificationEvent, SynchronizationEvent } EVENT_TYPE;
typedef enum _KWAIT_REASON { Executive } KWAIT_REASON;
typedef LONG KPRIORITY;
#define IO_NO_INCREMENT 0
VOID KeInitializeEvent(_Out_ PRKEVENT Event, _In_ EVENT_TYPE Type, _In_ BOOLEAN State);
LONG KeSetEvent(_Inout_ PRKEVENT Event, _In_ KPRIORITY Increment, _In_ BOOLEAN Wait);
// Only the wait without a time-out (Timeout NULL), the one the driver makes.
NTSTATUS KeWaitForSingleObject(_In_ PVOID Object, _In_ KWAIT_REASON WaitReason,
                               _In_ KPROCESSOR_MODE WaitMode, _In_ BOOLEAN Alertable,
                               _In_opt_ PLARGE_INTEGER Timeout);

// Bug checks end the system.
[[noreturn]] VOID KeBugCheckEx(_In_ ULONG BugCheckCode, _In_ ULONG_PTR P1, _In_ ULONG_PTR P2,
                               _In_ ULONG_PTR P3, _In_ ULONG_PTR P4);

// Driver-to-driver interfaces.
typedef VOID (*PINTERFACE_REFERENCE)(PVOID Context);
typedef VOID (*PINTERFACE_DEREFERENCE)(PVOID Context);
typedef struct _INTERFACE {
    USHORT Size;
    USHORT Version;
    PVOID Context;
    PINTERFACE_REFERENCE InterfaceReference;
    PINTERFACE_DEREFERENCE InterfaceDereference;
} INTERFACE, *PINTERFACE;

// Plug and Play notification.
typedef enum _IO_NOTIFICATION_EVENT_CATEGORY {
    EventCategoryReserved,
    EventCategoryHardwareProfileChange,
    EventCategoryDeviceInterfaceChange,
    EventCategoryTargetDeviceChange,
    EventCategoryKernelSoftRestart
} IO_NOTIFICATION_EVENT_CATEGORY;
#define PNPNOTIFY_DEVICE_INTERFACE_INCLUDE_EXISTING_INTERFACES 0x00000001

typedef struct _DEVICE_INTERFACE_CHANGE_NOTIFICATION {
    USHORT Version;
    USHORT Size;
    GUID Event;
    GUID InterfaceClassGuid;
    PUNICODE_STRING SymbolicLinkName;
} DEVICE_INTERFACE_CHANGE_NOTIFICATION, *PDEVICE_INTERFACE_CHANGE_NOTIFICATION;

DEFINE_GUID(GUID_DEVICE_INTERFACE_ARRIVAL, 0xcb3a4004L, 0x46f0, 0x11d0, 0xb0, 0x8f, 0x00, 0x60,
            0x97, 0x13, 0x05, 0x3f);
DEFINE_GUID(GUID_DEVICE_INTERFACE_REMOVAL, 0xcb3a4005L, 0x46f0, 0x11d0, 0xb0, 0x8f, 0x00, 0x60,
            0x97, 0x13, 0x05, 0x3f);

typedef NTSTATUS DRIVER_NOTIFICATION_CALLBACK_ROUTINE(_In_ PVOID NotificationStructure,
                                                      _Inout_opt_ PVOID Context);
typedef DRIVER_NOTIFICATION_CALLBACK_ROUTINE* PDRIVER_NOTIFICATION_CALLBACK_ROUTINE;

NTSTATUS IoRegisterPlugPlayNotification(_In_ IO_NOTIFICATION_EVENT_CATEGORY EventCategory,
                                        _In_ ULONG EventCategoryFlags,
                                        _In_opt_ PVOID EventCategoryData,
                                        _In_ PDRIVER_OBJECT DriverObject,
                                        _In_ PDRIVER_NOTIFICATION_CALLBACK_ROUTINE CallbackRoutine,
                                        _Inout_opt_ PVOID Context, _Out_ PVOID* NotificationEntry);
NTSTATUS IoUnregisterPlugPlayNotificationEx(_In_ PVOID NotificationEntry);
NTSTATUS IoGetDeviceObjectPointer(_In_ PUNICODE_STRING ObjectName, _In_ ACCESS_MASK DesiredAccess,
                                  _Out_ PFILE_OBJECT* FileObject,
                                  _Out_ PDEVICE_OBJECT* DeviceObject);
VOID ObDereferenceObject(_In_ PVOID Object);
// The symbolic links of the enabled interfaces of a class, as a list of strings ended by an
// empty one, in paged pool that the caller frees.
NTSTATUS IoGetDeviceInterfaces(_In_ const GUID* InterfaceClassGuid,
                               _In_opt_ PDEVICE_OBJECT PhysicalDeviceObject, _In_ ULONG Flags,
                               _Outptr_result_nullonfailure_ PZZWSTR* SymbolicLinkList);

// Run-down protection: acquisitions succeed until a wait for run-down begins; the wait
// returns once every acquisition has been released.
typedef struct _EX_RUNDOWN_REF {
    union {
        ULONG_PTR Count;
        PVOID Ptr;
    };
} EX_RUNDOWN_REF, *PEX_RUNDOWN_REF;
VOID ExInitializeRundownProtection(_Out_ PEX_RUNDOWN_REF RunRef);
VOID ExReInitializeRundownProtection(_Inout_ PEX_RUNDOWN_REF RunRef);
BOOLEAN ExAcquireRundownProtection(_Inout_ PEX_RUNDOWN_REF RunRef);
VOID ExReleaseRundownProtection(_Inout_ PEX_RUNDOWN_REF RunRef);
VOID ExWaitForRundownProtectionRelease(_Inout_ PEX_RUNDOWN_REF RunRef);

#include <evntprov.h>
