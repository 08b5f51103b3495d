// Device files: CreateFileW on a published interface path, and synchronous ReadFile and WriteFile
// on the handle. A call in progress can be cancelled from another thread with
// CancelSynchronousIo; it then fails with ERROR_OPERATION_ABORTED.

#include <cerrno>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "Endpoints.h"
#include "Objects.h"
#include "winhost/Books.h"

namespace winhost {

DeviceObject::~DeviceObject() {
    if (fd >= 0)
        close(fd);
}

namespace {

// How long an open waits for the driver to complete it.
constexpr int OpenCompletionMs = 5000;

DWORD ErrorFromSocket(int error) {
    switch (error) {
    case EPIPE:
    case ECONNRESET:
    case ENOTCONN:
        return ERROR_DEVICE_NOT_CONNECTED;
    case ENOMEM:
    case ENOBUFS:
        return ERROR_NOT_ENOUGH_MEMORY;
    default:
        return ERROR_GEN_FAILURE;
    }
}

// Receives the driver's open status; returns the error code or 0.
DWORD ReceiveOpenStatus(int fd) {
    pollfd ready{fd, POLLIN, 0};
    int result;
    do {
        result = poll(&ready, 1, OpenCompletionMs);
    } while (result < 0 && errno == EINTR);
    if (result <= 0)
        return ERROR_GEN_FAILURE;
    uint8_t bytes[4];
    ssize_t got = recv(fd, bytes, sizeof bytes, 0);
    if (got != sizeof bytes)
        return got == 0 ? ERROR_FILE_NOT_FOUND : ERROR_GEN_FAILURE;
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<DWORD>(bytes[3]) << 24;
}

enum class IoWait { Ready, Cancelled, Failed };

// Blocks until `fd` is ready for `events` or the calling thread's I/O is cancelled.
IoWait WaitForDevice(int fd, short events) {
    std::shared_ptr<ThreadIo> io = CurrentThreadIo();
    {
        std::lock_guard guard(io->lock);
        io->pending = true;
    }
    pollfd ready[2] = {{fd, events, 0}, {io->cancelFd, POLLIN, 0}};
    int result;
    do {
        result = poll(ready, 2, -1);
    } while (result < 0 && errno == EINTR);

    std::lock_guard guard(io->lock);
    io->pending = false;
    uint64_t count = 0;
    // A cancel that came while the call was pending wins; it is consumed here either way, so it
    // never reaches a later call.
    bool cancelled = read(io->cancelFd, &count, sizeof count) == sizeof count;
    if (cancelled)
        return IoWait::Cancelled;
    return result < 0 ? IoWait::Failed : IoWait::Ready;
}

// The wait of a synchronous read or write: false, with the thread's last error set, when the
// thread's I/O was cancelled (995) or the wait itself failed.
bool AwaitDevice(int fd, short events) {
    switch (WaitForDevice(fd, events)) {
    case IoWait::Ready:
        return true;
    case IoWait::Cancelled:
        SetLastError(ERROR_OPERATION_ABORTED);
        return false;
    case IoWait::Failed:
        break;
    }
    SetLastError(ERROR_GEN_FAILURE);
    return false;
}

// The device behind `handle` when it was opened with one of the rights in `access`; otherwise
// null, with ERROR_INVALID_HANDLE or ERROR_ACCESS_DENIED.
std::shared_ptr<DeviceObject> DeviceFor(HANDLE handle, DWORD access) {
    auto device = LookUp<DeviceObject>(handle);
    if (!device) {
        SetLastError(ERROR_INVALID_HANDLE);
    } else if ((device->access & (access | GENERIC_ALL)) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return device;
}

// A receive of 0 bytes is either an empty frame or the driver's close; the hang-up tells them
// apart.
bool PeerClosed(int fd) {
    pollfd state{fd, POLLRDHUP, 0};
    return poll(&state, 1, 0) > 0 && (state.revents & (POLLRDHUP | POLLHUP)) != 0;
}

} // namespace
} // namespace winhost

using namespace winhost;

HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD, LPSECURITY_ATTRIBUTES,
                          DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE) {
    if (TakeFailure(Failure::CreateFile))
        return INVALID_HANDLE_VALUE;
    if (!lpFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    // Only device files are served here, synchronously.
    if (dwFlagsAndAttributes & FILE_FLAG_OVERLAPPED) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return INVALID_HANDLE_VALUE;
    }
    InterfaceRecord record;
    if (!FindInterface(NarrowPath(lpFileName), record)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (dwCreationDisposition != OPEN_EXISTING && dwCreationDisposition != OPEN_ALWAYS) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    int fd = ConnectEndpoint(record.endpoint);
    if (fd < 0) {
        // The driver went away after the list was taken.
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    DWORD status = ReceiveOpenStatus(fd);
    if (status != 0) {
        close(fd);
        SetLastError(status);
        return INVALID_HANDLE_VALUE;
    }
    auto device = std::make_shared<DeviceObject>();
    device->fd = fd;
    device->access = dwDesiredAccess;
    SetLastError(ERROR_SUCCESS);
    return InsertHandle(device);
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                     LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
    auto device = DeviceFor(hFile, GENERIC_READ | FILE_READ_DATA);
    if (!device)
        return FALSE;
    if (lpOverlapped || !lpNumberOfBytesRead) {
        SetLastError(lpOverlapped ? ERROR_INVALID_PARAMETER : ERROR_NOACCESS);
        return FALSE;
    }
    *lpNumberOfBytesRead = 0;
    if (DWORD delay = TakeReadDelay())
        Sleep(delay);
    for (;;) {
        if (!AwaitDevice(device->fd, POLLIN))
            return FALSE;
        // One receive is one frame; a frame longer than the buffer is cut to the buffer.
        ssize_t got = recv(device->fd, lpBuffer, nNumberOfBytesToRead, MSG_DONTWAIT);
        if (got > 0 || (got == 0 && !PeerClosed(device->fd))) {
            // A read the driver completed with no data succeeds with 0 bytes.
            *lpNumberOfBytesRead = static_cast<DWORD>(got);
            return TRUE;
        }
        if (got == 0) {
            // The driver closed the file: the device is gone.
            SetLastError(ERROR_DEVICE_NOT_CONNECTED);
            return FALSE;
        }
        if (errno != EAGAIN && errno != EINTR) {
            SetLastError(ErrorFromSocket(errno));
            return FALSE;
        }
    }
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
    auto device = DeviceFor(hFile, GENERIC_WRITE | FILE_WRITE_DATA);
    if (!device)
        return FALSE;
    if (lpOverlapped || !lpNumberOfBytesWritten) {
        SetLastError(lpOverlapped ? ERROR_INVALID_PARAMETER : ERROR_NOACCESS);
        return FALSE;
    }
    *lpNumberOfBytesWritten = 0;
    if (TakeFailure(Failure::WriteFile))
        return FALSE;
    // An empty frame would read as a close at the driver's end; a zero-length write completes
    // with nothing written and the file stays open.
    if (nNumberOfBytesToWrite == 0)
        return TRUE;
    for (;;) {
        if (!AwaitDevice(device->fd, POLLOUT))
            return FALSE;
        ssize_t sent =
            send(device->fd, lpBuffer, nNumberOfBytesToWrite, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent >= 0) {
            *lpNumberOfBytesWritten = static_cast<DWORD>(sent);
            return TRUE;
        }
        if (errno != EAGAIN && errno != EINTR) {
            SetLastError(ErrorFromSocket(errno));
            return FALSE;
        }
    }
}
