// The registry's calls over its two hives.
//
// HKEY_CURRENT_USER and HKEY_USERS are keys of the user's hive,
// HKEY_LOCAL_MACHINE of the machine's hive. HKEY_CLASSES_ROOT is a view that
// merges HKEY_LOCAL_MACHINE\Software\Classes with
// HKEY_CURRENT_USER\Software\Classes (see ClassesView.h). Names and string
// values are handed to callers in the ANSI code page.
#include "winreg.h"

#include <cstring>
#include <memory>

#include "../kernel/KernelObject.h"
#include "../kernel/PathRules.h"
#include "../kernel/TextConvert.h"
#include "../kernel/winnls.h"
#include "ClassesView.h"

namespace platform {
namespace {

// What a handle stands for: a key of one hive, or a path in the classes view.
struct KeyView {
    bool classes = false;
    HiveKind hive = HiveKind::User;
    KeyId id = 0;
    ClassPath path;
};

class OpenKey : public KernelObject {
public:
    explicit OpenKey(KeyView view) : m_view(std::move(view)) {}
    const KeyView &View() const { return m_view; }

private:
    KeyView m_view;
};

bool IsPredefined(HKEY key) {
    return key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE ||
           key == HKEY_USERS;
}

LSTATUS ViewOf(HKEY key, KeyView &view) {
    view = KeyView{};
    if (key == HKEY_CLASSES_ROOT)
        view.classes = true;
    else if (key == HKEY_CURRENT_USER)
        view.id = kUserRoot;
    else if (key == HKEY_USERS)
        view.id = kUsersRoot;
    else if (key == HKEY_LOCAL_MACHINE)
        view.hive = HiveKind::Machine, view.id = kMachineRoot;
    else if (auto open = LookupHandleAs<OpenKey>(key))
        view = open->View();
    else
        return ERROR_INVALID_HANDLE;
    return ERROR_SUCCESS;
}

HKEY NewHandle(KeyView view) {
    return static_cast<HKEY>(AddHandle(std::make_shared<OpenKey>(std::move(view))));
}

// The key names of a path, split after the whole path is converted: a '\\'
// that is the trail byte of a double-byte character (嘰 is 87 5C in GBK)
// never splits a name.
ClassPath SplitKeyPath(const char *subKey) {
    return SplitNames(AnsiToUtf8(subKey ? subKey : ""), '\\');
}

ClassPath Joined(const ClassPath &head, const ClassPath &tail) {
    ClassPath path = head;
    path.insert(path.end(), tail.begin(), tail.end());
    return path;
}

bool IsStringType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

LSTATUS CopyOutName(const std::string &utf8, LPSTR name, LPDWORD length) {
    std::string ansi = Utf8ToAnsi(utf8);
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
LSTATUS CopyOutData(const StoredValue &value, LPDWORD lpType, LPBYTE data, LPDWORD size) {
    std::string bytes = IsStringType(value.type) ? Utf8ToAnsi(value.data) : value.data;
    if (lpType)
        *lpType = value.type;
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
    if (IsStringType(value.type) && *size > bytes.size())
        data[bytes.size()] = 0;
    *size = static_cast<DWORD>(bytes.size());
    return ERROR_SUCCESS;
}

// Opens a key of one hive for a call: the transaction and the key's ID, or
// the error (a handle whose key was deleted gives ERROR_KEY_DELETED).
LSTATUS OpenPlain(const KeyView &view, bool write, std::unique_ptr<HiveTransaction> &tx) {
    tx = std::make_unique<HiveTransaction>(view.hive, write);
    if (!tx->Ok())
        return tx->Status();
    return tx->Exists(view.id) ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

// The key a view stands for, for reading: a plain key, or the hive that
// answers for a classes-view path.
LSTATUS OpenForRead(const KeyView &view, std::unique_ptr<HiveTransaction> &tx, KeyId &id) {
    if (!view.classes) {
        id = view.id;
        return OpenPlain(view, false, tx);
    }
    return ClassesView::OpenForRead(view.path, tx, id);
}

// A value to store, converted from the caller's ANSI text.
StoredValue ValueToStore(LPCSTR name, DWORD type, const BYTE *data, DWORD size) {
    std::string bytes(
        reinterpret_cast<const char *>(data ? data : reinterpret_cast<const BYTE *>("")), size);
    if (IsStringType(type))
        bytes = ConvertText(CP_ACP, CP_UTF8, bytes.data(), bytes.size());
    return StoredValue{AnsiToUtf8(name), type, bytes};
}

LSTATUS CreatePlain(const KeyView &view, const ClassPath &parts, PHKEY result,
                    LPDWORD disposition) {
    std::unique_ptr<HiveTransaction> tx;
    if (LSTATUS rc = OpenPlain(view, true, tx); rc != ERROR_SUCCESS)
        return rc;
    bool created = false;
    KeyId id = tx->MakeChain(view.id, parts, created);
    if (!id)
        return tx->WriteError();
    if (LSTATUS rc = tx->Commit(); rc != ERROR_SUCCESS)
        return rc;
    if (disposition)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = NewHandle(KeyView{false, view.hive, id, {}});
    return ERROR_SUCCESS;
}

// Deletes a key of one hive: with tree, everything below it too (and with an
// empty subkey only what is below it); otherwise only a key without subkeys.
LSTATUS DeletePlain(const KeyView &view, const ClassPath &parts, bool tree) {
    std::unique_ptr<HiveTransaction> tx;
    if (LSTATUS rc = OpenPlain(view, true, tx); rc != ERROR_SUCCESS)
        return rc;
    KeyId id = tx->Walk(view.id, parts);
    if (!id)
        return ERROR_FILE_NOT_FOUND;
    const bool top = id <= kUsersRoot;
    if (!tree && (top || tx->HasChildren(id)))
        return ERROR_ACCESS_DENIED;
    tx->DeleteTree(id, tree && (top || parts.empty()));
    return tx->Commit();
}

} // namespace
} // namespace platform

using namespace platform;

extern "C" LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM,
                                        PHKEY phkResult) {
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    KeyView view;
    if (LSTATUS rc = ViewOf(hKey, view); rc != ERROR_SUCCESS)
        return rc;
    ClassPath parts = SplitKeyPath(lpSubKey);
    if (view.classes) {
        ClassPath path = Joined(view.path, parts);
        if (!ClassesView::Exists(path))
            return ERROR_FILE_NOT_FOUND;
        *phkResult = NewHandle(KeyView{true, HiveKind::User, 0, path});
        return ERROR_SUCCESS;
    }
    std::unique_ptr<HiveTransaction> tx;
    if (LSTATUS rc = OpenPlain(view, false, tx); rc != ERROR_SUCCESS)
        return rc;
    KeyId id = tx->Walk(view.id, parts);
    if (!id)
        return ERROR_FILE_NOT_FOUND;
    *phkResult = NewHandle(KeyView{false, view.hive, id, {}});
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
    KeyView view;
    if (LSTATUS rc = ViewOf(hKey, view); rc != ERROR_SUCCESS)
        return rc;
    ClassPath parts = SplitKeyPath(lpSubKey);
    if (!view.classes)
        return CreatePlain(view, parts, phkResult, lpdwDisposition);
    ClassPath path = Joined(view.path, parts);
    bool created = false;
    if (LSTATUS rc = ClassesView::Create(path, created); rc != ERROR_SUCCESS)
        return rc;
    if (lpdwDisposition)
        *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *phkResult = NewHandle(KeyView{true, HiveKind::User, 0, path});
    return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD, LPDWORD lpType,
                                           LPBYTE lpData, LPDWORD lpcbData) {
    if (lpData && !lpcbData)
        return ERROR_INVALID_PARAMETER;
    KeyView view;
    if (LSTATUS rc = ViewOf(hKey, view); rc != ERROR_SUCCESS)
        return rc;
    std::unique_ptr<HiveTransaction> tx;
    KeyId id = 0;
    if (LSTATUS rc = OpenForRead(view, tx, id); rc != ERROR_SUCCESS)
        return rc;
    auto value = id ? tx->Value(id, AnsiToUtf8(lpValueName)) : std::nullopt;
    if (!value)
        return ERROR_FILE_NOT_FOUND;
    return CopyOutData(*value, lpType, lpData, lpcbData);
}

extern "C" LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType,
                                         const BYTE *lpData, DWORD cbData) {
    if (!lpData && cbData)
        return ERROR_NOACCESS;
    KeyView view;
    if (LSTATUS rc = ViewOf(hKey, view); rc != ERROR_SUCCESS)
        return rc;
    StoredValue value = ValueToStore(lpValueName, dwType, lpData, cbData);
    if (view.classes)
        return ClassesView::SetValue(view.path, value);
    std::unique_ptr<HiveTransaction> tx;
    if (LSTATUS rc = OpenPlain(view, true, tx); rc != ERROR_SUCCESS)
        return rc;
    if (!tx->SetValue(view.id, value))
        return tx->WriteError();
    return tx->Commit();
}

extern "C" LSTATUS WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    KeyView view;
    if (LSTATUS rc = ViewOf(hKey, view); rc != ERROR_SUCCESS)
        return rc;
    if (view.classes)
        return ClassesView::DeleteValue(view.path, AnsiToUtf8(lpValueName));
    std::unique_ptr<HiveTransaction> tx;
    if (LSTATUS rc = OpenPlain(view, true, tx); rc != ERROR_SUCCESS)
        return rc;
    if (!tx->DeleteValue(view.id, AnsiToUtf8(lpValueName)))
        return ERROR_FILE_NOT_FOUND;
    return tx->Commit();
}

extern "C" LSTATUS WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    if (!lpSubKey)
        return ERROR_INVALID_PARAMETER;
    KeyView view;
    if (LSTATUS rc = ViewOf(hKey, view); rc != ERROR_SUCCESS)
        return rc;
    ClassPath parts = SplitKeyPath(lpSubKey);
    if (view.classes)
        return ClassesView::Delete(Joined(view.path, parts), false, false);
    return DeletePlain(view, parts, false);
}

extern "C" LSTATUS WINAPI RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey) {
    KeyView view;
    if (LSTATUS rc = ViewOf(hKey, view); rc != ERROR_SUCCESS)
        return rc;
    ClassPath parts = SplitKeyPath(lpSubKey);
    if (view.classes)
        return ClassesView::Delete(Joined(view.path, parts), true, parts.empty());
    return DeletePlain(view, parts, true);
}

extern "C" LSTATUS WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                                        LPDWORD, LPSTR, LPDWORD, void *) {
    KeyView view;
    if (LSTATUS rc = ViewOf(hKey, view); rc != ERROR_SUCCESS)
        return rc;
    std::optional<std::string> name;
    if (view.classes) {
        std::vector<std::string> names;
        if (LSTATUS rc = ClassesView::SubkeyNames(view.path, names); rc != ERROR_SUCCESS)
            return rc;
        if (dwIndex < names.size())
            name = names[dwIndex];
    } else {
        std::unique_ptr<HiveTransaction> tx;
        if (LSTATUS rc = OpenPlain(view, false, tx); rc != ERROR_SUCCESS)
            return rc;
        name = tx->ChildName(view.id, dwIndex);
    }
    if (!name)
        return ERROR_NO_MORE_ITEMS;
    return CopyOutName(*name, lpName, lpcchName);
}

extern "C" LSTATUS WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName,
                                        LPDWORD lpcchValueName, LPDWORD, LPDWORD lpType,
                                        LPBYTE lpData, LPDWORD lpcbData) {
    KeyView view;
    if (LSTATUS rc = ViewOf(hKey, view); rc != ERROR_SUCCESS)
        return rc;
    std::unique_ptr<HiveTransaction> tx;
    KeyId id = 0;
    if (LSTATUS rc = OpenForRead(view, tx, id); rc != ERROR_SUCCESS)
        return rc;
    auto value = id ? tx->ValueAt(id, dwIndex) : std::nullopt;
    if (!value)
        return ERROR_NO_MORE_ITEMS;
    LSTATUS rc = CopyOutName(value->name, lpValueName, lpcchValueName);
    if (rc != ERROR_SUCCESS)
        return rc;
    return CopyOutData(*value, lpType, lpData, lpcbData);
}

extern "C" LSTATUS WINAPI RegCloseKey(HKEY hKey) {
    if (IsPredefined(hKey))
        return ERROR_SUCCESS;
    if (!LookupHandleAs<OpenKey>(hKey))
        return ERROR_INVALID_HANDLE;
    RemoveHandle(hKey);
    return ERROR_SUCCESS;
}
