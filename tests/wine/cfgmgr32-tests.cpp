// The test-only configuration manager through the DLL that Wine loads in its place: the list
// read from mcu-sim.exe's interface file, as the tool's two calls see it. Run under Wine with
// the DLL beside this program and WINEDLLOVERRIDES=cfgmgr32=n, while no mcu-sim.exe runs.
#include <cstring>
#include <string>

#include <windows.h>

#include <cfgmgr32.h>

#include "ChildProcess.h"
#include "Check.h"

namespace {

using SizeCall = CONFIGRET(WINAPI*)(PULONG, LPGUID, DEVINSTID_W, ULONG);
using ListCall = CONFIGRET(WINAPI*)(LPGUID, DEVINSTID_W, PZZWSTR, ULONG, ULONG);

GUID McuInterfaceClass = {
    0xDD0EBEDB, 0xF1D6, 0x4CFA, {0xAC, 0xCA, 0x71, 0xE6, 0x6D, 0x31, 0x78, 0xCA}};
GUID OtherClass = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

// A multi-string literal as the list holds it, its embedded NULs included.
template <size_t N> std::wstring Units(const wchar_t (&text)[N]) {
    return std::wstring(text, N - 1);
}

SizeCall Size = nullptr;
ListCall List = nullptr;

template <typename Call> bool Find(HMODULE dll, const char* name, Call& call) {
    FARPROC found = GetProcAddress(dll, name);
    std::memcpy(&call, &found, sizeof call);
    return found != nullptr;
}

void WriteInterfaceFile(const std::string& text) {
    CreateDirectoryW(L"C:\\mcusim", nullptr);
    HANDLE file = CreateFileW(L"C:\\mcusim\\interfaces", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    CHECK(file != INVALID_HANDLE_VALUE);
    CHECK(WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
    CloseHandle(file);
}

// The list of `interfaceClass` as the size call counts it and the list call returns it into a
// buffer of exactly that size; "?" when either call fails.
std::wstring ListOf(GUID& interfaceClass) {
    ULONG length = 0;
    if (Size(&length, &interfaceClass, nullptr, 0) != CR_SUCCESS || length == 0)
        return L"?";
    std::wstring buffer(length, L'#');
    if (List(&interfaceClass, nullptr, buffer.data(), length, 0) != CR_SUCCESS)
        return L"?";
    return buffer;
}

void EmptyLists() {
    Case("no interface file, an empty one and another class: the empty list");
    DeleteFileW(L"C:\\mcusim\\interfaces");
    const std::wstring empty(1, L'\0');
    CHECK(ListOf(McuInterfaceClass) == empty);
    WriteInterfaceFile("");
    CHECK(ListOf(McuInterfaceClass) == empty);
    WriteInterfaceFile("\\\\.\\pipe\\A\n");
    CHECK(ListOf(OtherClass) == empty);
}

void SeveralInterfaces() {
    Case("several interfaces: CRLF, blank lines and a last line without its end");
    WriteInterfaceFile("\\\\.\\pipe\\A\r\n\r\n\\\\.\\pipe\\BB\n\n\\\\.\\pipe\\C");
    CHECK(ListOf(McuInterfaceClass) ==
          Units(L"\\\\.\\pipe\\A\0\\\\.\\pipe\\BB\0\\\\.\\pipe\\C\0\0"));
}

void BufferSizes() {
    Case("a buffer one unit short, exact or larger");
    WriteInterfaceFile("\\\\.\\pipe\\A\n\\\\.\\pipe\\B\n");
    ULONG length = 0;
    CHECK(Size(&length, &McuInterfaceClass, nullptr, 0) == CR_SUCCESS);
    const std::wstring expected = Units(L"\\\\.\\pipe\\A\0\\\\.\\pipe\\B\0\0");
    CHECK(length == expected.size());
    WCHAR buffer[64];
    CHECK(List(&McuInterfaceClass, nullptr, buffer, length - 1, 0) == CR_BUFFER_SMALL);
    CHECK(List(&McuInterfaceClass, nullptr, buffer, length, 0) == CR_SUCCESS);
    CHECK(std::wstring(buffer, length) == expected);
    CHECK(List(&McuInterfaceClass, nullptr, buffer, 64, 0) == CR_SUCCESS);
    CHECK(List(&McuInterfaceClass, nullptr, buffer, 1, 0) == CR_BUFFER_SMALL);
    CHECK(Size(nullptr, &McuInterfaceClass, nullptr, 0) == CR_INVALID_POINTER);
    CHECK(List(&McuInterfaceClass, nullptr, nullptr, length, 0) == CR_INVALID_POINTER);
}

} // namespace

int wmain() {
    Case("the test DLL beside this program, not Wine's stub");
    const HMODULE dll = LoadLibraryW((ProgramFolder() + L"cfgmgr32.dll").c_str());
    CHECK(dll != nullptr);
    if (dll == nullptr || !CHECK(Find(dll, "CM_Get_Device_Interface_List_SizeW", Size)) ||
        !CHECK(Find(dll, "CM_Get_Device_Interface_ListW", List)))
        return Summary("cfgmgr32-tests");
    EmptyLists();
    SeveralInterfaces();
    BufferSizes();
    DeleteFileW(L"C:\\mcusim\\interfaces");
    return Summary("cfgmgr32-tests");
}
