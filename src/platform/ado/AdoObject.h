// The plumbing every data access object shares: reference counting, the
// interface it answers, error information, and the dispatch part of its
// dual interface. The objects are driven through their interfaces; their
// IDispatch answers the default value (DISPID_VALUE) only, which is what
// VARIANT conversion asks an object for.
#pragma once

#include <atomic>
#include <new>
#include <string>

#include "../com/oleauto.h"
#include "adoint.h"

namespace platform::ado {

// The module's count of live objects and server locks.
void ModuleLock();
void ModuleUnlock();
LONG ModuleLockCount();

// Sets the thread's error object (source, description) and returns hr.
HRESULT RaiseError(HRESULT hr, const std::u16string &source, const std::u16string &description,
                   REFIID iid);
// Raises one of the objects' own errors with its text.
HRESULT RaiseAdoError(ErrorValueEnum error, const char16_t *source, REFIID iid);
inline HRESULT AdoHresult(ErrorValueEnum error) {
    return static_cast<HRESULT>(0x800A0000u | static_cast<ULONG>(error));
}

template <class Interface> class AdoObject : public Interface, public ISupportErrorInfo {
public:
    explicit AdoObject(REFIID iid) : m_iid(iid) { ModuleLock(); }
    AdoObject(const AdoObject &) = delete;
    AdoObject &operator=(const AdoObject &) = delete;
    virtual ~AdoObject() { ModuleUnlock(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == m_iid)
            *ppv = static_cast<Interface *>(this);
        else if (riid == IID_ISupportErrorInfo)
            *ppv = static_cast<ISupportErrorInfo *>(this);
        else
            *ppv = Other(riid);
        if (!*ppv)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --m_refs;
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *pctinfo) override {
        if (!pctinfo)
            return E_POINTER;
        *pctinfo = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **ppTInfo) override {
        if (ppTInfo)
            *ppTInfo = nullptr;
        return DISP_E_BADINDEX;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *, UINT cNames, LCID,
                                            DISPID *rgDispId) override {
        for (UINT i = 0; rgDispId && i < cNames; ++i)
            rgDispId[i] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID, LCID, WORD wFlags,
                                     DISPPARAMS *pDispParams, VARIANT *pVarResult, EXCEPINFO *,
                                     UINT *) override {
        if (dispIdMember != DISPID_VALUE || !(wFlags & DISPATCH_PROPERTYGET))
            return DISP_E_MEMBERNOTFOUND;
        if (pDispParams && pDispParams->cArgs != 0)
            return DISP_E_BADPARAMCOUNT;
        if (!pVarResult)
            return E_POINTER;
        return DefaultValue(pVarResult);
    }

    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
        return riid == m_iid ? S_OK : S_FALSE;
    }

protected:
    // The object's default property; none unless the object has one.
    virtual HRESULT DefaultValue(VARIANT *out) { return DISP_E_MEMBERNOTFOUND; }
    // Further interfaces (or the object itself under a private IID).
    virtual void *Other(REFIID riid) { return nullptr; }

private:
    std::atomic<ULONG> m_refs{1};
    const IID &m_iid;
};

// A class factory's CreateInstance for an object class: a new object asked
// for riid (the objects are not aggregated).
template <class Object> HRESULT CreateObject(IUnknown *pUnkOuter, REFIID riid, void **ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter)
        return CLASS_E_NOAGGREGATION;
    auto *object = new (std::nothrow) Object;
    if (!object)
        return E_OUTOFMEMORY;
    HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

// An interface pointer held for the life of a scope or member.
template <class T> class Held {
public:
    Held() = default;
    explicit Held(T *pointer) : m_pointer(pointer) {}
    Held(const Held &) = delete;
    Held &operator=(const Held &) = delete;
    ~Held() { Reset(); }
    void Reset(T *pointer = nullptr) {
        if (m_pointer)
            m_pointer->Release();
        m_pointer = pointer;
    }
    T *Get() const { return m_pointer; }
    T *operator->() const { return m_pointer; }
    explicit operator bool() const { return m_pointer != nullptr; }
    // Hands out a new reference.
    T *Share() const {
        if (m_pointer)
            m_pointer->AddRef();
        return m_pointer;
    }

private:
    T *m_pointer = nullptr;
};

} // namespace platform::ado
