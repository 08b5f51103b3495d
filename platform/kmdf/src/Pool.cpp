// Tagged pool, counted by tag in the books.
#include "State.h"

#include <cstdlib>
#include <cstring>

using namespace kmdf;

namespace {

PVOID Allocate(SIZE_T bytes, ULONG tag, bool zero, const char* routine) {
    if (tag == 0) {
        BugCheck(std::string(routine) + ": pool must be tagged");
    }
    if (!NT_SUCCESS(InjectedFailure(routine)) || bytes == 0) {
        return nullptr;
    }
    void* p = std::malloc(bytes);
    std::memset(p, zero ? 0 : 0xA5, bytes);
    auto& s = Current();
    std::lock_guard guard(s.lock);
    s.pool[p] = {tag, bytes};
    return p;
}

void Free(PVOID p, ULONG tag, bool checkTag) {
    auto& s = Current();
    std::lock_guard guard(s.lock);
    auto it = s.pool.find(p);
    if (it == s.pool.end()) {
        BugCheck("ExFreePool: not a pool allocation, or freed twice");
    }
    if (checkTag && it->second.first != tag) {
        BugCheck("ExFreePoolWithTag: tag does not match the allocation");
    }
    s.pool.erase(it);
    std::free(p);
}

} // namespace

PVOID ExAllocatePool2(POOL_FLAGS Flags, SIZE_T NumberOfBytes, ULONG Tag) {
    if ((Flags & (POOL_FLAG_PAGED | POOL_FLAG_NON_PAGED)) == 0) {
        BugCheck("ExAllocatePool2: no pool type in the flags");
    }
    return Allocate(NumberOfBytes, Tag, (Flags & POOL_FLAG_UNINITIALIZED) == 0, "ExAllocatePool2");
}

PVOID ExAllocatePoolWithTag(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG Tag) {
    UNREFERENCED_PARAMETER(PoolType);
    return Allocate(NumberOfBytes, Tag, false, "ExAllocatePoolWithTag");
}

VOID ExFreePoolWithTag(PVOID P, ULONG Tag) {
    Free(P, Tag, true);
}
VOID ExFreePool(PVOID P) {
    Free(P, 0, false);
}
