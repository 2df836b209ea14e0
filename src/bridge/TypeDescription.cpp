#include "TypeDescription.h"

#include <vector>

#include "platform/com/ComRegistry.h"
#include "platform/kernel/TextConvert.h"

namespace bridge {
namespace {

using nlohmann::json;

std::string Utf8Of(BSTR text) {
    return platform::WideToUtf8(text, SysStringLen(text));
}

json DescribeFunction(ITypeInfo *info, const FUNCDESC &desc) {
    BSTR names[64] = {};
    UINT count = 0;
    if (FAILED(info->GetNames(desc.memid, names, 64, &count)) || count == 0)
        return nullptr;
    json params = json::array();
    bool returns = false;
    for (SHORT i = 0; i < desc.cParams; ++i) {
        USHORT flags = desc.lprgelemdescParam[i].paramdesc.wParamFlags;
        if (flags & PARAMFLAG_FRETVAL)
            returns = true;
        else if (!(flags & PARAMFLAG_FOUT) || (flags & PARAMFLAG_FIN))
            params.push_back(static_cast<UINT>(i) + 1 < count ? Utf8Of(names[i + 1]) : "");
    }
    json member = {{"name", Utf8Of(names[0])},
                   {"dispid", desc.memid},
                   {"params", params},
                   {"returns", returns || desc.invkind == INVOKE_PROPERTYGET}};
    for (UINT i = 0; i < count; ++i)
        SysFreeString(names[i]);
    return member;
}

// The default value of a key under HKEY_CLASSES_ROOT\\CLSID.
bool ClassValue(const std::string &key, std::string &value) {
    return platform::ReadRegString(HKEY_CLASSES_ROOT, "CLSID\\" + key, nullptr, value);
}

// The class's default interface, from the library that describes it.
ITypeInfo *DefaultInterface(ITypeLib *library, REFCLSID clsid) {
    ITypeInfo *coclass = nullptr, *iface = nullptr;
    if (FAILED(library->GetTypeInfoOfGuid(clsid, &coclass)))
        return nullptr;
    HREFTYPE ref = 0;
    if (SUCCEEDED(coclass->GetRefTypeOfImplType(0, &ref)))
        coclass->GetRefTypeInfo(ref, &iface);
    coclass->Release();
    return iface;
}

// The keys under HKEY_CLASSES_ROOT\\CLSID of classes meant for scripts
// (marked Programmable).
std::vector<std::string> ScriptableClassKeys() {
    std::vector<std::string> keys;
    HKEY clsids = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, &clsids) != ERROR_SUCCESS)
        return keys;
    char name[128];
    for (DWORD index = 0;; ++index) {
        DWORD length = sizeof name;
        if (RegEnumKeyExA(clsids, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        std::string key(name, length);
        HKEY marker = nullptr;
        if (RegOpenKeyExA(clsids, (key + "\\Programmable").c_str(), 0, KEY_READ, &marker) !=
            ERROR_SUCCESS)
            continue;
        RegCloseKey(marker);
        keys.push_back(key);
    }
    RegCloseKey(clsids);
    return keys;
}

json DescribeClass(const std::string &classKey) {
    std::string progId, libText;
    CLSID clsid;
    GUID libid;
    std::u16string wideClass = platform::Utf8ToWide(classKey);
    if (!ClassValue(classKey + "\\VersionIndependentProgID", progId) ||
        !ClassValue(classKey + "\\TypeLib", libText) ||
        CLSIDFromString(wideClass.c_str(), &clsid) != S_OK ||
        CLSIDFromString(platform::Utf8ToWide(libText).c_str(), &libid) != S_OK)
        return nullptr;
    ITypeLib *library = nullptr;
    if (FAILED(LoadRegTypeLib(libid, 1, 0, 0x409, &library)))
        return nullptr;
    ITypeInfo *info = DefaultInterface(library, clsid);
    library->Release();
    if (!info)
        return nullptr;
    json methods = DescribeMembers(info);
    info->Release();
    return {
        {"progId", progId}, {"classId", "clsid:" + classKey.substr(1, 36)}, {"methods", methods}};
}

} // namespace

json DescribeMembers(ITypeInfo *info) {
    json members = json::array();
    TYPEATTR *attr = nullptr;
    if (!info || FAILED(info->GetTypeAttr(&attr)))
        return members;
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        FUNCDESC *desc = nullptr;
        if (FAILED(info->GetFuncDesc(i, &desc)))
            continue;
        if (desc->invkind & (INVOKE_FUNC | INVOKE_PROPERTYGET)) {
            json member = DescribeFunction(info, *desc);
            if (!member.is_null())
                members.push_back(std::move(member));
        }
        info->ReleaseFuncDesc(desc);
    }
    info->ReleaseTypeAttr(attr);
    return members;
}

json DescribeMembers(IDispatch *dispatch) {
    UINT count = 0;
    ITypeInfo *info = nullptr;
    if (FAILED(dispatch->GetTypeInfoCount(&count)) || count == 0 ||
        FAILED(dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info)))
        return json::array();
    json members = DescribeMembers(info);
    info->Release();
    return members;
}

json DescribeClasses() {
    json classes = json::array();
    for (const std::string &key : ScriptableClassKeys()) {
        json description = DescribeClass(key);
        if (!description.is_null())
            classes.push_back(std::move(description));
    }
    return classes;
}

bool ClassServersIdle() {
    for (const std::string &key : ScriptableClassKeys()) {
        std::string path;
        if (!ClassValue(key + "\\InprocServer32", path))
            continue;
        HMODULE server = GetModuleHandleA(path.c_str());
        auto canUnload = server ? reinterpret_cast<LPFNCANUNLOADNOW>(reinterpret_cast<void *>(
                                      GetProcAddress(server, "DllCanUnloadNow")))
                                : nullptr;
        if (canUnload && canUnload() != S_OK)
            return false;
    }
    return true;
}

} // namespace bridge
