#include "channel/McuDevice.h"

#include <cfgmgr32.h>

#include <memory>
#include <new>
#include <string>

#include "log/Log.h"

const GUID McuInterfaceClass = {
    0xDD0EBEDB, 0xF1D6, 0x4CFA, {0xAC, 0xCA, 0x71, 0xE6, 0x6D, 0x31, 0x78, 0xCA}};

namespace {

// Copies `source` into the path buffer, at most McuDevicePathUnits - 1 characters and the
// terminator. False when the source does not fit; the buffer then holds its truncated start.
bool CopyDevicePath(PWSTR path, const WCHAR* source) {
    size_t i = 0;
    for (; i < McuDevicePathUnits - 1 && source[i] != 0; ++i)
        path[i] = source[i];
    path[i] = 0;
    return source[i] == 0;
}

} // namespace

bool GetMcuDevicePath(PWSTR path) {
    LPGUID interfaceClass = const_cast<LPGUID>(&McuInterfaceClass);
    ULONG size = 0;
    CONFIGRET result = CM_Get_Device_Interface_List_SizeW(&size, interfaceClass, nullptr,
                                                          CM_GET_DEVICE_INTERFACE_LIST_PRESENT);
    if (result != CR_SUCCESS) {
        LogError("Error retrieving device interface list size." + std::to_string(result));
        return false;
    }
    if (size <= 1) {
        LogError("Error: No active device found.Is the sample driver loaded?");
        return false;
    }

    // One unit more than asked for, never written by the query, so that every scan of the list
    // ends inside the buffer whatever the query left in it.
    std::unique_ptr<WCHAR[]> list(new (std::nothrow) WCHAR[size + 1]());
    if (!list)
        return false;

    result = CM_Get_Device_Interface_ListW(interfaceClass, nullptr, list.get(), size,
                                           CM_GET_DEVICE_INTERFACE_LIST_PRESENT);
    if (result != CR_SUCCESS) {
        LogError("Error retrieving device interface list.\n" + std::to_string(result));
        return false;
    }

    // The list is NUL-terminated strings ended by an empty one: a second string starts right
    // after the first one's terminator.
    size_t firstLength = 0;
    while (list[firstLength] != 0)
        ++firstLength;
    if (firstLength + 1 < size && list[firstLength + 1] != 0)
        LogError("Warning: More than one interface found.Selecting first matching device.\n");

    if (!CopyDevicePath(path, list.get())) {
        LogError("Error: StringCchCopy failed with HRESULT ");
        return false;
    }
    return true;
}

HANDLE OpenMcuDevice() {
    WCHAR path[McuDevicePathUnits] = {};
    if (!GetMcuDevicePath(path))
        return INVALID_HANDLE_VALUE;

    // No FILE_FLAG_OVERLAPPED: every read and write on the handle is synchronous.
    HANDLE device =
        CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        LogError("Failed to open the device, error - " + std::to_string(error));
        return INVALID_HANDLE_VALUE;
    }
    LogDebug("Opened the device successfully.\n");
    return device;
}
