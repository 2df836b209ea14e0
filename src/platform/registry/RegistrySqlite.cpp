// The registry on SQLite.
//
// One database file, $QUILLBAY_HOME/registry.db, holds every hive. Keys form
// a tree by parent ID; names and string values are stored as UTF-8 and
// handed to callers in the ANSI code page. Every call is one transaction; the
// database runs in WAL mode with a busy timeout, so processes that write at
// the same time wait for each other instead of failing.
#include "winreg.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <sqlite3.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "../kernel/KernelObject.h"
#include "../kernel/PathRules.h"
#include "../kernel/TextConvert.h"
#include "../kernel/winbase.h"
#include "../kernel/winnls.h"

namespace platform {
namespace {

using KeyId = sqlite3_int64;

class OpenKey : public KernelObject {
public:
    explicit OpenKey(KeyId id) : m_id(id) {}
    KeyId Id() const { return m_id; }

private:
    KeyId m_id;
};

std::string ToUtf8(const char *ansi) { return AnsiToUtf8(ansi); }
std::string ToAnsi(const std::string &utf8) { return Utf8ToAnsi(utf8); }

bool IsStringType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

std::vector<std::string> SplitKeyPath(const char *subKey) {
    std::vector<std::string> parts;
    std::string current;
    for (const char *p = subKey ? subKey : ""; *p; ++p) {
        if (*p == '\\') {
            if (!current.empty())
                parts.push_back(ToUtf8(current.c_str()));
            current.clear();
        } else {
            current += *p;
        }
    }
    if (!current.empty())
        parts.push_back(ToUtf8(current.c_str()));
    return parts;
}

// A prepared statement that finalises itself.
class Statement {
public:
    Statement(sqlite3 *db, const char *sql) { sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr); }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement &Bind(int index, KeyId value) {
        sqlite3_bind_int64(m_stmt, index, value);
        return *this;
    }
    Statement &Bind(int index, const std::string &text) {
        sqlite3_bind_text(m_stmt, index, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement &BindBlob(int index, const std::string &bytes) {
        sqlite3_bind_blob(m_stmt, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
        return *this;
    }
    bool Step() { return m_stmt && sqlite3_step(m_stmt) == SQLITE_ROW; }
    bool Run() {
        int rc = m_stmt ? sqlite3_step(m_stmt) : SQLITE_ERROR;
        return rc == SQLITE_DONE || rc == SQLITE_ROW;
    }
    KeyId Int(int column) const { return sqlite3_column_int64(m_stmt, column); }
    std::string Text(int column) const {
        const void *data = sqlite3_column_blob(m_stmt, column);
        int size = sqlite3_column_bytes(m_stmt, column);
        return data ? std::string(static_cast<const char *>(data), static_cast<size_t>(size)) : "";
    }

private:
    sqlite3_stmt *m_stmt = nullptr;
};

// The process's connection to the database, reopened when QUILLBAY_HOME
// names another place.
class Database {
public:
    static Database &Instance() {
        static auto *db = new Database;
        return *db;
    }

    std::mutex &Lock() { return m_lock; }

    sqlite3 *Handle() {
        std::string path = HomeDirectory() + "/registry.db";
        if (m_db && m_pid != getpid())
            m_db = nullptr; // a connection inherited through fork is the parent's: leave it
        if (m_db && path == m_path)
            return m_db;
        if (m_db)
            sqlite3_close(m_db);
        m_pid = getpid();
        m_db = nullptr;
        m_path = path;
        if (sqlite3_open_v2(path.c_str(), &m_db,
                            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                            nullptr) != SQLITE_OK) {
            sqlite3_close(m_db);
            m_db = nullptr;
            return nullptr;
        }
        sqlite3_busy_timeout(m_db, 30000);
        sqlite3_exec(m_db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;", nullptr, nullptr,
                     nullptr);
        const char *schema =
            "BEGIN IMMEDIATE;"
            "CREATE TABLE IF NOT EXISTS keys(id INTEGER PRIMARY KEY, parent INTEGER NOT NULL,"
            " name TEXT NOT NULL COLLATE NOCASE, UNIQUE(parent, name));"
            "CREATE TABLE IF NOT EXISTS vals(key INTEGER NOT NULL, name TEXT NOT NULL COLLATE NOCASE,"
            " type INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(key, name));"
            "INSERT OR IGNORE INTO keys(id, parent, name) VALUES (1, 0, 'HKEY_CLASSES_ROOT'),"
            " (2, 0, 'HKEY_CURRENT_USER'), (3, 0, 'HKEY_LOCAL_MACHINE'), (4, 0, 'HKEY_USERS');"
            "COMMIT;";
        if (sqlite3_exec(m_db, schema, nullptr, nullptr, nullptr) != SQLITE_OK) {
            sqlite3_exec(m_db, "ROLLBACK;", nullptr, nullptr, nullptr);
            sqlite3_close(m_db);
            m_db = nullptr;
        }
        return m_db;
    }

private:
    std::mutex m_lock;
    sqlite3 *m_db = nullptr;
    std::string m_path;
    pid_t m_pid = 0;
};

// One registry call: the process lock, the connection and a transaction
// that rolls back unless committed.
class Transaction {
public:
    explicit Transaction(bool write) : m_guard(Database::Instance().Lock()) {
        m_db = Database::Instance().Handle();
        if (m_db)
            m_open = sqlite3_exec(m_db, write ? "BEGIN IMMEDIATE" : "BEGIN", nullptr, nullptr,
                                  nullptr) == SQLITE_OK;
    }
    ~Transaction() {
        if (m_open)
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    bool Ok() const { return m_open; }
    sqlite3 *Db() const { return m_db; }
    LSTATUS Commit() {
        int rc = sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
        m_open = rc != SQLITE_OK;
        return rc == SQLITE_OK ? ERROR_SUCCESS : ERROR_REGISTRY_IO_FAILED;
    }

private:
    std::lock_guard<std::mutex> m_guard;
    sqlite3 *m_db = nullptr;
    bool m_open = false;
};

bool KeyExists(sqlite3 *db, KeyId id) {
    return Statement(db, "SELECT 1 FROM keys WHERE id = ?").Bind(1, id).Step();
}

// The key ID a handle stands for, or 0 (with the error) when it stands for
// nothing or for a key that was deleted.
KeyId IdOf(sqlite3 *db, HKEY key, LSTATUS &error) {
    auto value = reinterpret_cast<ULONG_PTR>(key);
    KeyId id = 0;
    if (key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE ||
        key == HKEY_USERS) {
        id = static_cast<KeyId>((value & 0xF) + 1);
    } else if (auto open = LookupHandleAs<OpenKey>(key)) {
        id = open->Id();
    } else {
        error = ERROR_INVALID_HANDLE;
        return 0;
    }
    if (!KeyExists(db, id)) {
        error = ERROR_KEY_DELETED;
        return 0;
    }
    return id;
}

KeyId FindChild(sqlite3 *db, KeyId parent, const std::string &name) {
    Statement find(db, "SELECT id FROM keys WHERE parent = ? AND name = ?");
    find.Bind(1, parent).Bind(2, name);
    return find.Step() ? find.Int(0) : 0;
}

KeyId Walk(sqlite3 *db, KeyId from, const std::vector<std::string> &parts) {
    KeyId id = from;
    for (const std::string &part : parts) {
        id = FindChild(db, id, part);
        if (!id)
            return 0;
    }
    return id;
}

void DeleteTree(sqlite3 *db, KeyId id, bool keepRoot) {
    const char *subtree = "WITH RECURSIVE t(id) AS (SELECT ? UNION ALL"
                          " SELECT k.id FROM keys k JOIN t ON k.parent = t.id)";
    std::string values = std::string(subtree) + " DELETE FROM vals WHERE key IN (SELECT id FROM t)";
    Statement(db, values.c_str()).Bind(1, id).Run();
    std::string keys = std::string(subtree) + " DELETE FROM keys WHERE id IN (SELECT id FROM t)" +
                       (keepRoot ? " AND id <> ?" : "");
    Statement remove(db, keys.c_str());
    remove.Bind(1, id);
    if (keepRoot)
        remove.Bind(2, id);
    remove.Run();
}

LSTATUS CopyOutName(const std::string &utf8, LPSTR name, LPDWORD length) {
    std::string ansi = ToAnsi(utf8);
    if (!name || !length)
        return ERROR_INVALID_PARAMETER;
    if (*length <= ansi.size()) {
        *length = static_cast<DWORD>(ansi.size());
        return ERROR_MORE_DATA;
    }
    memcpy(name, ansi.c_str(), ansi.size() + 1);
    *length = static_cast<DWORD>(ansi.size());
    return ERROR_SUCCESS;
}

// Hands a stored value to a caller: string values in the ANSI code page,
// exactly as many bytes as were stored (a terminator is added behind them
// when the buffer has room, but not counted).
LSTATUS CopyOutData(DWORD type, const std::string &stored, LPDWORD lpType, LPBYTE data,
                    LPDWORD size) {
    std::string bytes = IsStringType(type) ? ToAnsi(stored) : stored;
    if (lpType)
        *lpType = type;
    if (!size)
        return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    if (!data) {
        *size = static_cast<DWORD>(bytes.size());
        return ERROR_SUCCESS;
    }
    if (*size < bytes.size()) {
        *size = static_cast<DWORD>(bytes.size());
        return ERROR_MORE_DATA;
    }
    memcpy(data, bytes.data(), bytes.size());
    if (IsStringType(type) && *size > bytes.size())
        data[bytes.size()] = 0;
    *size = static_cast<DWORD>(bytes.size());
    return ERROR_SUCCESS;
}

} // namespace
} // namespace platform

using namespace platform;

extern "C" LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM,
                                        PHKEY phkResult) {
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    Transaction tx(false);
    if (!tx.Ok())
        return ERROR_REGISTRY_IO_FAILED;
    LSTATUS error = ERROR_SUCCESS;
    KeyId parent = IdOf(tx.Db(), hKey, error);
    if (!parent)
        return error;
    KeyId id = Walk(tx.Db(), parent, SplitKeyPath(lpSubKey));
    if (!id)
        return ERROR_FILE_NOT_FOUND;
    *phkResult = static_cast<HKEY>(AddHandle(std::make_shared<OpenKey>(id)));
    return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD, REGSAM,
                                          const LPSECURITY_ATTRIBUTES, PHKEY phkResult,
                                          LPDWORD lpdwDisposition) {
    if (!phkResult || !lpSubKey)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    if (lpSubKey[0] == '\\')
        return ERROR_BAD_PATHNAME;
    Transaction tx(true);
    if (!tx.Ok())
        return ERROR_REGISTRY_IO_FAILED;
    LSTATUS error = ERROR_SUCCESS;
    KeyId id = IdOf(tx.Db(), hKey, error);
    if (!id)
        return error;
    bool created = false;
    for (const std::string &part : SplitKeyPath(lpSubKey)) {
        KeyId child = FindChild(tx.Db(), id, part);
        if (!child) {
            if (!Statement(tx.Db(), "INSERT INTO keys(parent, name) VALUES (?, ?)")
                     .Bind(1, id)
                     .Bind(2, part)
                     .Run())
                return ERROR_REGISTRY_IO_FAILED;
            child = sqlite3_last_insert_rowid(tx.Db());
            created = true;
        }
        id = child;
    }
    if (LSTATUS rc = tx.Commit(); rc != ERROR_SUCCESS)
        return rc;
    if (lpdwDisposition)
        *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *phkResult = static_cast<HKEY>(AddHandle(std::make_shared<OpenKey>(id)));
    return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD, LPDWORD lpType,
                                           LPBYTE lpData, LPDWORD lpcbData) {
    if (lpData && !lpcbData)
        return ERROR_INVALID_PARAMETER;
    Transaction tx(false);
    if (!tx.Ok())
        return ERROR_REGISTRY_IO_FAILED;
    LSTATUS error = ERROR_SUCCESS;
    KeyId id = IdOf(tx.Db(), hKey, error);
    if (!id)
        return error;
    Statement find(tx.Db(), "SELECT type, data FROM vals WHERE key = ? AND name = ?");
    find.Bind(1, id).Bind(2, ToUtf8(lpValueName));
    if (!find.Step())
        return ERROR_FILE_NOT_FOUND;
    return CopyOutData(static_cast<DWORD>(find.Int(0)), find.Text(1), lpType, lpData, lpcbData);
}

extern "C" LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType,
                                         const BYTE *lpData, DWORD cbData) {
    if (!lpData && cbData)
        return ERROR_NOACCESS;
    std::string bytes(reinterpret_cast<const char *>(lpData ? lpData : reinterpret_cast<const BYTE *>("")),
                      cbData);
    if (IsStringType(dwType))
        bytes = ConvertText(CP_ACP, CP_UTF8, bytes.data(), bytes.size());
    Transaction tx(true);
    if (!tx.Ok())
        return ERROR_REGISTRY_IO_FAILED;
    LSTATUS error = ERROR_SUCCESS;
    KeyId id = IdOf(tx.Db(), hKey, error);
    if (!id)
        return error;
    if (!Statement(tx.Db(), "INSERT OR REPLACE INTO vals(key, name, type, data) VALUES (?, ?, ?, ?)")
             .Bind(1, id)
             .Bind(2, ToUtf8(lpValueName))
             .Bind(3, static_cast<KeyId>(dwType))
             .BindBlob(4, bytes)
             .Run())
        return ERROR_REGISTRY_IO_FAILED;
    return tx.Commit();
}

extern "C" LSTATUS WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    Transaction tx(true);
    if (!tx.Ok())
        return ERROR_REGISTRY_IO_FAILED;
    LSTATUS error = ERROR_SUCCESS;
    KeyId id = IdOf(tx.Db(), hKey, error);
    if (!id)
        return error;
    Statement(tx.Db(), "DELETE FROM vals WHERE key = ? AND name = ?")
        .Bind(1, id)
        .Bind(2, ToUtf8(lpValueName))
        .Run();
    if (sqlite3_changes(tx.Db()) == 0)
        return ERROR_FILE_NOT_FOUND;
    return tx.Commit();
}

extern "C" LSTATUS WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    if (!lpSubKey)
        return ERROR_INVALID_PARAMETER;
    Transaction tx(true);
    if (!tx.Ok())
        return ERROR_REGISTRY_IO_FAILED;
    LSTATUS error = ERROR_SUCCESS;
    KeyId parent = IdOf(tx.Db(), hKey, error);
    if (!parent)
        return error;
    KeyId id = Walk(tx.Db(), parent, SplitKeyPath(lpSubKey));
    if (!id)
        return ERROR_FILE_NOT_FOUND;
    if (id <= 4 || Statement(tx.Db(), "SELECT 1 FROM keys WHERE parent = ?").Bind(1, id).Step())
        return ERROR_ACCESS_DENIED;
    DeleteTree(tx.Db(), id, false);
    return tx.Commit();
}

extern "C" LSTATUS WINAPI RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey) {
    Transaction tx(true);
    if (!tx.Ok())
        return ERROR_REGISTRY_IO_FAILED;
    LSTATUS error = ERROR_SUCCESS;
    KeyId parent = IdOf(tx.Db(), hKey, error);
    if (!parent)
        return error;
    KeyId id = Walk(tx.Db(), parent, SplitKeyPath(lpSubKey));
    if (!id)
        return ERROR_FILE_NOT_FOUND;
    const bool keepRoot = !lpSubKey || !*lpSubKey || id <= 4;
    DeleteTree(tx.Db(), id, keepRoot);
    return tx.Commit();
}

extern "C" LSTATUS WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                                        LPDWORD, LPSTR, LPDWORD, void *) {
    Transaction tx(false);
    if (!tx.Ok())
        return ERROR_REGISTRY_IO_FAILED;
    LSTATUS error = ERROR_SUCCESS;
    KeyId id = IdOf(tx.Db(), hKey, error);
    if (!id)
        return error;
    Statement find(tx.Db(), "SELECT name FROM keys WHERE parent = ? ORDER BY name LIMIT 1 OFFSET ?");
    find.Bind(1, id).Bind(2, static_cast<KeyId>(dwIndex));
    if (!find.Step())
        return ERROR_NO_MORE_ITEMS;
    return CopyOutName(find.Text(0), lpName, lpcchName);
}

extern "C" LSTATUS WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName,
                                        LPDWORD lpcchValueName, LPDWORD, LPDWORD lpType,
                                        LPBYTE lpData, LPDWORD lpcbData) {
    Transaction tx(false);
    if (!tx.Ok())
        return ERROR_REGISTRY_IO_FAILED;
    LSTATUS error = ERROR_SUCCESS;
    KeyId id = IdOf(tx.Db(), hKey, error);
    if (!id)
        return error;
    Statement find(tx.Db(),
                   "SELECT name, type, data FROM vals WHERE key = ? ORDER BY name LIMIT 1 OFFSET ?");
    find.Bind(1, id).Bind(2, static_cast<KeyId>(dwIndex));
    if (!find.Step())
        return ERROR_NO_MORE_ITEMS;
    LSTATUS rc = CopyOutName(find.Text(0), lpValueName, lpcchValueName);
    if (rc != ERROR_SUCCESS)
        return rc;
    return CopyOutData(static_cast<DWORD>(find.Int(1)), find.Text(2), lpType, lpData, lpcbData);
}

extern "C" LSTATUS WINAPI RegCloseKey(HKEY hKey) {
    if (hKey == HKEY_CLASSES_ROOT || hKey == HKEY_CURRENT_USER || hKey == HKEY_LOCAL_MACHINE ||
        hKey == HKEY_USERS)
        return ERROR_SUCCESS;
    if (!LookupHandleAs<OpenKey>(hKey))
        return ERROR_INVALID_HANDLE;
    RemoveHandle(hKey);
    return ERROR_SUCCESS;
}
