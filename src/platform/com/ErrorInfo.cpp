// Error objects: a failing object describes the error (source, description,
// help) in an error object and sets it as the thread's; the caller takes it.
#include <atomic>
#include <new>

#include "oleauto.h"

namespace {

class ErrorObject final : public ICreateErrorInfo, public IErrorInfo {
public:
    ~ErrorObject() {
        SysFreeString(m_source);
        SysFreeString(m_description);
        SysFreeString(m_helpFile);
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IErrorInfo)
            *ppv = static_cast<IErrorInfo *>(this);
        else if (riid == IID_ICreateErrorInfo)
            *ppv = static_cast<ICreateErrorInfo *>(this);
        else
            *ppv = nullptr;
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

    HRESULT STDMETHODCALLTYPE SetGUID(REFGUID rguid) override {
        m_guid = rguid;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSource(LPOLESTR szSource) override {
        return Store(m_source, szSource);
    }
    HRESULT STDMETHODCALLTYPE SetDescription(LPOLESTR szDescription) override {
        return Store(m_description, szDescription);
    }
    HRESULT STDMETHODCALLTYPE SetHelpFile(LPOLESTR szHelpFile) override {
        return Store(m_helpFile, szHelpFile);
    }
    HRESULT STDMETHODCALLTYPE SetHelpContext(DWORD dwHelpContext) override {
        m_helpContext = dwHelpContext;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetGUID(GUID *pGUID) override {
        if (!pGUID)
            return E_INVALIDARG;
        *pGUID = m_guid;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSource(BSTR *pBstrSource) override {
        return Copy(m_source, pBstrSource);
    }
    HRESULT STDMETHODCALLTYPE GetDescription(BSTR *pBstrDescription) override {
        return Copy(m_description, pBstrDescription);
    }
    HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR *pBstrHelpFile) override {
        return Copy(m_helpFile, pBstrHelpFile);
    }
    HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD *pdwHelpContext) override {
        if (!pdwHelpContext)
            return E_INVALIDARG;
        *pdwHelpContext = m_helpContext;
        return S_OK;
    }

private:
    static HRESULT Store(BSTR &field, LPOLESTR text) {
        BSTR copy = SysAllocString(text);
        if (text && !copy)
            return E_OUTOFMEMORY;
        SysFreeString(field);
        field = copy;
        return S_OK;
    }
    static HRESULT Copy(BSTR field, BSTR *out) {
        if (!out)
            return E_INVALIDARG;
        *out = field ? SysAllocStringLen(field, SysStringLen(field)) : nullptr;
        return field && !*out ? E_OUTOFMEMORY : S_OK;
    }

    std::atomic<ULONG> m_refs{1};
    GUID m_guid = GUID_NULL;
    BSTR m_source = nullptr;
    BSTR m_description = nullptr;
    BSTR m_helpFile = nullptr;
    DWORD m_helpContext = 0;
};

// The thread's error object, released when the thread ends.
struct ThreadError {
    IErrorInfo *info = nullptr;
    ~ThreadError() {
        if (info)
            info->Release();
    }
};

thread_local ThreadError t_error;

} // namespace

extern "C" HRESULT WINAPI CreateErrorInfo(ICreateErrorInfo **pperrinfo) {
    if (!pperrinfo)
        return E_INVALIDARG;
    *pperrinfo = new (std::nothrow) ErrorObject;
    return *pperrinfo ? S_OK : E_OUTOFMEMORY;
}

extern "C" HRESULT WINAPI SetErrorInfo(ULONG, IErrorInfo *perrinfo) {
    if (perrinfo)
        perrinfo->AddRef();
    IErrorInfo *old = t_error.info;
    t_error.info = perrinfo;
    if (old)
        old->Release();
    return S_OK;
}

extern "C" HRESULT WINAPI GetErrorInfo(ULONG, IErrorInfo **pperrinfo) {
    if (!pperrinfo)
        return E_INVALIDARG;
    *pperrinfo = t_error.info;
    t_error.info = nullptr;
    return *pperrinfo ? S_OK : S_FALSE;
}
