// Host memory behind pool blocks. Paged blocks get pages of their own, so that a power
// callback of a stack that is not power pageable can be made to fault on any touch of them:
// while such a callback runs, paging I/O may be unavailable and a paged page may be out.
// That callback's own touch never completes (its paging I/O waits for the callback), which
// ends the process; any other thread's touch waits, as a page fault at passive level waits
// for its paging I/O, until no such callback runs any more.
#include "State.h"

#include <signal.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace kmdf {

namespace {

std::size_t PageRound(std::size_t bytes) {
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return (bytes + page - 1) / page * page;
}

void Protect(const PoolBlock& block, int protection) {
    // The block's own pages start at its address.
    mprotect(block.host, PageRound(block.bytes), protection);
}

// The fenced pages, for the fault handler, which takes no lock: written before the fence goes
// up and left alone until it is down again.
constexpr std::size_t kMaxFenced = 4096;
std::uintptr_t g_fencedBegin[kMaxFenced];
std::uintptr_t g_fencedEnd[kMaxFenced];
std::size_t g_fencedCount = 0;
std::atomic<bool> g_fenceUp{false};
struct sigaction g_previousFault;
std::atomic<bool> g_handlerInstalled{false};

bool Fenced(std::uintptr_t address) {
    for (std::size_t i = 0; i < g_fencedCount; ++i) {
        if (address >= g_fencedBegin[i] && address < g_fencedEnd[i]) {
            return true;
        }
    }
    return false;
}

bool FencedHere();

// Another thread's touch of a fenced page waits until the fence is down, then is made again.
// Everything else is what it was before: the previous handler, or the default, ends the
// process when the access is made again.
void OnFault(int signal, siginfo_t* info, void* context) {
    (void)signal;
    (void)context;
    auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    if (!FencedHere() && g_fenceUp.load() && Fenced(address)) {
        while (g_fenceUp.load()) {
            Machine::State& s = Current();
            if (s.hardware->Scheduled()) {
                s.hardware->Blocked("a page of paged pool, its paging I/O held up");
            } else {
                timespec pause{0, 1'000'000};
                nanosleep(&pause, nullptr);
            }
        }
        return;
    }
    sigaction(SIGSEGV, &g_previousFault, nullptr);
    g_handlerInstalled.store(false);
}

void InstallFaultHandler() {
    if (g_handlerInstalled.exchange(true)) {
        return;
    }
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = OnFault;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    sigaction(SIGSEGV, &action, &g_previousFault);
}

} // namespace

void* AllocatePoolBlock(std::size_t bytes, bool paged) {
    if (!paged) {
        return std::malloc(bytes);
    }
    void* p =
        mmap(nullptr, PageRound(bytes), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

void FreePoolBlock(void* p, const PoolBlock& block) {
    if (block.paged) {
        munmap(p, PageRound(block.bytes));
    } else {
        std::free(p);
    }
}

namespace {
// Power callbacks of stacks that are not power pageable running on this thread. What such a
// callback calls is its own; the paged blocks are fenced off for every thread meanwhile.
thread_local int fencedHere = 0;
bool FencedHere() {
    return fencedHere > 0;
}
} // namespace

bool PagedPoolFenced() {
    return fencedHere > 0;
}

PowerPathScope::PowerPathScope(bool pageable) : active_(!pageable) {
    if (!active_) {
        return;
    }
    ++fencedHere;
    auto& s = Current();
    std::lock_guard guard(s.lock);
    if (s.pagedPoolFence++ == 0) {
        InstallFaultHandler();
        g_fencedCount = 0;
        for (auto& [p, block] : s.pool) {
            if (block.paged && g_fencedCount < kMaxFenced) {
                auto begin = reinterpret_cast<std::uintptr_t>(block.host);
                g_fencedBegin[g_fencedCount] = begin;
                g_fencedEnd[g_fencedCount] = begin + PageRound(block.bytes);
                ++g_fencedCount;
            }
        }
        g_fenceUp.store(true);
        for (auto& [p, block] : s.pool) {
            if (block.paged) {
                Protect(block, PROT_NONE);
            }
        }
    }
}

PowerPathScope::~PowerPathScope() {
    if (!active_) {
        return;
    }
    --fencedHere;
    auto& s = Current();
    std::lock_guard guard(s.lock);
    if (--s.pagedPoolFence == 0) {
        for (auto& [p, block] : s.pool) {
            if (block.paged) {
                Protect(block, PROT_READ | PROT_WRITE);
            }
        }
        g_fenceUp.store(false);
    }
}

} // namespace kmdf

VOID KmdfStandInPagedCode(PCSTR function) {
    if (kmdf::PagedPoolFenced()) {
        kmdf::BugCheck(std::string(function) + ": pageable code in a power callback of a stack "
                                               "that is not power pageable");
    }
}
