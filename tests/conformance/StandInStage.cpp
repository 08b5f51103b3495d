// The conformance stage on the stand-in: a private host root, a device served by a driver thread
// of this process over the stand-in's endpoints, and the registry's test-side writer.

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "Stage.h"
#include "winhost/Devices.h"
#include "winhost/Registry.h"

namespace {

constexpr GUID TestClass = {
    0x5a1c0f3e, 0x7b42, 0x4d1e, {0x9a, 0x60, 0x12, 0x34, 0x56, 0x78, 0x9a, 0xbc}};

class StandInStage : public Stage {
  public:
    StandInStage() {
        char pattern[] = "/tmp/winhost-conformance-XXXXXX";
        root = mkdtemp(pattern);
        setenv("WINHOST_ROOT", root.c_str(), 1);
        std::filesystem::create_directories(root + "/drive_c/ProgramData");
        listener = winhost::ListenEndpoint(endpoint);
        record = winhost::PublishInterface(TestClass, Path, endpoint, 0);
        acceptor = std::thread([this] { Accept(); });
    }
    ~StandInStage() override {
        stopping = true;
        acceptor.join();
        winhost::WithdrawInterface(record);
        close(listener);
        std::error_code error;
        std::filesystem::remove_all(root, error);
    }

    HANDLE OpenDevice(DWORD access) override {
        std::wstring path(Path, Path + std::char_traits<char>::length(Path));
        return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    bool CompleteReadEmpty() override { return send(Last(), "", 0, MSG_NOSIGNAL) == 0; }
    int NextWrittenFrame() override {
        pollfd ready{Last(), POLLIN, 0};
        if (poll(&ready, 1, 1000) <= 0)
            return -1;
        char frame[256];
        return static_cast<int>(recv(Last(), frame, sizeof frame, 0));
    }
    std::wstring MissingDevicePath() override { return L"\\\\?\\ROOT#NOTHING#0000#{0}"; }

    bool SetValue(const std::wstring& subKey, const std::wstring& name, DWORD type,
                  const void* data, DWORD bytes) override {
        return winhost::SetRegistryValue(subKey, name, data, bytes, type);
    }
    void DeleteKey(const std::wstring& subKey) override { winhost::DeleteRegistryKey(subKey); }
    void RemoveFile(const char* windowsPath) override {
        std::remove(winhost::MapWindowsPath(windowsPath).c_str());
    }
    bool UnderWine() const override { return false; }

  private:
    static constexpr const char* Path = "\\\\?\\ROOT#CONFORMANCE#0000#{5a1c0f3e}";

    void Accept() {
        while (!stopping) {
            pollfd ready{listener, POLLIN, 0};
            if (poll(&ready, 1, 20) <= 0)
                continue;
            int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            // The file is the stage's last one before its open completes, so the case that
            // opened it never reaches the previous file.
            {
                std::lock_guard guard(lock);
                if (last >= 0)
                    close(last);
                last = fd;
            }
            winhost::CompleteOpen(fd, 0);
        }
        std::lock_guard guard(lock);
        if (last >= 0)
            close(last);
    }
    int Last() {
        std::lock_guard guard(lock);
        return last;
    }

    std::string root;
    std::string endpoint;
    std::string record;
    int listener = -1;
    std::mutex lock;
    int last = -1;
    std::atomic<bool> stopping{false};
    std::thread acceptor;
};

} // namespace

Stage& TheStage() {
    static StandInStage stage;
    return stage;
}
