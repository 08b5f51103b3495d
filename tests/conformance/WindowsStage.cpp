// The conformance stage on Windows: the test device is a message-mode named pipe served by this
// process, and the registry is written through the registry's own writer.

#include <cstdio>

#include "Stage.h"

namespace {

constexpr const wchar_t* PipePath = L"\\\\.\\pipe\\ostrel-conformance";

class WindowsStage : public Stage {
  public:
    ~WindowsStage() override {
        if (server != INVALID_HANDLE_VALUE)
            CloseHandle(server);
    }

    HANDLE OpenDevice(DWORD access) override {
        if (server != INVALID_HANDLE_VALUE)
            CloseHandle(server);
        server = CreateNamedPipeW(PipePath, PIPE_ACCESS_DUPLEX,
                                  PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                  PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
        HANDLE file = CreateFileW(PipePath, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        const DWORD error = GetLastError();
        ConnectNamedPipe(server, nullptr); // ERROR_PIPE_CONNECTED: the client came first
        SetLastError(error);
        return file;
    }
    bool CompleteReadEmpty() override {
        DWORD written = 0;
        return WriteFile(server, "", 0, &written, nullptr) != FALSE;
    }
    int NextWrittenFrame() override {
        char frame[256];
        DWORD got = 0;
        return ReadFile(server, frame, sizeof frame, &got, nullptr) ? static_cast<int>(got) : -1;
    }
    std::wstring MissingDevicePath() override { return L"\\\\.\\pipe\\ostrel-conformance-none"; }

    bool SetValue(const std::wstring& subKey, const std::wstring& name, DWORD type,
                  const void* data, DWORD bytes) override {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                            nullptr, &key, nullptr) != ERROR_SUCCESS)
            return false;
        const LSTATUS status =
            RegSetValueExW(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), bytes);
        RegCloseKey(key);
        return status == ERROR_SUCCESS;
    }
    void DeleteKey(const std::wstring& subKey) override {
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, subKey.c_str());
    }
    void RemoveFile(const char* windowsPath) override { std::remove(windowsPath); }
    bool UnderWine() const override {
        HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }

  private:
    HANDLE server = INVALID_HANDLE_VALUE;
};

} // namespace

Stage& TheStage() {
    static WindowsStage stage;
    return stage;
}
