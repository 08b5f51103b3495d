// Framework memory objects. Their buffers come from tagged pool and, as on the real
// framework, are not zeroed: the stand-in fills them with a pattern to expose reliance on it.
#include "State.h"

#include <cstdlib>
#include <cstring>

using namespace kmdf;

NTSTATUS WdfMemoryCreate(PWDF_OBJECT_ATTRIBUTES Attributes, POOL_TYPE PoolType, ULONG PoolTag,
                         SIZE_T BufferSize, WDFMEMORY* Memory, PVOID* Buffer) {
    SwitchPoint("WdfMemoryCreate");
    if (Memory == nullptr) {
        BugCheck("WdfMemoryCreate: no out-handle");
    }
    *Memory = nullptr;
    if (Buffer != nullptr) {
        *Buffer = nullptr;
    }
    if (BufferSize == 0) {
        return STATUS_INVALID_PARAMETER;
    }
    if (PoolType != NonPagedPool && PoolType != PagedPool && PoolType != NonPagedPoolNx) {
        return STATUS_INVALID_PARAMETER;
    }
    const bool paged = PoolType == PagedPool;
    if (paged && PagedPoolFenced()) {
        BugCheck("WdfMemoryCreate: paged pool in a power callback of a stack that is not power "
                 "pageable");
    }
    NTSTATUS status = InjectedFailure("WdfMemoryCreate");
    if (!NT_SUCCESS(status)) {
        return status;
    }
    auto& s = Current();
    auto* m = new MemoryImpl;
    m->size = BufferSize;
    m->tag = PoolTag != 0 ? PoolTag : (s.driver != nullptr ? s.driver->config.DriverPoolTag : 0);
    m->buffer = AllocatePoolBlock(BufferSize, paged);
    std::memset(m->buffer, 0xA5, BufferSize);
    {
        std::lock_guard guard(s.lock);
        s.pool[m->buffer] = {m->tag, BufferSize, paged, m->buffer, CallbackScope::OwnerNow()};
    }
    Attach(m, Attributes, s.driver, "WdfMemoryCreate");
    *Memory = reinterpret_cast<WDFMEMORY>(static_cast<kmdf::Object*>(m));
    if (Buffer != nullptr) {
        *Buffer = m->buffer;
    }
    return STATUS_SUCCESS;
}

PVOID WdfMemoryGetBuffer(WDFMEMORY Memory, SIZE_T* BufferSize) {
    SwitchPoint("WdfMemoryGetBuffer");
    auto* m = LookupAs<MemoryImpl>(Memory, ObjectKind::Memory, "WdfMemoryGetBuffer");
    if (BufferSize != nullptr) {
        *BufferSize = m->size;
    }
    return m->buffer;
}
