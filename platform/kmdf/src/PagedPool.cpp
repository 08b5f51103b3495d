// Host memory behind pool blocks. Paged blocks get pages of their own, so that a power
// callback of a stack that is not power pageable can be made to fault on any touch of them:
// while such a callback runs, paging I/O may be unavailable and a paged page may be out.
#include "State.h"

#include <sys/mman.h>
#include <unistd.h>

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
    }
}

} // namespace kmdf

VOID KmdfStandInPagedCode(PCSTR function) {
    if (kmdf::PagedPoolFenced()) {
        kmdf::BugCheck(std::string(function) + ": pageable code in a power callback of a stack "
                                               "that is not power pageable");
    }
}
