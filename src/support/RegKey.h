// RegKey: reads and writes registry values for the system, one access at a
// time, and tells the user when a key cannot be created.
#pragma once

#include "platform/win32.h"

class RegKey {
public:
    RegKey() = default;
    RegKey(const RegKey &) = delete;
    RegKey &operator=(const RegKey &) = delete;
    ~RegKey();

    // Opens root\subkey with full access and reads one value; the key stays
    // open for ReadMore. False for an empty subkey or a failed open or read
    // (a value larger than the buffer included).
    bool Read(HKEY root, const char *subkey, const char *valueName, void *buffer, DWORD size,
              DWORD *type = nullptr, DWORD *sizeOut = nullptr);
    bool ReadMore(const char *valueName, void *buffer, DWORD size, DWORD *type = nullptr,
                  DWORD *sizeOut = nullptr);
    // Creates or opens root\subkey and sets a REG_SZ value of the text's bytes
    // without its terminator. A root that is not predefined is taken as an
    // open key and the value is set on it directly.
    bool Write(HKEY root, const char *subkey, const char *valueName, const char *text);
    void ReportCreateError(HKEY root, const char *subkey);
    void Close();

    static bool IsPredefined(HKEY root);
    static const char *RootName(HKEY root);

private:
    HKEY m_hKey = nullptr;
};
