// The handle table. Handle values are never reused, so a handle used after CloseHandle fails with
// ERROR_INVALID_HANDLE instead of reaching another object.

#include <unordered_map>

#include "Objects.h"
#include "winhost/Books.h"

namespace winhost {
namespace {

struct HandleTable {
    std::mutex lock;
    std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> objects;
    uintptr_t next = 0x100;
};

HandleTable& Table() {
    static HandleTable* table = new HandleTable;
    return *table;
}

} // namespace

HANDLE InsertHandle(std::shared_ptr<KernelObject> object) {
    HandleTable& table = Table();
    std::lock_guard guard(table.lock);
    uintptr_t value = table.next;
    table.next += 4;
    table.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookUpHandle(HANDLE handle) {
    HandleTable& table = Table();
    std::lock_guard guard(table.lock);
    auto found = table.objects.find(reinterpret_cast<uintptr_t>(handle));
    return found == table.objects.end() ? nullptr : found->second;
}

std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle) {
    HandleTable& table = Table();
    std::lock_guard guard(table.lock);
    auto found = table.objects.find(reinterpret_cast<uintptr_t>(handle));
    if (found == table.objects.end())
        return nullptr;
    std::shared_ptr<KernelObject> object = std::move(found->second);
    table.objects.erase(found);
    return object;
}

size_t LiveHandles() {
    HandleTable& table = Table();
    std::lock_guard guard(table.lock);
    return table.objects.size();
}

} // namespace winhost

BOOL WINAPI CloseHandle(HANDLE hObject) {
    // The object itself goes when its last user lets go (a thread keeps running, a read in
    // progress keeps its device), as on Windows. INVALID_HANDLE_VALUE is the current process's
    // pseudo-handle, and closing it does nothing.
    if (hObject == INVALID_HANDLE_VALUE)
        return TRUE;
    if (!winhost::RemoveHandle(hObject)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
