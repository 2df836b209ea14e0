// The component runtime: per-thread initialisation, ProgIDs, and creation of
// in-process objects whose servers the registry names.
#include <map>
#include <mutex>
#include <string>

#include "../kernel/TextConvert.h"
#include "../kernel/winbase.h"
#include "ComRegistry.h"
#include "objbase.h"

namespace platform {
namespace {

thread_local int t_initialised = 0;

// Servers stay loaded for the life of the process once they served a class.
std::mutex &ServerLock() {
    static auto *lock = new std::mutex;
    return *lock;
}

std::map<std::string, HMODULE> &Servers() {
    static auto *servers = new std::map<std::string, HMODULE>;
    return *servers;
}

HMODULE LoadServer(const std::string &path) {
    std::lock_guard<std::mutex> guard(ServerLock());
    auto it = Servers().find(path);
    if (it != Servers().end())
        return it->second;
    HMODULE module = LoadLibraryA(path.c_str());
    if (module)
        Servers()[path] = module;
    return module;
}

} // namespace
} // namespace platform

using namespace platform;

extern "C" HRESULT WINAPI CoInitializeEx(LPVOID, DWORD) {
    return t_initialised++ == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT WINAPI CoInitialize(LPVOID pvReserved) {
    return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
}

extern "C" void WINAPI CoUninitialize() {
    if (t_initialised > 0)
        --t_initialised;
}

extern "C" HRESULT WINAPI CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid) {
    if (!lpszProgID || !lpclsid)
        return E_INVALIDARG;
    std::string progId = WideToAnsi(lpszProgID);
    std::string text;
    if (progId.empty() || !ReadRegString(HKEY_CLASSES_ROOT, progId + "\\CLSID", nullptr, text)) {
        *lpclsid = GUID_NULL;
        return CO_E_CLASSSTRING;
    }
    std::u16string wide = Utf8ToWide(text);
    return CLSIDFromString(wide.c_str(), lpclsid) == S_OK ? S_OK : REGDB_E_CLASSNOTREG;
}

extern "C" HRESULT WINAPI CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID, REFIID riid,
                                           LPVOID *ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (t_initialised == 0)
        return CO_E_NOTINITIALIZED;
    if (!(dwClsContext & CLSCTX_INPROC_SERVER))
        return REGDB_E_CLASSNOTREG;
    std::string path;
    if (!ReadRegString(HKEY_CLASSES_ROOT, "CLSID\\" + GuidText(rclsid) + "\\InprocServer32",
                       nullptr, path) ||
        path.empty())
        return REGDB_E_CLASSNOTREG;
    HMODULE server = LoadServer(path);
    if (!server)
        return CO_E_DLLNOTFOUND;
    auto getClassObject = reinterpret_cast<LPFNGETCLASSOBJECT>(
        reinterpret_cast<void *>(GetProcAddress(server, "DllGetClassObject")));
    if (!getClassObject)
        return CO_E_ERRORINDLL;
    return getClassObject(rclsid, riid, ppv);
}

extern "C" HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext,
                                           REFIID riid, LPVOID *ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    IClassFactory *factory = nullptr;
    HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory,
                                  reinterpret_cast<void **>(&factory));
    if (FAILED(hr))
        return hr;
    hr = factory->CreateInstance(pUnkOuter, riid, ppv);
    factory->Release();
    return hr;
}

extern "C" HRESULT WINAPI OleRun(LPUNKNOWN pUnknown) {
    if (!pUnknown)
        return E_INVALIDARG;
    IRunnableObject *runnable = nullptr;
    if (FAILED(pUnknown->QueryInterface(IID_IRunnableObject, reinterpret_cast<void **>(&runnable))))
        return S_OK;
    HRESULT hr = runnable->Run(nullptr);
    runnable->Release();
    return hr;
}
