// The module: its load and unload, and the four entry points an in-process
// server exports.
#include <string>

#include "ClassFactory.h"
#include "TypeInfoHolder.h"
#include "quillbay_i.h"
#include "platform/com/Registrar.h"
#include "platform/kernel/TextConvert.h"
#include "support/AnsiStr.h"
#include "support/ModuleGlobals.h"

#define DLLEXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr UINT kRegistryScript = 101;
constexpr DWORD DLL_PROCESS_DETACH = 0;
constexpr DWORD DLL_PROCESS_ATTACH = 1;

CRITICAL_SECTION g_factoryLock;
ClassFactory *g_pFactory = nullptr;

BOOL DllMain(HINSTANCE hInstance, DWORD reason) {
    if (reason == DLL_PROCESS_ATTACH) {
        InitializeCriticalSection(&g_factoryLock);
        DisableThreadLibraryCalls(hInstance);
    } else if (reason == DLL_PROCESS_DETACH) {
        delete g_pFactory;
        g_pFactory = nullptr;
        TypeInfoHolder::Unload();
        DeleteCriticalSection(&g_factoryLock);
    }
    return TRUE;
}

// Calls DllMain when the module is loaded into a process and unloaded.
struct ModuleLifetime {
    ModuleLifetime() { DllMain(ModuleInstance(), DLL_PROCESS_ATTACH); }
    ~ModuleLifetime() { DllMain(ModuleInstance(), DLL_PROCESS_DETACH); }
} g_lifetime;

std::u16string Wide(const AnsiStr &ansi) {
    AnsiStr copy(ansi);
    return copy.ToWide();
}

// The module's path with every single quote doubled, for the script.
AnsiStr QuotedModulePath() {
    AnsiStr path(AnsiStr::kModuleFile);
    AnsiStr quoted;
    for (DWORD i = 0; i < path.Length(); ++i) {
        quoted.AppendChar(path.c_str()[i]);
        if (path.c_str()[i] == '\'')
            quoted.AppendChar('\'');
    }
    return quoted;
}

// The type library: in the module itself, else in a .tlb beside it.
HRESULT LoadOwnTypeLib(ITypeLib **library, std::u16string &loadedFrom) {
    AnsiStr path(AnsiStr::kModuleFile);
    loadedFrom = Wide(path);
    HRESULT hr = LoadTypeLib(loadedFrom.c_str(), library);
    if (SUCCEEDED(hr))
        return hr;
    AnsiStr tlb(path);
    int dot = tlb.FindLast(".", 1);
    int slash = tlb.FindLast("/", 1);
    if (dot > slash)
        tlb.Delete(dot, static_cast<int>(tlb.Length()) - dot);
    tlb.Append(".tlb");
    loadedFrom = Wide(tlb);
    return LoadTypeLib(loadedFrom.c_str(), library);
}

} // namespace

DLLEXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID *ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (rclsid != CLSID_QuillDoc)
        return CLASS_E_CLASSNOTAVAILABLE;
    EnterCriticalSection(&g_factoryLock);
    if (!g_pFactory)
        g_pFactory = new (std::nothrow) ClassFactory;
    ClassFactory *factory = g_pFactory;
    LeaveCriticalSection(&g_factoryLock);
    if (!factory)
        return E_OUTOFMEMORY;
    return factory->QueryInterface(riid, ppv);
}

DLLEXPORT HRESULT DllCanUnloadNow() { return ModuleLockCount() == 0 ? S_OK : S_FALSE; }

DLLEXPORT HRESULT DllRegisterServer() {
    AnsiStr module = QuotedModulePath();
    const REGMAP_ENTRY map[] = {{"MODULE", module.c_str()}, {nullptr, nullptr}};
    HRESULT hr = RegistrarRunResource(ModuleInstance(), kRegistryScript, TRUE, map);
    if (FAILED(hr))
        return hr;
    ITypeLib *library = nullptr;
    std::u16string path;
    hr = LoadOwnTypeLib(&library, path);
    if (FAILED(hr))
        return hr;
    std::u16string helpDir = Wide(AnsiStr(AnsiStr::kModuleFolder));
    hr = RegisterTypeLib(library, path.c_str(), helpDir.c_str());
    library->Release();
    return hr;
}

DLLEXPORT HRESULT DllUnregisterServer() {
    AnsiStr module = QuotedModulePath();
    const REGMAP_ENTRY map[] = {{"MODULE", module.c_str()}, {nullptr, nullptr}};
    HRESULT hr = RegistrarRunResource(ModuleInstance(), kRegistryScript, FALSE, map);
    if (FAILED(hr))
        return hr;
    ITypeLib *library = nullptr;
    std::u16string path;
    if (FAILED(LoadOwnTypeLib(&library, path)))
        return S_OK;
    TLIBATTR *attr = nullptr;
    if (SUCCEEDED(library->GetLibAttr(&attr))) {
        // Looked up at run time, and skipped where the system lacks it.
        using UnRegisterFn = HRESULT(WINAPI *)(REFGUID, WORD, WORD, LCID, SYSKIND);
        if (HMODULE oleaut = LoadLibraryA("oleaut32.dll")) {
            auto unregister = reinterpret_cast<UnRegisterFn>(
                reinterpret_cast<void *>(GetProcAddress(oleaut, "UnRegisterTypeLib")));
            if (unregister)
                hr = unregister(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid,
                                attr->syskind);
            FreeLibrary(oleaut);
        }
        library->ReleaseTLibAttr(attr);
    }
    library->Release();
    return hr;
}
