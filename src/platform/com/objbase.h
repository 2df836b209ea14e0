// The component runtime: initialisation, GUID text, class lookup by ProgID
// and creation of in-process objects from the registry.
#pragma once

#include "oaidl.h"

#define COINIT_APARTMENTTHREADED 0x2
#define COINIT_MULTITHREADED 0x0
#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_INPROC_HANDLER 0x2
#define CLSCTX_LOCAL_SERVER 0x4
#define CLSCTX_ALL 0x17

extern "C" HRESULT WINAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
extern "C" HRESULT WINAPI CoInitialize(LPVOID pvReserved);
extern "C" void WINAPI CoUninitialize();
extern "C" HRESULT WINAPI CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid);
extern "C" HRESULT WINAPI CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid);
extern "C" HRESULT WINAPI IIDFromString(LPCOLESTR lpsz, IID *lpiid);
// Writes "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"; returns the characters
// written with the terminator (39), or 0 when cchMax is too small.
extern "C" int WINAPI StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);
extern "C" HRESULT WINAPI CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID pvReserved,
                                           REFIID riid, LPVOID *ppv);
extern "C" HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext,
                                           REFIID riid, LPVOID *ppv);
// Puts an object into its running state: objects that are not compound
// documents (no IRunnableObject) are running once created.
extern "C" HRESULT WINAPI OleRun(LPUNKNOWN pUnknown);
extern "C" LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb);
extern "C" void WINAPI CoTaskMemFree(LPVOID pv);

struct IBindCtx;

inline constexpr IID IID_IRunnableObject = {
    0x00000126, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

struct IRunnableObject : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetRunningClass(LPCLSID lpClsid) = 0;
    virtual HRESULT STDMETHODCALLTYPE Run(IBindCtx *pbc) = 0;
    virtual BOOL STDMETHODCALLTYPE IsRunning() = 0;
    virtual HRESULT STDMETHODCALLTYPE LockRunning(BOOL fLock, BOOL fLastUnlockCloses) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetContainedObject(BOOL fContained) = 0;
};

// The entry points an in-process server exports.
using LPFNGETCLASSOBJECT = HRESULT(STDMETHODCALLTYPE *)(REFCLSID, REFIID, LPVOID *);
using LPFNCANUNLOADNOW = HRESULT(STDMETHODCALLTYPE *)();
using LPFNREGISTERSERVER = HRESULT(STDMETHODCALLTYPE *)();
