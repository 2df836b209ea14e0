// Global memory blocks.
//
// A fixed block's handle is its address. A movable block's handle is a
// separate record that holds the address and a lock count, so the handle
// and the pointer that GlobalLock gives are different values, as callers
// that keep DEVMODE and DEVNAMES blocks expect.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "winbase.h"

namespace {

struct Block {
    void *data;
    SIZE_T size;
    bool movable;
    int locks;
};

struct Heap {
    std::mutex lock;
    std::unordered_map<HGLOBAL, Block> blocks;
};

Heap &TheHeap() {
    static auto *heap = new Heap;
    return *heap;
}

} // namespace

extern "C" HGLOBAL WINAPI GlobalAlloc(UINT uFlags, SIZE_T dwBytes) {
    void *data =
        (uFlags & GMEM_ZEROINIT) ? calloc(1, dwBytes ? dwBytes : 1) : malloc(dwBytes ? dwBytes : 1);
    if (!data) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    const bool movable = (uFlags & GMEM_MOVEABLE) != 0;
    HGLOBAL handle = movable ? static_cast<HGLOBAL>(new (std::nothrow) char) : data;
    if (!handle) {
        free(data);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    Heap &heap = TheHeap();
    std::lock_guard<std::mutex> guard(heap.lock);
    heap.blocks[handle] = Block{data, dwBytes, movable, 0};
    return handle;
}

extern "C" LPVOID WINAPI GlobalLock(HGLOBAL hMem) {
    Heap &heap = TheHeap();
    std::lock_guard<std::mutex> guard(heap.lock);
    auto it = heap.blocks.find(hMem);
    if (!hMem || it == heap.blocks.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (it->second.movable)
        ++it->second.locks;
    return it->second.data;
}

extern "C" BOOL WINAPI GlobalUnlock(HGLOBAL hMem) {
    Heap &heap = TheHeap();
    std::lock_guard<std::mutex> guard(heap.lock);
    auto it = heap.blocks.find(hMem);
    if (!hMem || it == heap.blocks.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Block &block = it->second;
    if (!block.movable || block.locks == 0) {
        SetLastError(158); // ERROR_NOT_LOCKED
        return FALSE;
    }
    --block.locks;
    if (block.locks == 0) {
        SetLastError(ERROR_SUCCESS);
        return FALSE; // unlocked completely, as the platform reports it
    }
    return TRUE;
}

extern "C" HGLOBAL WINAPI GlobalFree(HGLOBAL hMem) {
    if (!hMem)
        return nullptr;
    Heap &heap = TheHeap();
    std::lock_guard<std::mutex> guard(heap.lock);
    auto it = heap.blocks.find(hMem);
    if (it == heap.blocks.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return hMem;
    }
    free(it->second.data);
    if (it->second.movable)
        delete static_cast<char *>(hMem);
    heap.blocks.erase(it);
    return nullptr;
}

extern "C" SIZE_T WINAPI GlobalSize(HGLOBAL hMem) {
    Heap &heap = TheHeap();
    std::lock_guard<std::mutex> guard(heap.lock);
    auto it = heap.blocks.find(hMem);
    if (!hMem || it == heap.blocks.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return it->second.size;
}

// Local memory is the same heap; the flags have the same values.
extern "C" HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes) {
    return GlobalAlloc(uFlags, uBytes);
}

extern "C" HLOCAL WINAPI LocalFree(HLOCAL hMem) {
    return GlobalFree(hMem);
}
