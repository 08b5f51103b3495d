// Tagged pool, counted by tag in the books.
#include "State.h"

#include <cstdlib>
#include <cstring>

using namespace kmdf;

namespace {

PVOID Allocate(SIZE_T bytes, ULONG tag, bool zero, bool paged, const char* routine) {
    if (tag == 0) {
        BugCheck(std::string(routine) + ": pool must be tagged");
    }
    if (paged && PagedPoolFenced()) {
        BugCheck(std::string(routine) + ": paged pool in a power callback of a stack that is "
                                        "not power pageable");
    }
    if (!NT_SUCCESS(InjectedFailure(routine)) || bytes == 0) {
        return nullptr;
    }
    void* p = AllocatePoolBlock(bytes, paged);
    std::memset(p, zero ? 0 : 0xA5, bytes);
    auto& s = Current();
    std::lock_guard guard(s.lock);
    s.pool[p] = {tag, bytes, paged, p, CallbackScope::OwnerNow()};
    return p;
}

void Free(PVOID p, ULONG tag, bool checkTag) {
    auto& s = Current();
    std::lock_guard guard(s.lock);
    auto it = s.pool.find(p);
    if (it == s.pool.end()) {
        BugCheck("ExFreePool: not a pool allocation, or freed twice");
    }
    if (checkTag && it->second.tag != tag) {
        BugCheck("ExFreePoolWithTag: tag does not match the allocation");
    }
    PoolBlock block = it->second;
    s.pool.erase(it);
    FreePoolBlock(p, block);
}

} // namespace

PVOID ExAllocatePool2(POOL_FLAGS Flags, SIZE_T NumberOfBytes, ULONG Tag) {
    SwitchPoint("ExAllocatePool2");
    if ((Flags & (POOL_FLAG_PAGED | POOL_FLAG_NON_PAGED)) == 0) {
        BugCheck("ExAllocatePool2: no pool type in the flags");
    }
    return Allocate(NumberOfBytes, Tag, (Flags & POOL_FLAG_UNINITIALIZED) == 0,
                    (Flags & POOL_FLAG_PAGED) != 0, "ExAllocatePool2");
}

PVOID ExAllocatePoolWithTag(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG Tag) {
    SwitchPoint("ExAllocatePoolWithTag");
    return Allocate(NumberOfBytes, Tag, false, PoolType == PagedPool, "ExAllocatePoolWithTag");
}

VOID ExFreePoolWithTag(PVOID P, ULONG Tag) {
    SwitchPoint("ExFreePoolWithTag");
    Free(P, Tag, true);
}
VOID ExFreePool(PVOID P) {
    SwitchPoint("ExFreePool");
    Free(P, 0, false);
}
