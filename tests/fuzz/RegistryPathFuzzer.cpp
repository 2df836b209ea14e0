// The registry's key paths on arbitrary text: a key is made at the path in
// a hive of the run's own (under HKEY_CURRENT_USER and through the classes
// view), given a value, opened again and read back, then removed with
// everything made under the path's first name. The path's names are split
// after the whole text is converted from the ANSI code page, so a trail
// byte of a double-byte character never splits one.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "FuzzState.h"
#include "platform/win32.h"

namespace {

void MakeReadAndRemove(HKEY root, const std::string &path) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    static const BYTE kValue[] = "value";
    RegSetValueExA(key, "name", 0, REG_SZ, kValue, sizeof kValue);
    RegCloseKey(key);
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
        char data[16];
        DWORD size = sizeof data, type = 0;
        RegQueryValueExA(key, "name", nullptr, &type, reinterpret_cast<BYTE *>(data), &size);
        char name[300];
        DWORD length = sizeof name;
        RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
        RegCloseKey(key);
    }
    // The first name of the path, with everything the call made inside it.
    size_t start = path.find_first_not_of('\\');
    if (start == std::string::npos)
        return;
    RegDeleteTreeA(root, path.substr(start, path.find('\\', start) - start).c_str());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz_state::UseStateOfTheRun("registry");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 1024)
        return 0;
    // The text up to its first NUL, as the A functions see it.
    const std::string path(reinterpret_cast<const char *>(data), size);
    const std::string text = path.substr(0, path.find('\0'));
    MakeReadAndRemove(HKEY_CURRENT_USER, "Software\\Fuzz\\" + text);
    MakeReadAndRemove(HKEY_CLASSES_ROOT, text);
    return 0;
}
