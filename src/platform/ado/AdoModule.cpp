// The data access module: the class objects of Connection, Recordset and
// Data Links, and its registration.
#include <string>

#include "../com/Registrar.h"
#include "../com/objbase.h"
#include "AdoConnection.h"
#include "AdoRecordset.h"
#include "DataLinks.h"

#define DLLEXPORT extern "C" __attribute__((visibility("default")))

namespace platform::ado {
namespace {

constexpr UINT kRegistryScript = 101;

using Creator = HRESULT (*)(IUnknown *, REFIID, void **);

// One per class; it lives as long as the module, so references do not own it.
class Factory final : public IClassFactory {
public:
    constexpr explicit Factory(Creator creator) : m_creator(creator) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = riid == IID_IUnknown || riid == IID_IClassFactory ? this : nullptr;
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *pUnkOuter, REFIID riid,
                                             void **ppv) override {
        return m_creator(pUnkOuter, riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override {
        fLock ? ModuleLock() : ModuleUnlock();
        return S_OK;
    }

private:
    Creator m_creator;
};

Factory g_connections(&CreateObject<AdoConnection>);
Factory g_recordsets(&CreateObject<AdoRecordset>);
Factory g_dataLinks(&CreateObject<DataLinks>);

HMODULE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ThisModule), &module);
    return module;
}

// The module's path with every single quote doubled, for the script.
std::string QuotedModulePath() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(ThisModule(), path, MAX_PATH);
    std::string quoted;
    for (const char *c = path; *c; ++c) {
        quoted.push_back(*c);
        if (*c == '\'')
            quoted.push_back('\'');
    }
    return quoted;
}

HRESULT RunScript(BOOL bRegister) {
    std::string module = QuotedModulePath();
    const REGMAP_ENTRY map[] = {{"MODULE", module.c_str()}, {nullptr, nullptr}};
    return RegistrarRunResource(ThisModule(), kRegistryScript, bRegister, map);
}

} // namespace
} // namespace platform::ado

using namespace platform::ado;

DLLEXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID *ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    Factory *factory = rclsid == CLSID_CADOConnection  ? &g_connections
                       : rclsid == CLSID_CADORecordset ? &g_recordsets
                       : rclsid == CLSID_DataLinks     ? &g_dataLinks
                                                       : nullptr;
    if (!factory)
        return CLASS_E_CLASSNOTAVAILABLE;
    return factory->QueryInterface(riid, ppv);
}

DLLEXPORT HRESULT DllCanUnloadNow() {
    return ModuleLockCount() == 0 ? S_OK : S_FALSE;
}

DLLEXPORT HRESULT DllRegisterServer() {
    return RunScript(TRUE);
}

DLLEXPORT HRESULT DllUnregisterServer() {
    return RunScript(FALSE);
}
