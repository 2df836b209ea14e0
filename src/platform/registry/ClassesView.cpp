#include "ClassesView.h"

#include <algorithm>

namespace platform {
namespace {

constexpr HiveKind kReadOrder[] = {HiveKind::User, HiveKind::Machine};

KeyId TopOf(HiveKind hive) {
    return hive == HiveKind::User ? kUserRoot : kMachineRoot;
}

HiveKind Other(HiveKind hive) {
    return hive == HiveKind::User ? HiveKind::Machine : HiveKind::User;
}

ClassPath InHive(const ClassPath &path) {
    ClassPath full = {"Software", "Classes"};
    full.insert(full.end(), path.begin(), path.end());
    return full;
}

KeyId Find(HiveTransaction &tx, HiveKind hive, const ClassPath &path) {
    return tx.Walk(TopOf(hive), InHive(path));
}

bool Holds(HiveKind hive, const ClassPath &path) {
    HiveTransaction tx(hive, false);
    return tx.Ok() && Find(tx, hive, path);
}

bool HoldsValue(HiveKind hive, const ClassPath &path, const std::string &name) {
    HiveTransaction tx(hive, false);
    KeyId id = tx.Ok() ? Find(tx, hive, path) : 0;
    return id && tx.Value(id, name);
}

// Names compare as the hives compare them: ASCII letters without case.
std::string Folded(const std::string &name) {
    std::string folded = name;
    for (char &c : folded) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return folded;
}

// What a failed write through the view means: a user touching what only
// the machine holds is refused; anything else is simply not there.
LSTATUS Missing(HiveKind written, bool machineHoldsIt) {
    return written == HiveKind::User && machineHoldsIt ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
}

} // namespace

HiveKind ClassesView::WriteHive() {
    return CanWriteHive(HiveKind::Machine) ? HiveKind::Machine : HiveKind::User;
}

bool ClassesView::Exists(const ClassPath &path) {
    return path.empty() || Holds(HiveKind::User, path) || Holds(HiveKind::Machine, path);
}

LSTATUS ClassesView::OpenForRead(const ClassPath &path, std::unique_ptr<HiveTransaction> &tx,
                                 KeyId &id) {
    LSTATUS error = ERROR_SUCCESS;
    for (HiveKind hive : kReadOrder) {
        tx = std::make_unique<HiveTransaction>(hive, false);
        id = tx->Ok() ? Find(*tx, hive, path) : 0;
        if (id)
            return ERROR_SUCCESS;
        if (!tx->Ok() && error == ERROR_SUCCESS)
            error = tx->Status();
    }
    if (path.empty())
        return ERROR_SUCCESS;
    return error != ERROR_SUCCESS ? error : ERROR_KEY_DELETED;
}

LSTATUS ClassesView::SubkeyNames(const ClassPath &path, std::vector<std::string> &names) {
    names.clear();
    std::vector<std::string> folded;
    bool found = path.empty();
    for (HiveKind hive : kReadOrder) {
        HiveTransaction tx(hive, false);
        KeyId id = tx.Ok() ? Find(tx, hive, path) : 0;
        if (!id)
            continue;
        found = true;
        for (std::string &name : tx.ChildNames(id)) {
            std::string key = Folded(name);
            if (std::find(folded.begin(), folded.end(), key) != folded.end())
                continue; // the user's key of that name hides the machine's
            folded.push_back(key);
            names.push_back(std::move(name));
        }
    }
    std::stable_sort(names.begin(), names.end(), [](const std::string &a, const std::string &b) {
        return Folded(a) < Folded(b);
    });
    return found ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

LSTATUS ClassesView::Create(const ClassPath &path, bool &created) {
    const HiveKind hive = WriteHive();
    const bool elsewhere = Holds(Other(hive), path);
    HiveTransaction tx(hive, true);
    if (!tx.Ok())
        return tx.Status();
    bool made = false;
    if (!tx.MakeChain(TopOf(hive), InHive(path), made))
        return ERROR_REGISTRY_IO_FAILED;
    if (LSTATUS rc = tx.Commit(); rc != ERROR_SUCCESS)
        return rc;
    created = made && !elsewhere;
    return ERROR_SUCCESS;
}

LSTATUS ClassesView::SetValue(const ClassPath &path, const StoredValue &value) {
    const HiveKind hive = WriteHive();
    // A key only the other hive holds is made in this one for the value.
    const bool elsewhere = path.empty() || Holds(Other(hive), path);
    HiveTransaction tx(hive, true);
    if (!tx.Ok())
        return tx.Status();
    KeyId id = Find(tx, hive, path);
    if (!id && !elsewhere)
        return ERROR_KEY_DELETED;
    bool made = false;
    if (!id && !(id = tx.MakeChain(TopOf(hive), InHive(path), made)))
        return tx.WriteError();
    if (!tx.SetValue(id, value))
        return tx.WriteError();
    return tx.Commit();
}

LSTATUS ClassesView::DeleteValue(const ClassPath &path, const std::string &name) {
    const HiveKind hive = WriteHive();
    {
        HiveTransaction tx(hive, true);
        if (!tx.Ok())
            return tx.Status();
        KeyId id = Find(tx, hive, path);
        if (id && tx.DeleteValue(id, name))
            return tx.Commit();
    }
    return Missing(hive, HoldsValue(HiveKind::Machine, path, name));
}

LSTATUS ClassesView::Delete(const ClassPath &path, bool tree, bool keepKey) {
    if (path.empty() && !tree)
        return ERROR_ACCESS_DENIED; // the view's top is no key to delete
    const HiveKind hive = WriteHive();
    {
        HiveTransaction tx(hive, true);
        if (!tx.Ok())
            return tx.Status();
        if (KeyId id = Find(tx, hive, path)) {
            if (!tree && tx.HasChildren(id))
                return ERROR_ACCESS_DENIED;
            tx.DeleteTree(id, keepKey || path.empty());
            return tx.Commit();
        }
    }
    return Missing(hive, Holds(HiveKind::Machine, path));
}

} // namespace platform
