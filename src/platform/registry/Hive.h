// A hive: one registry database file holding a tree of keys with values.
//
// The registry has two hives. The user's hive, $QUILLBAY_HOME/registry.db,
// holds HKEY_CURRENT_USER (and HKEY_USERS); the machine's hive,
// $QUILLBAY_MACHINE_HOME/registry.db (default /var/lib/quillbay), holds
// HKEY_LOCAL_MACHINE. The machine's hive is written by root and read by
// everyone: it is made with permissions that let every user read it, and a
// process that cannot write it opens it read-only.
//
// A hive file is made by the first write into it; until then a read sees
// only its top keys, so reading never leaves files behind.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "winreg.h"

struct sqlite3;

namespace platform {

using KeyId = int64_t;

enum class HiveKind { User, Machine };

// The top keys every hive file holds (with the IDs they have always had);
// the user's hive uses HKEY_CURRENT_USER and HKEY_USERS, the machine's hive
// HKEY_LOCAL_MACHINE.
constexpr KeyId kUserRoot = 2;
constexpr KeyId kMachineRoot = 3;
constexpr KeyId kUsersRoot = 4;

// Where a hive's file lives.
std::string HivePath(HiveKind kind);

// Whether this process may write a hive: its file and folder when the file
// exists, else the nearest existing folder of the chain it would be made in.
bool CanWriteHive(HiveKind kind);

struct StoredValue {
    std::string name; // UTF-8
    DWORD type = REG_NONE;
    std::string data; // as stored: string types in UTF-8
};

// One registry call on one hive: the process's lock on the hive's
// connection and a transaction that rolls back unless committed. Names are
// UTF-8 and compare case-insensitively.
class HiveTransaction {
public:
    HiveTransaction(HiveKind kind, bool write);
    ~HiveTransaction();
    HiveTransaction(const HiveTransaction &) = delete;
    HiveTransaction &operator=(const HiveTransaction &) = delete;

    // ERROR_SUCCESS, ERROR_ACCESS_DENIED (a write this process may not make)
    // or ERROR_REGISTRY_IO_FAILED.
    LSTATUS Status() const { return m_status; }
    bool Ok() const { return m_status == ERROR_SUCCESS; }

    bool Exists(KeyId id);
    KeyId Child(KeyId parent, const std::string &name);
    // The key a chain of names leads to from a key, or 0.
    KeyId Walk(KeyId from, const std::vector<std::string> &names);
    // The key a chain of names leads to, made where missing (0 on failure);
    // created tells whether any key was made.
    KeyId MakeChain(KeyId from, const std::vector<std::string> &names, bool &created);
    bool HasChildren(KeyId id);
    std::optional<std::string> ChildName(KeyId id, DWORD index);
    std::vector<std::string> ChildNames(KeyId id);

    std::optional<StoredValue> Value(KeyId key, const std::string &name);
    std::optional<StoredValue> ValueAt(KeyId key, DWORD index);
    bool SetValue(KeyId key, const StoredValue &value);
    // False when the key held no such value.
    bool DeleteValue(KeyId key, const std::string &name);
    // Deletes a key with everything below it; with keepRoot, only what is
    // below it.
    void DeleteTree(KeyId id, bool keepRoot);

    // ERROR_SUCCESS, or the error of the write: ERROR_DISK_FULL when the
    // disk is full, else ERROR_REGISTRY_IO_FAILED; the hive then keeps what
    // it held.
    LSTATUS Commit();
    // The error of the step that just failed, as Commit reports one.
    LSTATUS WriteError() const;

private:
    std::unique_lock<std::mutex> m_guard;
    sqlite3 *m_db = nullptr; // null: the hive has no file yet
    LSTATUS m_status = ERROR_SUCCESS;
    bool m_open = false;
};

} // namespace platform
