// HKEY_CLASSES_ROOT: the merged view of the machine's and the user's classes.
//
// A key of the view is a path below Software\Classes. Reading a key reads
// the user's key (the path below HKEY_CURRENT_USER\Software\Classes) when
// the user's hive holds it, else the machine's (below
// HKEY_LOCAL_MACHINE\Software\Classes); a key's subkeys are those of both. So a class a user
// registered wins over the same class registered for the machine.
//
// Writes (keys, values, deletions) go to one hive: the machine's when this
// process may write it (root registering for everyone), else the user's (a
// user registering for themselves). A user's deletion of what only the
// machine holds gives ERROR_ACCESS_DENIED.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Hive.h"

namespace platform {

using ClassPath = std::vector<std::string>; // UTF-8 names below Software\Classes

class ClassesView {
public:
    // The hive that writes through the view go to.
    static HiveKind WriteHive();

    // Whether the view holds a key (the view's own top always exists).
    static bool Exists(const ClassPath &path);
    // The hive's transaction and key that answer reads of a key; id 0 for the
    // view's top when no hive has classes yet.
    static LSTATUS OpenForRead(const ClassPath &path, std::unique_ptr<HiveTransaction> &tx,
                               KeyId &id);
    // The names of a key's subkeys in both hives, in name order, each once.
    static LSTATUS SubkeyNames(const ClassPath &path, std::vector<std::string> &names);

    static LSTATUS Create(const ClassPath &path, bool &created);
    static LSTATUS SetValue(const ClassPath &path, const StoredValue &value);
    static LSTATUS DeleteValue(const ClassPath &path, const std::string &name);
    // Deletes a key: with tree, everything below it too (keepKey: only what is
    // below it); otherwise only a key without subkeys.
    static LSTATUS Delete(const ClassPath &path, bool tree, bool keepKey);
};

} // namespace platform
