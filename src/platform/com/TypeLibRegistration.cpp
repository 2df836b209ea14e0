// Type-library registration: TypeLib\{LIBID}\version\locale\win64 holds the
// library's path, and each automation interface it describes is written
// under Interface with the library that owns it.
#include <cstdio>
#include <cstdlib>
#include <strings.h>
#include <vector>

#include "../kernel/TextConvert.h"
#include "../kernel/winbase.h"
#include "ComRegistry.h"
#include "oleauto.h"

namespace platform {
namespace {

// The proxy/stub class of automation interfaces, written with each interface.
constexpr const char *kAutomationMarshaler = "{00020424-0000-0000-C000-000000000046}";

std::string TypeLibKey(REFGUID guid) {
    return "TypeLib\\" + GuidText(guid);
}

std::string VersionText(WORD major, WORD minor) {
    char text[32];
    snprintf(text, sizeof text, "%x.%x", major, minor);
    return text;
}

// Registering a library again from the same file under another locale (a
// build whose library named none) leaves no second registration behind:
// the other locales' keys that point at this file are removed.
void RemoveOtherLocales(const std::string &base, const std::string &locale,
                        const std::string &path) {
    HKEY version = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, base.c_str(), 0, KEY_READ, &version) != ERROR_SUCCESS)
        return;
    std::vector<std::string> stale;
    char name[64];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof name;
        if (RegEnumKeyExA(version, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        // Locales are hexadecimal numbers; FLAGS and HELPDIR are not.
        char *end = nullptr;
        strtoul(name, &end, 16);
        if (end == name || *end || strcasecmp(name, locale.c_str()) == 0)
            continue;
        for (const char *platformName : {"win64", "win32"}) {
            std::string registered;
            if (ReadRegString(HKEY_CLASSES_ROOT, base + "\\" + name + "\\" + platformName, nullptr,
                              registered) &&
                registered == path) {
                stale.push_back(name);
                break;
            }
        }
    }
    RegCloseKey(version);
    for (const std::string &old : stale)
        RegDeleteTreeA(HKEY_CLASSES_ROOT, (base + "\\" + old).c_str());
}

} // namespace
} // namespace platform

using namespace platform;

extern "C" HRESULT WINAPI LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                                         ITypeLib **pptlib) {
    if (!pptlib)
        return E_INVALIDARG;
    *pptlib = nullptr;
    // The exact version first, then the highest minor version of the same major.
    std::string key = TypeLibKey(rguid);
    std::vector<std::string> versions = {VersionText(wVerMajor, wVerMinor)};
    HKEY libKey = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &libKey) == ERROR_SUCCESS) {
        char name[64];
        for (DWORD i = 0;; ++i) {
            DWORD length = sizeof name;
            if (RegEnumKeyExA(libKey, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS)
                break;
            unsigned major = 0, minor = 0;
            if (sscanf(name, "%x.%x", &major, &minor) == 2 && major == wVerMajor &&
                minor >= wVerMinor)
                versions.push_back(name);
        }
        RegCloseKey(libKey);
    }
    char lcidText[16];
    snprintf(lcidText, sizeof lcidText, "%x", lcid);
    for (const std::string &version : versions) {
        for (const char *locale : {static_cast<const char *>(lcidText), "0"}) {
            for (const char *platformName : {"win64", "win32"}) {
                std::string path;
                if (ReadRegString(HKEY_CLASSES_ROOT,
                                  key + "\\" + version + "\\" + locale + "\\" + platformName,
                                  nullptr, path)) {
                    std::u16string wide = Utf8ToWide(AnsiToUtf8(path.c_str()));
                    return LoadTypeLib(wide.c_str(), pptlib);
                }
            }
        }
    }
    return TYPE_E_LIBNOTREGISTERED;
}

extern "C" HRESULT WINAPI RegisterTypeLib(ITypeLib *ptlib, LPCOLESTR szFullPath,
                                          LPCOLESTR szHelpDir) {
    if (!ptlib || !szFullPath)
        return E_INVALIDARG;
    TLIBATTR *attr = nullptr;
    if (FAILED(ptlib->GetLibAttr(&attr)))
        return TYPE_E_INVALIDSTATE;
    const GUID libid = attr->guid;
    const std::string version = VersionText(attr->wMajorVerNum, attr->wMinorVerNum);
    char lcidText[16];
    snprintf(lcidText, sizeof lcidText, "%x", attr->lcid);
    ptlib->ReleaseTLibAttr(attr);

    BSTR help = nullptr;
    ptlib->GetDocumentation(-1, nullptr, &help, nullptr, nullptr);
    std::string base = TypeLibKey(libid) + "\\" + version;
    bool ok = WriteRegString(HKEY_CLASSES_ROOT, base, nullptr, WideToAnsi(help)) &&
              WriteRegString(HKEY_CLASSES_ROOT, base + "\\FLAGS", nullptr, "0") &&
              WriteRegString(HKEY_CLASSES_ROOT, base + "\\" + lcidText + "\\win64", nullptr,
                             WideToAnsi(szFullPath)) &&
              WriteRegString(HKEY_CLASSES_ROOT, base + "\\HELPDIR", nullptr,
                             szHelpDir ? WideToAnsi(szHelpDir) : "");
    SysFreeString(help);
    if (ok)
        RemoveOtherLocales(base, lcidText, WideToAnsi(szFullPath));

    for (UINT i = 0; ok && i < ptlib->GetTypeInfoCount(); ++i) {
        ITypeInfo *info = nullptr;
        if (FAILED(ptlib->GetTypeInfo(i, &info)))
            continue;
        TYPEATTR *type = nullptr;
        info->GetTypeAttr(&type);
        const bool automation = type->typekind == TKIND_DISPATCH ||
                                (type->typekind == TKIND_INTERFACE &&
                                 (type->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION)));
        if (automation) {
            BSTR name = nullptr;
            info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
            std::string key = "Interface\\" + GuidText(type->guid);
            ok = WriteRegString(HKEY_CLASSES_ROOT, key, nullptr, WideToAnsi(name)) &&
                 WriteRegString(HKEY_CLASSES_ROOT, key + "\\ProxyStubClsid", nullptr,
                                kAutomationMarshaler) &&
                 WriteRegString(HKEY_CLASSES_ROOT, key + "\\ProxyStubClsid32", nullptr,
                                kAutomationMarshaler) &&
                 WriteRegString(HKEY_CLASSES_ROOT, key + "\\TypeLib", nullptr, GuidText(libid)) &&
                 WriteRegString(HKEY_CLASSES_ROOT, key + "\\TypeLib", "Version", version);
            SysFreeString(name);
        }
        info->ReleaseTypeAttr(type);
        info->Release();
    }
    return ok ? S_OK : TYPE_E_REGISTRYACCESS;
}

extern "C" HRESULT WINAPI UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor,
                                            LCID lcid, SYSKIND) {
    const std::string libKey = TypeLibKey(libID);
    const std::string versionKey = libKey + "\\" + VersionText(wVerMajor, wVerMinor);
    HKEY probe = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, versionKey.c_str(), 0, KEY_READ, &probe) != ERROR_SUCCESS)
        return TYPE_E_REGISTRYACCESS;
    RegCloseKey(probe);

    // The interfaces this library registered.
    ITypeLib *library = nullptr;
    if (SUCCEEDED(LoadRegTypeLib(libID, wVerMajor, wVerMinor, lcid, &library))) {
        for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
            ITypeInfo *info = nullptr;
            if (FAILED(library->GetTypeInfo(i, &info)))
                continue;
            TYPEATTR *type = nullptr;
            info->GetTypeAttr(&type);
            std::string key = "Interface\\" + GuidText(type->guid);
            std::string owner;
            if (ReadRegString(HKEY_CLASSES_ROOT, key + "\\TypeLib", nullptr, owner) &&
                strcasecmp(owner.c_str(), GuidText(libID).c_str()) == 0)
                RegDeleteTreeA(HKEY_CLASSES_ROOT, key.c_str());
            info->ReleaseTypeAttr(type);
            info->Release();
        }
        library->Release();
    }
    // A library registered for the machine stays when a user may not remove it.
    if (RegDeleteTreeA(HKEY_CLASSES_ROOT, versionKey.c_str()) == ERROR_ACCESS_DENIED)
        return TYPE_E_REGISTRYACCESS;
    // The library's key goes too once no version is left in it.
    RegDeleteKeyA(HKEY_CLASSES_ROOT, libKey.c_str());
    return S_OK;
}
