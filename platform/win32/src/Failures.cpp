// One-shot failures that tests set up to reach the callers' error paths.

#include <map>

#include "Objects.h"
#include "winhost/Books.h"

namespace winhost {
namespace {

std::mutex failuresLock;
std::map<Failure, DWORD>& Pending() {
    static auto* pending = new std::map<Failure, DWORD>;
    return *pending;
}

DWORD readDelay = 0;

} // namespace

void DelayNextRead(DWORD milliseconds) {
    std::lock_guard guard(failuresLock);
    readDelay = milliseconds;
}

DWORD TakeReadDelay() {
    std::lock_guard guard(failuresLock);
    DWORD delay = readDelay;
    readDelay = 0;
    return delay;
}

void FailNext(Failure operation, DWORD error) {
    std::lock_guard guard(failuresLock);
    Pending()[operation] = error;
}

void ClearFailures() {
    std::lock_guard guard(failuresLock);
    Pending().clear();
    readDelay = 0;
}

bool TakeFailure(Failure operation) {
    DWORD error = 0;
    {
        std::lock_guard guard(failuresLock);
        auto found = Pending().find(operation);
        if (found == Pending().end())
            return false;
        error = found->second;
        Pending().erase(found);
    }
    SetLastError(error);
    return true;
}

} // namespace winhost
