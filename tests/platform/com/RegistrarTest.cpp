#include <gtest/gtest.h>
#include <string>

#include "platform/com/Registrar.h"
#include "platform/win32.h"

namespace {

const char *kScript = R"(
HKCU
{
    NoRemove Software
    {
        NoRemove RegistrarTest
        {
            Sample.Class.1 = s 'Sample Class'
            {
                CLSID = s '{11111111-2222-3333-4444-555555555555}'
            }
            ForceRemove {11111111-2222-3333-4444-555555555555} = s 'Sample'
            {
                InprocServer32 = s '%MODULE%'
                {
                    val ThreadingModel = s 'Apartment'
                    val Count = d '42'
                }
                ForceRemove 'Programmable'
            }
        }
    }
}
)";

std::string Read(const std::string &subkey, const char *value) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "(no key)";
    char buffer[256] = {};
    DWORD size = sizeof buffer, type = 0;
    LONG rc = RegQueryValueExA(key, value, nullptr, &type, reinterpret_cast<LPBYTE>(buffer), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS)
        return "(no value)";
    if (type == REG_DWORD)
        return std::to_string(*reinterpret_cast<DWORD *>(buffer));
    return buffer;
}

bool KeyExists(const std::string &subkey) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

const std::string kBase = "Software\\RegistrarTest\\";
const std::string kClass = kBase + "{11111111-2222-3333-4444-555555555555}";

} // namespace

TEST(Registrar, RegistersKeysValuesAndSubstitutions) {
    const REGMAP_ENTRY map[] = {{"MODULE", "/opt/it''s/x.so"}, {nullptr, nullptr}};
    ASSERT_EQ(RegistrarRunScript(kScript, TRUE, map), S_OK);
    EXPECT_EQ(Read(kBase + "Sample.Class.1", nullptr), "Sample Class");
    EXPECT_EQ(Read(kBase + "Sample.Class.1\\CLSID", nullptr), "{11111111-2222-3333-4444-555555555555}");
    EXPECT_EQ(Read(kClass + "\\InprocServer32", nullptr), "/opt/it's/x.so");
    EXPECT_EQ(Read(kClass + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_EQ(Read(kClass + "\\InprocServer32", "Count"), "42");
    EXPECT_TRUE(KeyExists(kClass + "\\Programmable"));
}

TEST(Registrar, ForceRemoveStartsTheKeyAfresh) {
    const REGMAP_ENTRY map[] = {{"MODULE", "m.so"}, {nullptr, nullptr}};
    ASSERT_EQ(RegistrarRunScript(kScript, TRUE, map), S_OK);
    HKEY stray = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, (kClass + "\\Stray").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                    nullptr, &stray, nullptr);
    RegCloseKey(stray);
    ASSERT_EQ(RegistrarRunScript(kScript, TRUE, map), S_OK);
    EXPECT_FALSE(KeyExists(kClass + "\\Stray"));
}

TEST(Registrar, UnregisteringKeepsNoRemoveKeys) {
    const REGMAP_ENTRY map[] = {{"MODULE", "m.so"}, {nullptr, nullptr}};
    ASSERT_EQ(RegistrarRunScript(kScript, TRUE, map), S_OK);
    HKEY other = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, (kBase + "Other").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                    nullptr, &other, nullptr);
    RegCloseKey(other);
    ASSERT_EQ(RegistrarRunScript(kScript, FALSE, map), S_OK);
    EXPECT_FALSE(KeyExists(kClass));
    EXPECT_FALSE(KeyExists(kBase + "Sample.Class.1"));
    EXPECT_TRUE(KeyExists("Software\\RegistrarTest"));
    EXPECT_TRUE(KeyExists(kBase + "Other"));
}

TEST(Registrar, RefusesBadScriptsAndUnknownSubstitutions) {
    EXPECT_TRUE(FAILED(RegistrarRunScript("HKCU { Key = s 'unterminated }", TRUE, nullptr)));
    EXPECT_TRUE(FAILED(RegistrarRunScript("HKXX { }", TRUE, nullptr)));
    EXPECT_TRUE(FAILED(RegistrarRunScript("HKCU { K = s '%NOPE%' }", TRUE, nullptr)));
    EXPECT_FALSE(KeyExists("K"));
}
