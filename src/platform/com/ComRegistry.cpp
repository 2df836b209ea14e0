#include "ComRegistry.h"

#include "../kernel/TextConvert.h"
#include "objbase.h"

namespace platform {

std::string GuidText(REFGUID guid) {
    OLECHAR wide[39];
    StringFromGUID2(guid, wide, 39);
    return WideToUtf8(wide, 38);
}

bool ReadRegString(HKEY root, const std::string &subkey, const char *valueName, std::string &value) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD type = 0, size = 0;
    bool ok = RegQueryValueExA(key, valueName, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
              (type == REG_SZ || type == REG_EXPAND_SZ);
    if (ok) {
        std::string data(size + 1, '\0');
        DWORD got = size + 1;
        ok = RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<LPBYTE>(data.data()),
                              &got) == ERROR_SUCCESS;
        data.resize(got);
        value = data.substr(0, data.find('\0'));
    }
    RegCloseKey(key);
    return ok;
}

bool WriteRegString(HKEY root, const std::string &subkey, const char *valueName,
                    const std::string &value) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    bool ok = RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                             static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

std::string WideToAnsi(const WCHAR *wide) { return Utf8ToAnsi(WideToUtf8(wide)); }

} // namespace platform
