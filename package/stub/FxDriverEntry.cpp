// The framework's entry stub for the image linked here (a WDK build links WdfDriverEntry.lib).
// FxDriverEntry binds the driver to the KMDF 1.15 library through WDFLDR.SYS, which fills the
// function table and the driver globals that every Wdf call goes through, then calls DriverEntry.
// When DriverEntry fails, or when the driver unloads, it unbinds, so the loader can drop its
// reference to the framework.
#include <ntddk.h>
#include <wdf.h>

#include "SecurityCookie.h"

// The loader's view of a client: the layout of WDF_BIND_INFO in the framework's public source.
typedef struct _PELVANE_WDF_VERSION {
    ULONG Major;
    ULONG Minor;
    ULONG Build;
} PELVANE_WDF_VERSION;

typedef struct _PELVANE_WDF_BIND_INFO {
    ULONG Size;
    PWCHAR Component;
    PELVANE_WDF_VERSION Version;
    ULONG FuncCount;
    PVOID FuncTable;
    PVOID Module;
} PELVANE_WDF_BIND_INFO;

EXTERN_C_START

NTSTATUS WdfVersionBind(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath,
                        PELVANE_WDF_BIND_INFO* BindInfo, PWDF_DRIVER_GLOBALS* ComponentGlobals);
NTSTATUS WdfVersionUnbind(PUNICODE_STRING RegistryPath, PELVANE_WDF_BIND_INFO* BindInfo,
                          PWDF_DRIVER_GLOBALS ComponentGlobals);

DRIVER_INITIALIZE DriverEntry;
DRIVER_INITIALIZE FxDriverEntry;
DRIVER_UNLOAD FxStubDriverUnload;

// The loader points this at the framework's function table when it binds.
const WDFFUNC* WdfFunctions_01015;
PWDF_DRIVER_GLOBALS WdfDriverGlobals;

EXTERN_C_END

#pragma alloc_text(INIT, FxDriverEntry)

static WCHAR ComponentName[] = L"KmdfLibrary";

static PELVANE_WDF_BIND_INFO BindInfo = {
    sizeof(PELVANE_WDF_BIND_INFO), ComponentName, {1, 15, 0}, WdfFunctionTableNumEntries,
    (PVOID)&WdfFunctions_01015,    NULL};

// The loader's registry path buffer belongs to the I/O manager and is gone after entry; unbind
// at unload needs a copy.
static WCHAR RegistryPathBuffer[260];
static UNICODE_STRING RegistryPathCopy;
static PDRIVER_UNLOAD DisplacedUnload;

static VOID CopyRegistryPath(PCUNICODE_STRING RegistryPath) {
    USHORT bytes = RegistryPath->Length;
    if (bytes > sizeof(RegistryPathBuffer) - sizeof(WCHAR)) {
        bytes = sizeof(RegistryPathBuffer) - sizeof(WCHAR);
    }
    RtlCopyMemory(RegistryPathBuffer, RegistryPath->Buffer, bytes);
    RegistryPathCopy.Buffer = RegistryPathBuffer;
    RegistryPathCopy.Length = bytes;
    RegistryPathCopy.MaximumLength = sizeof(RegistryPathBuffer);
}

_Use_decl_annotations_ VOID FxStubDriverUnload(PDRIVER_OBJECT DriverObject) {
    if (DisplacedUnload != NULL && DisplacedUnload != FxStubDriverUnload) {
        DisplacedUnload(DriverObject);
    }
    WdfVersionUnbind(&RegistryPathCopy, &BindInfo, WdfDriverGlobals);
}

PELVANE_NO_GS _Use_decl_annotations_ NTSTATUS FxDriverEntry(PDRIVER_OBJECT DriverObject,
                                                            PUNICODE_STRING RegistryPath) {
    InitializeSecurityCookie();
    CopyRegistryPath(RegistryPath);

    PELVANE_WDF_BIND_INFO* bind = &BindInfo;
    NTSTATUS status = WdfVersionBind(DriverObject, &RegistryPathCopy, bind, &WdfDriverGlobals);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    status = DriverEntry(DriverObject, RegistryPath);
    if (!NT_SUCCESS(status)) {
        WdfVersionUnbind(&RegistryPathCopy, &BindInfo, WdfDriverGlobals);
        return status;
    }
    // The framework installs its own unload routine in WdfDriverCreate; run it first, then
    // unbind.
    DisplacedUnload = DriverObject->DriverUnload;
    DriverObject->DriverUnload = FxStubDriverUnload;
    return status;
}
