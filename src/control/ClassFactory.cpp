#include "ClassFactory.h"

#include "QuillDoc.h"

namespace {
LONG g_lockCount = 0;
}

void ModuleLock() { InterlockedIncrement(&g_lockCount); }
void ModuleUnlock() { InterlockedDecrement(&g_lockCount); }
LONG ModuleLockCount() { return InterlockedCompareExchange(&g_lockCount, 0, 0); }

HRESULT STDMETHODCALLTYPE ClassFactory::QueryInterface(REFIID riid, void **ppvObject) {
    if (!ppvObject)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
        *ppvObject = static_cast<IClassFactory *>(this);
        AddRef();
        return S_OK;
    }
    *ppvObject = nullptr;
    return E_NOINTERFACE;
}

// The factory lives as long as the module; references do not own it.
ULONG STDMETHODCALLTYPE ClassFactory::AddRef() { return 2; }
ULONG STDMETHODCALLTYPE ClassFactory::Release() { return 1; }

HRESULT STDMETHODCALLTYPE ClassFactory::CreateInstance(IUnknown *pUnkOuter, REFIID riid,
                                                       void **ppvObject) {
    return QuillDoc::Create(pUnkOuter, riid, ppvObject);
}

HRESULT STDMETHODCALLTYPE ClassFactory::LockServer(BOOL fLock) {
    if (fLock)
        ModuleLock();
    else
        ModuleUnlock();
    return S_OK;
}
