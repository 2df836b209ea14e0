// DataGuard: a recursive lock shared by every instance of the same name, in
// any process of the user's session. It is a named auto-reset event and a
// 12-byte named shared block of counters, so an uncontended lock and unlock
// cost one interlocked operation and no kernel wait.
#pragma once

#include "platform/win32.h"

class DataGuard {
public:
    // The shared block, little-endian 32-bit fields.
    struct Block {
        LONG count;  // lock calls not yet matched by an unlock, waiters included
        LONG depth;  // how many times the owner holds the lock
        DWORD owner; // thread ID of the holder; 0 when free
    };
    static_assert(sizeof(Block) == 12, "the shared block is 12 bytes");

    DataGuard() = default;
    explicit DataGuard(const char *name) { Create(name); }
    DataGuard(const DataGuard &) = delete;
    DataGuard &operator=(const DataGuard &) = delete;
    ~DataGuard() { Close(); }

    // Creates or joins the guard's event and block; false when any of them
    // could not be made (the guard then stays unusable). A name too long for
    // the objects' names is refused with ERROR_FILENAME_EXCED_RANGE.
    bool Create(const char *name);
    // Acquires the lock (recursively for its owner); false on an unusable guard.
    bool Lock();
    // Releases one level; false when the caller does not hold the lock or the
    // guard is unusable.
    bool Unlock();
    void Close();

    bool IsUsable() const { return m_pBlock != nullptr; }
    const Block *Counters() const { return m_pBlock; }

private:
    // What a waiter saw of the owner at its last look, and since when.
    struct Watch {
        DWORD owner = 0xFFFFFFFFu; // no owner looks like this
        DWORD since = 0;
    };

    // Waits on the event until this thread holds the lock (see DataGuard.cpp).
    void WaitForTurn(DWORD self);
    bool ClaimHandOver(DWORD self);
    // After a slice without a wake: takes the lock when a dead thread left it
    // (true), or wakes a waiter for a hand-over whose wake was lost.
    bool Recover(DWORD self, Watch &watch);
    bool TakeOverFromDeadOwner(DWORD self, DWORD owner);

    HANDLE m_hEvent = nullptr;
    HANDLE m_hMapping = nullptr;
    Block *m_pBlock = nullptr;
};
