#pragma once

// Kernel objects behind the stand-in's handles, and the handle table.

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include <windows.h>

namespace winhost {

struct KernelObject {
    virtual ~KernelObject() = default;
};

// An object that WaitForSingleObject can wait on. Its state is guarded by `lock`; whoever makes
// it signalled notifies `changed`.
struct Waitable : KernelObject {
    std::mutex lock;
    std::condition_variable changed;

    virtual bool IsSignalledLocked() const = 0;
    // Called after a wait was satisfied (auto-reset events drop back to not signalled).
    virtual void AfterWaitLocked() {}
};

struct EventObject : Waitable {
    bool manualReset = true;
    bool signalled = false;

    bool IsSignalledLocked() const override { return signalled; }
    void AfterWaitLocked() override {
        if (!manualReset)
            signalled = false;
    }
};

// The synchronous I/O state of one thread: CancelSynchronousIo wakes the call in progress
// through `cancelFd` (an eventfd).
struct ThreadIo {
    std::mutex lock;
    bool pending = false;
    int cancelFd = -1;

    ThreadIo();
    ~ThreadIo();
    ThreadIo(const ThreadIo&) = delete;
    ThreadIo& operator=(const ThreadIo&) = delete;
};

// The calling thread's I/O state, made on first use.
std::shared_ptr<ThreadIo> CurrentThreadIo();

struct ThreadObject : Waitable {
    LPTHREAD_START_ROUTINE start = nullptr;
    LPVOID parameter = nullptr;
    std::shared_ptr<ThreadIo> io = std::make_shared<ThreadIo>();
    bool ended = false;
    DWORD exitCode = 0;

    bool IsSignalledLocked() const override { return ended; }
};

struct DeviceObject : KernelObject {
    int fd = -1;
    DWORD access = 0; // the desired access of CreateFileW
    ~DeviceObject() override;
};

HANDLE InsertHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> LookUpHandle(HANDLE handle);
std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle);

template <typename T> std::shared_ptr<T> LookUp(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(LookUpHandle(handle));
}

// One-shot failures set up by tests (see winhost/Books.h). True when the call must fail now; the
// last error has then been set.
enum class Failure;
bool TakeFailure(Failure operation);
// The delay set up with DelayNextRead, taken once (0 when none).
DWORD TakeReadDelay();

} // namespace winhost
