#include "DbConnection.h"
#include <new>

namespace {

// The list's head and its lock, made when the module is loaded and the lock
// deleted when it is unloaded. The shared entries stay (reachable from the
// head) until the process ends: their connections serve every object.
struct SharedList {
    SharedList() { InitializeCriticalSection(&lock); }
    ~SharedList() { DeleteCriticalSection(&lock); }
    CRITICAL_SECTION lock;
    DbConnection *head = nullptr;
} g_shared;

} // namespace

DbConnection::~DbConnection() {
    if (m_pConn)
        m_pConn->Release();
}

void DbConnection::Lock() {
    EnterCriticalSection(&g_shared.lock);
}

void DbConnection::Unlock() {
    LeaveCriticalSection(&g_shared.lock);
}

DbConnection *DbConnection::Shared(int id) {
    for (DbConnection *entry = g_shared.head; entry; entry = entry->m_pNext) {
        if (entry->m_key == id)
            return entry;
    }
    auto *entry = new (std::nothrow) DbConnection;
    if (!entry)
        return nullptr;
    entry->m_key = id;
    entry->m_pNext = g_shared.head;
    g_shared.head = entry;
    return entry;
}
