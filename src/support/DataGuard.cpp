#include "DataGuard.h"

namespace {

// How long a waiter waits before it looks whether the owner is still alive.
constexpr DWORD kOwnerCheckInterval = 100;

bool ThreadAlive(DWORD threadId) {
    HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, threadId);
    if (!thread)
        return false;
    DWORD code = 0;
    bool alive = GetExitCodeThread(thread, &code) && code == STILL_ACTIVE;
    CloseHandle(thread);
    return alive;
}

} // namespace

bool DataGuard::Create(const char *name) {
    Close();
    if (!name || !*name)
        return false;
    char objectName[200];
    wsprintfA(objectName, "ZizoVuvoRadudOr_%s", name);
    m_hEvent = CreateEventA(nullptr, FALSE, FALSE, objectName);
    wsprintfA(objectName, "DiziDOZE_FileMap_%s", name);
    m_hMapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                    sizeof(Block), objectName);
    if (m_hMapping)
        m_pBlock = static_cast<Block *>(MapViewOfFile(m_hMapping, FILE_MAP_WRITE, 0, 0, 0));
    if (!m_hEvent || !m_pBlock) {
        Close();
        return false;
    }
    return true;
}

bool DataGuard::Lock() {
    if (!IsUsable())
        return false;
    const DWORD self = GetCurrentThreadId();
    if (InterlockedIncrement(&m_pBlock->count) != 1) {
        if (m_pBlock->owner == self) {
            ++m_pBlock->depth;
            return true;
        }
        for (;;) {
            if (WaitForSingleObject(m_hEvent, kOwnerCheckInterval) == WAIT_OBJECT_0)
                break;
            if (TakeOverFromDeadOwner(self))
                return true;
        }
    }
    m_pBlock->owner = self;
    m_pBlock->depth = 1;
    return true;
}

bool DataGuard::TakeOverFromDeadOwner(DWORD self) {
    const DWORD owner = __atomic_load_n(&m_pBlock->owner, __ATOMIC_SEQ_CST);
    if (owner == 0 || owner == self || ThreadAlive(owner))
        return false;
    auto *ownerField = reinterpret_cast<LONG volatile *>(&m_pBlock->owner);
    if (InterlockedCompareExchange(ownerField, static_cast<LONG>(self), static_cast<LONG>(owner)) !=
        static_cast<LONG>(owner))
        return false; // another waiter took it over first
    // The dead holder's own lock calls are no longer pending; this waiter's
    // increment stays as its hold.
    InterlockedExchangeAdd(&m_pBlock->count, -m_pBlock->depth);
    m_pBlock->depth = 1;
    return true;
}

bool DataGuard::Unlock() {
    if (!IsUsable())
        return false;
    if (m_pBlock->owner != GetCurrentThreadId())
        return false;
    if (--m_pBlock->depth > 0) {
        InterlockedDecrement(&m_pBlock->count);
        return true;
    }
    m_pBlock->owner = 0;
    if (InterlockedDecrement(&m_pBlock->count) > 0)
        SetEvent(m_hEvent);
    return true;
}

void DataGuard::Close() {
    if (m_hEvent)
        CloseHandle(m_hEvent);
    if (m_pBlock)
        UnmapViewOfFile(m_pBlock);
    if (m_hMapping)
        CloseHandle(m_hMapping);
    m_hEvent = nullptr;
    m_pBlock = nullptr;
    m_hMapping = nullptr;
}
