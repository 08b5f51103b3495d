// The two configuration-manager calls of the tool, answered from the interface list that
// mcu-sim.exe writes (one pipe path a line). Only the MCU interface class has interfaces.

#include <windows.h>

#include <cfgmgr32.h>

namespace {

const GUID McuInterfaceClass = {
    0xDD0EBEDB, 0xF1D6, 0x4CFA, {0xAC, 0xCA, 0x71, 0xE6, 0x6D, 0x31, 0x78, 0xCA}};

constexpr DWORD ListBytes = 16384;

// The list as the call returns it: NUL-terminated paths, then an empty string. Returns the
// units used, at most `capacity`; 0 when the list does not fit.
ULONG ReadList(const GUID* interfaceClass, WCHAR* out, ULONG capacity) {
    static char text[ListBytes];
    DWORD got = 0;
    if (interfaceClass && IsEqualGUID(*interfaceClass, McuInterfaceClass)) {
        HANDLE file = CreateFileW(L"C:\\mcusim\\interfaces", GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            if (!ReadFile(file, text, sizeof text, &got, nullptr))
                got = 0;
            CloseHandle(file);
        }
    }
    ULONG units = 0;
    bool inPath = false;
    for (DWORD i = 0; i < got; ++i) {
        if (text[i] == '\r')
            continue;
        if (text[i] == '\n' && !inPath)
            continue;
        WCHAR unit = text[i] == '\n' ? 0 : static_cast<WCHAR>(static_cast<unsigned char>(text[i]));
        if (units >= capacity)
            return 0;
        out[units++] = unit;
        inPath = unit != 0;
    }
    if (inPath) {
        if (units >= capacity)
            return 0;
        out[units++] = 0;
    }
    if (units >= capacity)
        return 0;
    out[units++] = 0;
    return units;
}

WCHAR scratch[ListBytes + 2];

} // namespace

extern "C" CONFIGRET WINAPI CM_Get_Device_Interface_List_SizeW(PULONG length, LPGUID interfaceClass,
                                                               DEVINSTID_W, ULONG) {
    if (!length)
        return CR_INVALID_POINTER;
    *length = ReadList(interfaceClass, scratch, ListBytes + 2);
    return *length ? CR_SUCCESS : CR_FAILURE;
}

extern "C" CONFIGRET WINAPI CM_Get_Device_Interface_ListW(LPGUID interfaceClass, DEVINSTID_W,
                                                          PZZWSTR buffer, ULONG length, ULONG) {
    if (!buffer || length == 0)
        return CR_INVALID_POINTER;
    return ReadList(interfaceClass, buffer, length) ? CR_SUCCESS : CR_BUFFER_SMALL;
}
