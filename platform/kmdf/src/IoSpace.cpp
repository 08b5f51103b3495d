// I/O space: mappings of the simulated physical address space and the register routines.
// A register mapping reserves inaccessible host address space, so that a stray direct
// access faults at once; the register routines translate to physical addresses and hand
// every access to the hardware model exactly once.
#include "State.h"

#include <atomic>
#include <cstring>
#include <sys/mman.h>

using namespace kmdf;

namespace {

std::size_t PageRound(std::size_t n) {
    return (n + 0xFFF) & ~std::size_t(0xFFF);
}

// Finds the mapping that holds the four bytes at `address`.
Mapping Find(const volatile void* address, const char* routine) {
    auto& s = Current();
    auto a = reinterpret_cast<std::uintptr_t>(address);
    std::lock_guard guard(s.lock);
    for (const Mapping& m : s.mappings) {
        if (a >= m.virtualBase && a - m.virtualBase + 4 <= m.length) {
            if ((a & 3) != 0) {
                BugCheck(std::string(routine) + ": misaligned 32-bit register access");
            }
            return m;
        }
    }
    BugCheck(std::string(routine) + ": access to an address that is not mapped");
}

// A read-only view of firmware memory: the bytes end where an inaccessible page begins, so
// that a read past the mapped length faults at once, and a write faults anywhere.
bool MapReadOnlyView(Mapping& m, const void* bytes) {
    std::size_t pages = PageRound(m.length);
    void* r = mmap(nullptr, pages + 0x1000, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                   -1, 0);
    if (r == MAP_FAILED) {
        return false;
    }
    auto* base = static_cast<unsigned char*>(r);
    mprotect(base, pages, PROT_READ | PROT_WRITE);
    unsigned char* start = base + pages - m.length;
    std::memcpy(start, bytes, m.length);
    mprotect(base, pages, PROT_READ);
    m.reservation = r;
    m.reservationLength = pages + 0x1000;
    m.virtualBase = reinterpret_cast<std::uintptr_t>(start);
    m.readOnly = true;
    return true;
}

} // namespace

PVOID MmMapIoSpaceEx(PHYSICAL_ADDRESS PhysicalAddress, SIZE_T NumberOfBytes, ULONG Protect) {
    SwitchPoint("MmMapIoSpaceEx");
    auto& s = Current();
    if (NumberOfBytes == 0 || (Protect & 0xFF) == 0) {
        return nullptr;
    }
    if (!NT_SUCCESS(InjectedFailure("MmMapIoSpaceEx"))) {
        return nullptr;
    }
    auto physical = static_cast<std::uint64_t>(PhysicalAddress.QuadPart);
    Mapping m;
    m.physical = physical;
    m.length = NumberOfBytes;
    m.kind = s.hardware->Classify(physical, NumberOfBytes);
    if (m.kind == IoSpaceKind::None) {
        return nullptr;
    }
    if (m.kind == IoSpaceKind::Memory && (Protect & 0xFF) == PAGE_READONLY) {
        if (!MapReadOnlyView(m, s.hardware->MemoryAt(physical, NumberOfBytes))) {
            return nullptr;
        }
    } else if (m.kind == IoSpaceKind::Memory) {
        m.virtualBase =
            reinterpret_cast<std::uintptr_t>(s.hardware->MemoryAt(physical, NumberOfBytes));
    } else {
        void* r = mmap(nullptr, PageRound(NumberOfBytes), PROT_NONE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (r == MAP_FAILED) {
            return nullptr;
        }
        m.reservation = r;
        m.reservationLength = PageRound(NumberOfBytes);
        m.virtualBase = reinterpret_cast<std::uintptr_t>(r);
    }
    std::lock_guard guard(s.lock);
    m.owner = CallbackScope::OwnerNow();
    s.mappings.push_back(m);
    return reinterpret_cast<PVOID>(m.virtualBase);
}

VOID MmUnmapIoSpace(PVOID BaseAddress, SIZE_T NumberOfBytes) {
    SwitchPoint("MmUnmapIoSpace");
    auto& s = Current();
    std::lock_guard guard(s.lock);
    for (auto it = s.mappings.begin(); it != s.mappings.end(); ++it) {
        if (it->virtualBase == reinterpret_cast<std::uintptr_t>(BaseAddress)) {
            if (it->length != NumberOfBytes) {
                BugCheck("MmUnmapIoSpace: length differs from the mapped length");
            }
            if (it->reservation != nullptr) {
                munmap(it->reservation, it->reservationLength);
            }
            s.mappings.erase(it);
            return;
        }
    }
    BugCheck("MmUnmapIoSpace: address was not mapped");
}

ULONG READ_REGISTER_NOFENCE_ULONG(volatile ULONG* Register) {
    Mapping m = Find(Register, "READ_REGISTER_NOFENCE_ULONG");
    auto offset = reinterpret_cast<std::uintptr_t>(Register) - m.virtualBase;
    if (m.kind == IoSpaceKind::Memory) {
        return *Register;
    }
    return Current().hardware->Read32(m.physical + offset);
}

VOID WRITE_REGISTER_NOFENCE_ULONG(volatile ULONG* Register, ULONG Value) {
    Mapping m = Find(Register, "WRITE_REGISTER_NOFENCE_ULONG");
    auto offset = reinterpret_cast<std::uintptr_t>(Register) - m.virtualBase;
    if (m.readOnly) {
        BugCheck("WRITE_REGISTER_NOFENCE_ULONG: write through a read-only mapping");
    }
    if (m.kind == IoSpaceKind::Memory) {
        *Register = Value;
        return;
    }
    Current().hardware->Write32(m.physical + offset, Value);
}

void __dsb(unsigned int Type) {
    std::atomic_thread_fence(std::memory_order_seq_cst);
    // Only the full-system barrier orders device accesses against everything before them.
    if (Type == _ARM64_BARRIER_SY) {
        Current().hardware->Barrier();
    }
}
