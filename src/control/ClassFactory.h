// ClassFactory: makes QuillDoc objects; one per module, created on first
// request and kept until the module unloads.
#pragma once

#include "platform/win32.h"

class ClassFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppvObject) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *pUnkOuter, REFIID riid,
                                             void **ppvObject) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override;
};

// The module's lock count: live objects and LockServer locks.
void ModuleLock();
void ModuleUnlock();
LONG ModuleLockCount();
