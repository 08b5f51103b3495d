// Auxiliary kernel library: the system firmware tables that the machine was given.
#include "State.h"

#include <cstring>

using namespace kmdf;

NTSTATUS AuxKlibInitialize(VOID) {
    SwitchPoint("AuxKlibInitialize");
    NTSTATUS status = InjectedFailure("AuxKlibInitialize");
    if (!NT_SUCCESS(status)) {
        return status;
    }
    auto& s = Current();
    std::lock_guard guard(s.lock);
    s.auxKlibInitialized = true;
    return STATUS_SUCCESS;
}

NTSTATUS AuxKlibGetSystemFirmwareTable(ULONG FirmwareTableProviderSignature, ULONG FirmwareTableID,
                                       PVOID FirmwareTableBuffer, ULONG BufferLength,
                                       PULONG ReturnLength) {
    SwitchPoint("AuxKlibGetSystemFirmwareTable");
    auto& s = Current();
    std::lock_guard guard(s.lock);
    if (!s.auxKlibInitialized) {
        BugCheck("AuxKlibGetSystemFirmwareTable before AuxKlibInitialize");
    }
    if (ReturnLength != nullptr) {
        *ReturnLength = 0;
    }
    NTSTATUS status = InjectedFailure("AuxKlibGetSystemFirmwareTable");
    if (!NT_SUCCESS(status)) {
        return status;
    }
    auto it = s.firmwareTables.find({FirmwareTableProviderSignature, FirmwareTableID});
    if (it == s.firmwareTables.end()) {
        return STATUS_NOT_FOUND;
    }
    auto size = static_cast<ULONG>(it->second.size());
    if (ReturnLength != nullptr) {
        *ReturnLength = size;
    }
    if (FirmwareTableBuffer == nullptr || BufferLength < size) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    std::memcpy(FirmwareTableBuffer, it->second.data(), size);
    return STATUS_SUCCESS;
}
