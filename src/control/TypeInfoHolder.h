// TypeInfoHolder: the interface's type information, loaded from the
// registered type library on first use and kept for the life of the module,
// with a cache of its member names for GetIDsOfNames.
#pragma once

#include <map>
#include <string>

#include "platform/win32.h"

class TypeInfoHolder {
public:
    static TypeInfoHolder &Instance();

    // The type information, AddRef'd for the caller.
    HRESULT GetTypeInfo(ITypeInfo **ppTInfo);
    // Names from the cache; names it does not hold are asked of the type
    // information.
    HRESULT GetIDsOfNames(LPOLESTR *rgszNames, UINT cNames, DISPID *rgDispId);
    // Invokes a member on an instance of the interface.
    HRESULT Invoke(void *instance, DISPID dispid, WORD wFlags, DISPPARAMS *params, VARIANT *result,
                   EXCEPINFO *exception, UINT *argError);
    // Lets the type information go.
    void Release();
    // Deletes the module's holder, if one was made (the module is unloading).
    static void Unload();

private:
    TypeInfoHolder();
    ~TypeInfoHolder();
    HRESULT Load(); // under m_lock

    CRITICAL_SECTION m_lock;
    ITypeInfo *m_pInfo = nullptr;
    std::map<std::string, DISPID> m_names; // upper-case UTF-8 member names
};
