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
        LONG count; // lock calls not yet matched by an unlock, waiters included
        LONG depth; // how many times the owner holds the lock
        DWORD owner; // thread ID of the holder; 0 when free
    };
    static_assert(sizeof(Block) == 12, "the shared block is 12 bytes");

    DataGuard() = default;
    explicit DataGuard(const char *name) { Create(name); }
    DataGuard(const DataGuard &) = delete;
    DataGuard &operator=(const DataGuard &) = delete;
    ~DataGuard() { Close(); }

    // Creates or joins the guard's event and block; false when any of them
    // could not be made (the guard then stays unusable).
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
    // A holder whose thread has ended (its process died, say) never
    // unlocks; a waiter that finds it gone takes the lock over.
    bool TakeOverFromDeadOwner(DWORD self);

    HANDLE m_hEvent = nullptr;
    HANDLE m_hMapping = nullptr;
    Block *m_pBlock = nullptr;
};
