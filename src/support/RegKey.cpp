#include "RegKey.h"

#include "AnsiStr.h"
#include "MessageBoxes.h"

RegKey::~RegKey() { Close(); }

bool RegKey::IsPredefined(HKEY root) {
    return root == HKEY_CLASSES_ROOT || root == HKEY_CURRENT_USER || root == HKEY_LOCAL_MACHINE ||
           root == HKEY_USERS;
}

const char *RegKey::RootName(HKEY root) {
    if (root == HKEY_CLASSES_ROOT)
        return "HKEY_CLASSES_ROOT";
    if (root == HKEY_CURRENT_USER)
        return "HKEY_CURRENT_USER";
    if (root == HKEY_LOCAL_MACHINE)
        return "HKEY_LOCAL_MACHINE";
    if (root == HKEY_USERS)
        return "HKEY_USERS";
    return "";
}

bool RegKey::Read(HKEY root, const char *subkey, const char *valueName, void *buffer, DWORD size,
                  DWORD *type, DWORD *sizeOut) {
    if (!subkey || !*subkey)
        return false;
    Close();
    if (RegOpenKeyExA(root, subkey, 0, KEY_ALL_ACCESS, &m_hKey) != ERROR_SUCCESS) {
        m_hKey = nullptr;
        return false;
    }
    return ReadMore(valueName, buffer, size, type, sizeOut);
}

bool RegKey::ReadMore(const char *valueName, void *buffer, DWORD size, DWORD *type,
                      DWORD *sizeOut) {
    if (!m_hKey)
        return false;
    DWORD valueType = 0;
    DWORD length = size;
    LONG rc = RegQueryValueExA(m_hKey, valueName, nullptr, &valueType,
                               static_cast<LPBYTE>(buffer), &length);
    if (type)
        *type = valueType;
    if (sizeOut)
        *sizeOut = length;
    return rc == ERROR_SUCCESS;
}

bool RegKey::Write(HKEY root, const char *subkey, const char *valueName, const char *text) {
    Close();
    const DWORD length = static_cast<DWORD>(lstrlenA(text));
    const auto *bytes = reinterpret_cast<const BYTE *>(text ? text : "");
    if (!IsPredefined(root))
        return RegSetValueExA(root, valueName, 0, REG_SZ, bytes, length) == ERROR_SUCCESS;
    if (!subkey)
        return false;
    if (RegCreateKeyExA(root, subkey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &m_hKey, nullptr) !=
        ERROR_SUCCESS) {
        m_hKey = nullptr;
        ReportCreateError(root, subkey);
        return false;
    }
    bool ok = RegSetValueExA(m_hKey, valueName, 0, REG_SZ, bytes, length) == ERROR_SUCCESS;
    Close();
    return ok;
}

void RegKey::ReportCreateError(HKEY root, const char *subkey) {
    AnsiStr format = AnsiStr::FromUtf8("错误：不能创建注册表项：%s\\%s");
    WarnBox(format.c_str(), RootName(root), subkey ? subkey : "");
}

void RegKey::Close() {
    if (m_hKey)
        RegCloseKey(m_hKey);
    m_hKey = nullptr;
}
