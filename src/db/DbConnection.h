// DbConnection: one database connection entry. The session's own entry is
// private to its session; shared entries, one per registered ID, live in a
// process-wide list and serve every object in the process. One
// process-wide critical section guards the list and every entry's opening,
// closing and lost-link marking.
#pragma once

#include "platform/win32.h"
#include "support/AnsiStr.h"

class DbConnection {
public:
    DbConnection() = default;
    DbConnection(const DbConnection &) = delete;
    DbConnection &operator=(const DbConnection &) = delete;
    ~DbConnection();

    // The process-wide lock.
    static void Lock();
    static void Unlock();
    // The shared entry of an ID, made and put at the front of the list when
    // there is none. Called under the lock; entries are never removed while
    // the module is loaded.
    static DbConnection *Shared(int id);

    DbConnection *m_pNext = nullptr;
    // The registered ID of a shared entry; the entry's own address for a
    // session's entry. Pointer-sized, so that no address cut to 32 bits can
    // equal an ID.
    INT_PTR m_key = 0;
    BOOL m_bOpen = FALSE;
    AnsiStr m_strConn;
    _Connection *m_pConn = nullptr;
};
