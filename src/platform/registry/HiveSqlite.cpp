// Hives on SQLite.
//
// Keys form a tree by parent ID; names and string values are stored as
// UTF-8. Every registry call is one transaction. The user's hive runs in WAL
// mode; the machine's hive keeps a rollback journal, because a WAL database
// cannot be read by a process that may not write beside it. Both wait for
// each other's writers (busy timeout) instead of failing.
#include "Hive.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../kernel/PathRules.h"

namespace platform {
namespace {

constexpr const char *kDefaultMachineHome = "/var/lib/quillbay";
constexpr KeyId kOldClassesRoot = 1; // where older user hives kept their classes

// A prepared statement that finalises itself.
class Statement {
public:
    Statement(sqlite3 *db, const char *sql) {
        if (db)
            sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr);
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement &Bind(int index, KeyId value) {
        sqlite3_bind_int64(m_stmt, index, value);
        return *this;
    }
    Statement &Bind(int index, const std::string &text) {
        sqlite3_bind_text(m_stmt, index, text.c_str(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
        return *this;
    }
    Statement &BindBlob(int index, const std::string &bytes) {
        sqlite3_bind_blob(m_stmt, index, bytes.data(), static_cast<int>(bytes.size()),
                          SQLITE_TRANSIENT);
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
    StoredValue Value() const { return StoredValue{Text(0), static_cast<DWORD>(Int(1)), Text(2)}; }

private:
    sqlite3_stmt *m_stmt = nullptr;
};

KeyId FindChild(sqlite3 *db, KeyId parent, const std::string &name) {
    Statement find(db, "SELECT id FROM keys WHERE parent = ? AND name = ?");
    find.Bind(1, parent).Bind(2, name);
    return find.Step() ? find.Int(0) : 0;
}

KeyId AddChild(sqlite3 *db, KeyId parent, const std::string &name) {
    if (!Statement(db, "INSERT INTO keys(parent, name) VALUES (?, ?)")
             .Bind(1, parent)
             .Bind(2, name)
             .Run())
        return 0;
    return sqlite3_last_insert_rowid(db);
}

KeyId MakeChainIn(sqlite3 *db, KeyId from, const std::vector<std::string> &names, bool &created) {
    KeyId id = from;
    for (const std::string &name : names) {
        KeyId child = FindChild(db, id, name);
        if (!child) {
            child = AddChild(db, id, name);
            if (!child)
                return 0;
            created = true;
        }
        id = child;
    }
    return id;
}

void DeleteTreeIn(sqlite3 *db, KeyId id, bool keepRoot) {
    const std::string subtree = "WITH RECURSIVE t(id) AS (SELECT ? UNION ALL"
                                " SELECT k.id FROM keys k JOIN t ON k.parent = t.id)";
    std::string values = subtree + " DELETE FROM vals WHERE key IN (SELECT id FROM t)";
    Statement(db, values.c_str()).Bind(1, id).Run();
    std::string keys = subtree + " DELETE FROM keys WHERE id IN (SELECT id FROM t)" +
                       (keepRoot ? " AND id <> ?" : "");
    Statement remove(db, keys.c_str());
    remove.Bind(1, id);
    if (keepRoot)
        remove.Bind(2, id);
    remove.Run();
}

// The error of a write that SQLite could not make: a full disk as the
// platform reports one, anything else as a failed registry write.
LSTATUS WriteStatus(int rc) {
    return (rc & 0xff) == SQLITE_FULL ? ERROR_DISK_FULL : ERROR_REGISTRY_IO_FAILED;
}

bool Exec(sqlite3 *db, const char *sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Older user hives held HKEY_CLASSES_ROOT as a top key of their own; its
// keys move to HKEY_CURRENT_USER\Software\Classes, where the classes view
// finds a user's classes. A key the user already has there wins.
bool MoveOldClasses(sqlite3 *db) {
    if (!Statement(db, "SELECT 1 FROM keys WHERE parent = 1").Step())
        return true;
    bool created = false;
    KeyId classes = MakeChainIn(db, kUserRoot, {"Software", "Classes"}, created);
    if (!classes || !Statement(db, "UPDATE OR IGNORE keys SET parent = ? WHERE parent = ?")
                         .Bind(1, classes)
                         .Bind(2, kOldClassesRoot)
                         .Run())
        return false;
    DeleteTreeIn(db, kOldClassesRoot, true);
    return Statement(db, "DELETE FROM vals WHERE key = ?").Bind(1, kOldClassesRoot).Run();
}

bool MakeSchema(sqlite3 *db, HiveKind kind) {
    const char *schema =
        "CREATE TABLE IF NOT EXISTS keys(id INTEGER PRIMARY KEY, parent INTEGER NOT NULL,"
        " name TEXT NOT NULL COLLATE NOCASE, UNIQUE(parent, name));"
        "CREATE TABLE IF NOT EXISTS vals(key INTEGER NOT NULL, name TEXT NOT NULL COLLATE NOCASE,"
        " type INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(key, name));"
        "INSERT OR IGNORE INTO keys(id, parent, name) VALUES (1, 0, 'HKEY_CLASSES_ROOT'),"
        " (2, 0, 'HKEY_CURRENT_USER'), (3, 0, 'HKEY_LOCAL_MACHINE'), (4, 0, 'HKEY_USERS');";
    if (!Exec(db, "BEGIN IMMEDIATE"))
        return false;
    bool ok =
        Exec(db, schema) && (kind == HiveKind::Machine || MoveOldClasses(db)) && Exec(db, "COMMIT");
    if (!ok)
        Exec(db, "ROLLBACK");
    return ok;
}

std::string FolderOf(const std::string &path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

bool Writable(const std::string &path, int mode) {
    return faccessat(AT_FDCWD, path.c_str(), mode, AT_EACCESS) == 0;
}

// Makes the folder chain of a hive. The machine's folders are made readable
// by everyone whatever the umask; the user's are private to the user.
bool MakeFolder(HiveKind kind, const std::string &folder) {
    if (kind == HiveKind::User) {
        HomeDirectory(true);
    } else {
        for (size_t i = 1; i <= folder.size(); ++i) {
            if (i < folder.size() && folder[i] != '/')
                continue;
            std::string part = folder.substr(0, i);
            if (mkdir(part.c_str(), 0755) == 0)
                chmod(part.c_str(), 0755);
        }
    }
    struct stat st;
    return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The process's connection to one hive, reopened when the hive's place
// changes, after a fork, or when a write needs what a read-only connection
// cannot give.
class Connection {
public:
    static Connection &Of(HiveKind kind) {
        static auto *user = new Connection(HiveKind::User);
        static auto *machine = new Connection(HiveKind::Machine);
        return kind == HiveKind::User ? *user : *machine;
    }

    std::mutex &Mutex() { return m_lock; }

    // The connection for a call, or null: with ERROR_SUCCESS when the hive has
    // no file yet and the call only reads, else with the error.
    sqlite3 *Get(bool write, LSTATUS &status) {
        status = ERROR_SUCCESS;
        std::string path = HivePath(m_kind);
        if (m_db && m_pid != getpid())
            m_db = nullptr; // a connection inherited through fork is the parent's: leave it
        if (m_db && path == m_path && (!write || !m_readOnly))
            return m_db;
        Close();
        struct stat st;
        bool exists = stat(path.c_str(), &st) == 0;
        if (!exists && !write)
            return nullptr;
        bool writable = CanWriteHive(m_kind);
        if (write && !writable) {
            status = ERROR_ACCESS_DENIED;
            return nullptr;
        }
        if (!Open(path, exists, writable))
            status = ERROR_REGISTRY_IO_FAILED;
        return m_db;
    }

private:
    explicit Connection(HiveKind kind) : m_kind(kind) {}

    void Close() {
        if (m_db)
            sqlite3_close(m_db);
        m_db = nullptr;
    }

    bool Open(const std::string &path, bool exists, bool writable) {
        if (!exists && !MakeFolder(m_kind, FolderOf(path)))
            return false;
        int flags = writable ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY;
        if (sqlite3_open_v2(path.c_str(), &m_db, flags | SQLITE_OPEN_FULLMUTEX, nullptr) !=
            SQLITE_OK) {
            Close();
            return false;
        }
        if (!exists)
            chmod(path.c_str(), m_kind == HiveKind::Machine ? 0644 : 0600);
        sqlite3_busy_timeout(m_db, 30000);
        if (writable) {
            if (m_kind == HiveKind::User)
                Exec(m_db, "PRAGMA journal_mode=WAL");
            Exec(m_db, "PRAGMA synchronous=FULL");
            if (!MakeSchema(m_db, m_kind)) {
                Close();
                return false;
            }
        }
        m_pid = getpid();
        m_path = path;
        m_readOnly = !writable;
        return true;
    }

    HiveKind m_kind;
    std::mutex m_lock;
    sqlite3 *m_db = nullptr;
    std::string m_path;
    pid_t m_pid = 0;
    bool m_readOnly = false;
};

} // namespace

std::string HivePath(HiveKind kind) {
    if (kind == HiveKind::User)
        return HomeDirectory(false) + "/registry.db";
    const char *env = getenv("QUILLBAY_MACHINE_HOME");
    return std::string(env && *env ? env : kDefaultMachineHome) + "/registry.db";
}

bool CanWriteHive(HiveKind kind) {
    std::string path = HivePath(kind);
    struct stat st;
    if (stat(path.c_str(), &st) == 0)
        return Writable(path, W_OK) && Writable(FolderOf(path), W_OK | X_OK);
    std::string folder = FolderOf(path);
    while (stat(folder.c_str(), &st) != 0 && folder != "/" && folder != ".")
        folder = FolderOf(folder);
    return S_ISDIR(st.st_mode) && Writable(folder, W_OK | X_OK);
}

HiveTransaction::HiveTransaction(HiveKind kind, bool write)
    : m_guard(Connection::Of(kind).Mutex()) {
    m_db = Connection::Of(kind).Get(write, m_status);
    if (m_db) {
        m_open = Exec(m_db, write ? "BEGIN IMMEDIATE" : "BEGIN");
        if (!m_open)
            m_status = ERROR_REGISTRY_IO_FAILED;
    }
}

HiveTransaction::~HiveTransaction() {
    if (m_open)
        Exec(m_db, "ROLLBACK");
}

LSTATUS HiveTransaction::Commit() {
    if (!m_db)
        return ERROR_SUCCESS;
    int rc = sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
    // A commit that failed (a full disk) leaves the transaction to be rolled
    // back, if SQLite has not done so itself: the hive keeps what it held.
    m_open = rc != SQLITE_OK && !sqlite3_get_autocommit(m_db);
    return rc == SQLITE_OK ? ERROR_SUCCESS : WriteStatus(sqlite3_extended_errcode(m_db));
}

LSTATUS HiveTransaction::WriteError() const {
    return m_db ? WriteStatus(sqlite3_extended_errcode(m_db)) : ERROR_REGISTRY_IO_FAILED;
}

bool HiveTransaction::Exists(KeyId id) {
    if (!m_db)
        return id >= 1 && id <= kUsersRoot; // a hive without a file has its top keys
    return Statement(m_db, "SELECT 1 FROM keys WHERE id = ?").Bind(1, id).Step();
}

KeyId HiveTransaction::Child(KeyId parent, const std::string &name) {
    return FindChild(m_db, parent, name);
}

KeyId HiveTransaction::Walk(KeyId from, const std::vector<std::string> &names) {
    KeyId id = from;
    for (const std::string &name : names) {
        id = FindChild(m_db, id, name);
        if (!id)
            return 0;
    }
    return id;
}

KeyId HiveTransaction::MakeChain(KeyId from, const std::vector<std::string> &names, bool &created) {
    return MakeChainIn(m_db, from, names, created);
}

bool HiveTransaction::HasChildren(KeyId id) {
    return Statement(m_db, "SELECT 1 FROM keys WHERE parent = ?").Bind(1, id).Step();
}

std::optional<std::string> HiveTransaction::ChildName(KeyId id, DWORD index) {
    Statement find(m_db, "SELECT name FROM keys WHERE parent = ? ORDER BY name LIMIT 1 OFFSET ?");
    find.Bind(1, id).Bind(2, static_cast<KeyId>(index));
    if (!find.Step())
        return std::nullopt;
    return find.Text(0);
}

std::vector<std::string> HiveTransaction::ChildNames(KeyId id) {
    std::vector<std::string> names;
    Statement find(m_db, "SELECT name FROM keys WHERE parent = ? ORDER BY name");
    find.Bind(1, id);
    while (find.Step())
        names.push_back(find.Text(0));
    return names;
}

std::optional<StoredValue> HiveTransaction::Value(KeyId key, const std::string &name) {
    Statement find(m_db, "SELECT name, type, data FROM vals WHERE key = ? AND name = ?");
    find.Bind(1, key).Bind(2, name);
    if (!find.Step())
        return std::nullopt;
    return find.Value();
}

std::optional<StoredValue> HiveTransaction::ValueAt(KeyId key, DWORD index) {
    Statement find(
        m_db, "SELECT name, type, data FROM vals WHERE key = ? ORDER BY name LIMIT 1 OFFSET ?");
    find.Bind(1, key).Bind(2, static_cast<KeyId>(index));
    if (!find.Step())
        return std::nullopt;
    return find.Value();
}

bool HiveTransaction::SetValue(KeyId key, const StoredValue &value) {
    return Statement(m_db, "INSERT OR REPLACE INTO vals(key, name, type, data) VALUES (?, ?, ?, ?)")
        .Bind(1, key)
        .Bind(2, value.name)
        .Bind(3, static_cast<KeyId>(value.type))
        .BindBlob(4, value.data)
        .Run();
}

bool HiveTransaction::DeleteValue(KeyId key, const std::string &name) {
    Statement(m_db, "DELETE FROM vals WHERE key = ? AND name = ?").Bind(1, key).Bind(2, name).Run();
    return m_db && sqlite3_changes(m_db) > 0;
}

void HiveTransaction::DeleteTree(KeyId id, bool keepRoot) {
    DeleteTreeIn(m_db, id, keepRoot);
}

} // namespace platform
