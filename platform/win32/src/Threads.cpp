// Threads: CreateThread runs the start routine on a detached POSIX thread; the thread object
// becomes signalled when the routine has returned.

#include <atomic>
#include <cerrno>
#include <cstdlib>

#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "Objects.h"
#include "winhost/Books.h"

namespace winhost {
namespace {

std::atomic<size_t> liveThreads{0};
std::atomic<size_t> threadsCreated{0};
std::atomic<DWORD> nextThreadId{1000};
thread_local std::shared_ptr<ThreadIo> currentIo;

void* RunThread(void* argument) {
    // The thread keeps its own object alive until the routine has returned and the end is
    // published, whether or not its handle is still open.
    std::shared_ptr<ThreadObject> self;
    {
        std::unique_ptr<std::shared_ptr<ThreadObject>> holder(
            static_cast<std::shared_ptr<ThreadObject>*>(argument));
        self = std::move(*holder);
    }
    currentIo = self->io;

    DWORD code = self->start(self->parameter);

    {
        std::lock_guard guard(self->lock);
        self->exitCode = code;
        self->ended = true;
        liveThreads.fetch_sub(1);
    }
    self->changed.notify_all();
    currentIo.reset();
    return nullptr;
}

} // namespace

ThreadIo::ThreadIo() {
    cancelFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (cancelFd < 0)
        std::abort();
}

ThreadIo::~ThreadIo() {
    close(cancelFd);
}

std::shared_ptr<ThreadIo> CurrentThreadIo() {
    if (!currentIo)
        currentIo = std::make_shared<ThreadIo>();
    return currentIo;
}

size_t LiveThreads() {
    return liveThreads.load();
}

size_t ThreadsCreated() {
    return threadsCreated.load();
}

} // namespace winhost

using namespace winhost;

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T dwStackSize,
                           LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                           DWORD dwCreationFlags, LPDWORD lpThreadId) {
    if (TakeFailure(Failure::CreateThread))
        return nullptr;
    if (!lpStartAddress || (dwCreationFlags & CREATE_SUSPENDED)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }

    auto thread = std::make_shared<ThreadObject>();
    thread->start = lpStartAddress;
    thread->parameter = lpParameter;

    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    if (dwStackSize)
        pthread_attr_setstacksize(&attributes, dwStackSize < 65536 ? 65536 : dwStackSize);

    HANDLE handle = InsertHandle(thread);
    liveThreads.fetch_add(1);
    auto* argument = new std::shared_ptr<ThreadObject>(thread);
    pthread_t id;
    int error = pthread_create(&id, &attributes, RunThread, argument);
    pthread_attr_destroy(&attributes);
    if (error) {
        delete argument;
        liveThreads.fetch_sub(1);
        RemoveHandle(handle);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    threadsCreated.fetch_add(1);
    if (lpThreadId)
        *lpThreadId = nextThreadId.fetch_add(4);
    return handle;
}

BOOL WINAPI CancelSynchronousIo(HANDLE hThread) {
    auto thread = LookUp<ThreadObject>(hThread);
    if (!thread) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    ThreadIo& io = *thread->io;
    std::lock_guard guard(io.lock);
    if (!io.pending) {
        // Nothing in progress: the cancel is not remembered, so a call that starts later blocks.
        SetLastError(ERROR_NOT_FOUND);
        return FALSE;
    }
    uint64_t one = 1;
    ssize_t written = write(io.cancelFd, &one, sizeof one);
    (void)written;
    return TRUE;
}
