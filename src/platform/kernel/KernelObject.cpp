#include "KernelObject.h"

#include <condition_variable>
#include <mutex>
#include <unordered_map>

#include "winbase.h"

namespace platform {
namespace {

struct HandleTable {
    std::mutex lock;
    std::unordered_map<ULONG_PTR, std::shared_ptr<KernelObject>> objects;
    ULONG_PTR next = 4;
};

HandleTable &Table() {
    static HandleTable *table = new HandleTable; // lives past static destruction
    return *table;
}

} // namespace

HANDLE AddHandle(std::shared_ptr<KernelObject> object) {
    HandleTable &table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    ULONG_PTR value = table.next;
    table.next += 4;
    table.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
    HandleTable &table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    auto it = table.objects.find(reinterpret_cast<ULONG_PTR>(handle));
    return it == table.objects.end() ? nullptr : it->second;
}

bool RemoveHandle(HANDLE handle) {
    std::shared_ptr<KernelObject> object;
    {
        HandleTable &table = Table();
        std::lock_guard<std::mutex> guard(table.lock);
        auto it = table.objects.find(reinterpret_cast<ULONG_PTR>(handle));
        if (it == table.objects.end())
            return false;
        object = std::move(it->second);
        table.objects.erase(it);
    }
    // The object is released outside the table's lock: its destructor may
    // close files or unmap shared memory.
    object.reset();
    return true;
}

} // namespace platform

extern "C" BOOL WINAPI CloseHandle(HANDLE hObject) {
    if (!platform::RemoveHandle(hObject)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
