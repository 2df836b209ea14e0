#include "DataGuard.h"

// Every process that uses a guard may be killed at any instruction, so the
// guard never depends on a step a dead process would have taken:
//
// - A holder that dies leaves its thread ID as the owner; a waiter that finds
//   that thread gone takes the lock over.
// - A releaser that leaves waiters behind marks the owner "handing over"
//   (its own ID with kHandingOver) before it lets count go and sets the event;
//   the waiter woken claims the lock with one compare-exchange from that mark.
//   Any number of wakes is therefore safe: only one claim succeeds, and a
//   waiter whose claim fails waits again. A mark that stays (its waiter died
//   with the wake, or its releaser died before giving it) is answered by a
//   waiter setting the event once more.
// - A waiter that dies while it waits leaves its lock call counted: count
//   stays above the number of live users, so later locks take the event path
//   instead of the single increment, and lose nothing else.
//
// Two instants name no thread: between a lock's increment that found the
// guard free and its write of the owner, and between a last unlock's clear
// of the owner and its decrement. A thread that dies there leaves the guard
// free with its call counted and no owner. A waiter that finds the owner
// still clear after kClearFor takes the lock; a live thread cannot spend
// that long between two adjacent instructions unless it is stopped there.

namespace {

// Marks the owner while the lock is handed to a waiter. Thread IDs stay far
// below it.
constexpr DWORD kHandingOver = 0x80000000u;

// A waiter looks at the guard after each slice of its wait: the first short,
// each next one twice as long, up to the longest.
constexpr DWORD kFirstSlice = 1;
constexpr DWORD kLongestSlice = 32;
// How long a hand-over may wait for its claim before a waiter wakes another.
constexpr DWORD kHandOverFor = 20;
// How long the guard may stay free with calls pending before a waiter takes it.
constexpr DWORD kClearFor = 2000;

// Room for the objects' names (the longer prefix, the name, the terminator).
constexpr int kNameBuffer = 200;
constexpr int kLongestName = kNameBuffer - static_cast<int>(sizeof "DiziDOZE_FileMap_");

bool ThreadAlive(DWORD threadId) {
    HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, threadId);
    if (!thread)
        return false;
    DWORD code = 0;
    bool alive = GetExitCodeThread(thread, &code) && code == STILL_ACTIVE;
    CloseHandle(thread);
    return alive;
}

// The owner is read and written whole; its stores need no fence of their
// own: each is followed by an interlocked operation or only published.
DWORD LoadOwner(const DataGuard::Block *block) {
    return __atomic_load_n(&block->owner, __ATOMIC_ACQUIRE);
}

void StoreOwner(DataGuard::Block *block, DWORD owner) {
    __atomic_store_n(&block->owner, owner, __ATOMIC_RELEASE);
}

bool ReplaceOwner(DataGuard::Block *block, DWORD from, DWORD to) {
    auto *field = reinterpret_cast<LONG volatile *>(&block->owner);
    return InterlockedCompareExchange(field, static_cast<LONG>(to), static_cast<LONG>(from)) ==
           static_cast<LONG>(from);
}

} // namespace

bool DataGuard::Create(const char *name) {
    Close();
    if (!name || !*name)
        return false;
    if (lstrlenA(name) > kLongestName) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    char objectName[kNameBuffer];
    wsprintfA(objectName, "ZizoVuvoRadudOr_%s", name);
    m_hEvent = CreateEventA(nullptr, FALSE, FALSE, objectName);
    wsprintfA(objectName, "DiziDOZE_FileMap_%s", name);
    m_hMapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(Block),
                                    objectName);
    if (m_hMapping)
        m_pBlock = static_cast<Block *>(MapViewOfFile(m_hMapping, FILE_MAP_WRITE, 0, 0, 0));
    if (!m_hEvent || !m_pBlock) {
        const DWORD error = GetLastError();
        Close();
        SetLastError(error);
        return false;
    }
    return true;
}

bool DataGuard::Lock() {
    if (!IsUsable())
        return false;
    const DWORD self = GetCurrentThreadId();
    if (InterlockedIncrement(&m_pBlock->count) == 1) {
        StoreOwner(m_pBlock, self);
        m_pBlock->depth = 1;
        return true;
    }
    if (LoadOwner(m_pBlock) == self) {
        ++m_pBlock->depth;
        return true;
    }
    WaitForTurn(self);
    return true;
}

void DataGuard::WaitForTurn(DWORD self) {
    DWORD slice = kFirstSlice;
    Watch watch;
    for (;;) {
        if (WaitForSingleObject(m_hEvent, slice) == WAIT_OBJECT_0) {
            if (ClaimHandOver(self))
                return;
            continue; // a wake for a hand-over another waiter claimed
        }
        if (Recover(self, watch))
            return;
        if (slice < kLongestSlice)
            slice *= 2;
    }
}

bool DataGuard::ClaimHandOver(DWORD self) {
    const DWORD seen = LoadOwner(m_pBlock);
    if ((seen & kHandingOver) == 0 || !ReplaceOwner(m_pBlock, seen, self))
        return false;
    m_pBlock->depth = 1;
    return true;
}

bool DataGuard::Recover(DWORD self, Watch &watch) {
    const DWORD owner = LoadOwner(m_pBlock);
    const DWORD now = GetTickCount();
    if (owner != watch.owner) {
        // Something moved since the last look: watch the new state afresh.
        watch.owner = owner;
        watch.since = now;
        return false;
    }
    const DWORD still = now - watch.since;
    if (owner & kHandingOver) {
        if (still >= kHandOverFor) {
            SetEvent(m_hEvent); // the hand-over's wake was lost: give another
            watch.since = now;
        }
        return false;
    }
    if (owner == 0) {
        if (still < kClearFor || !ReplaceOwner(m_pBlock, 0, self))
            return false;
        m_pBlock->depth = 1; // the dead thread's call stays counted
        return true;
    }
    return TakeOverFromDeadOwner(self, owner);
}

bool DataGuard::TakeOverFromDeadOwner(DWORD self, DWORD owner) {
    if (owner == self || ThreadAlive(owner) || !ReplaceOwner(m_pBlock, owner, self))
        return false;
    // The dead holder's own lock calls are no longer pending; this waiter's
    // increment stays as its hold. The depth is set before count follows, so
    // a taker that dies in between leaves too much counted, never too little.
    const LONG dead = m_pBlock->depth;
    m_pBlock->depth = 1;
    InterlockedExchangeAdd(&m_pBlock->count, -dead);
    return true;
}

bool DataGuard::Unlock() {
    if (!IsUsable())
        return false;
    const DWORD self = GetCurrentThreadId();
    if (LoadOwner(m_pBlock) != self)
        return false;
    if (--m_pBlock->depth > 0) {
        InterlockedDecrement(&m_pBlock->count);
        return true;
    }
    if (__atomic_load_n(&m_pBlock->count, __ATOMIC_ACQUIRE) == 1) {
        // Nobody waits, as far as this thread sees.
        StoreOwner(m_pBlock, 0);
        if (InterlockedDecrement(&m_pBlock->count) == 0)
            return true;
        // A waiter came in meanwhile; nobody else writes the owner now.
        StoreOwner(m_pBlock, self | kHandingOver);
        SetEvent(m_hEvent);
        return true;
    }
    StoreOwner(m_pBlock, self | kHandingOver);
    if (InterlockedDecrement(&m_pBlock->count) > 0)
        SetEvent(m_hEvent);
    else
        ReplaceOwner(m_pBlock, self | kHandingOver, 0); // the waiters seen have gone
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
