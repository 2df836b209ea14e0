// QuillDoc: creation and destruction, its interfaces, and the result slot.
#include "QuillDoc.h"

#include <cstring>
#include <new>

#include "ClassFactory.h"
#include "TypeInfoHolder.h"
#include "support/RegKey.h"

namespace {

constexpr DWORD kSafeOptions =
    INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
constexpr DWORD kPageSetupSize = 100;
constexpr DWORD kPageSetupReadLimit = 96;

} // namespace

HRESULT QuillDoc::Create(IUnknown *pUnkOuter, REFIID riid, void **ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter && riid != IID_IUnknown)
        return CLASS_E_NOAGGREGATION;
    auto *object = new (std::nothrow) QuillDoc(pUnkOuter);
    if (!object)
        return E_OUTOFMEMORY;
    // The first reference is the caller's; a failed query destroys the object.
    object->m_inner.AddRef();
    HRESULT hr = object->m_inner.QueryInterface(riid, ppv);
    object->m_inner.Release();
    return hr;
}

QuillDoc::QuillDoc(IUnknown *pUnkOuter)
    : m_inner(this), m_pControlling(pUnkOuter ? pUnkOuter : &m_inner) {
    ModuleLock();
    m_pGuard = new (std::nothrow) DataGuard(kGuardName);
    ReadPageSetup();
    m_pDB = new (std::nothrow) DbSession;
    if (m_pDB)
        m_pDB->SetSink(&m_messages);
}

QuillDoc::~QuillDoc() {
    if (m_hPen)
        DeleteObject(m_hPen);
    delete m_pImageHttp;
    delete m_pHttp;
    delete m_pPicture;
    // A job the page never closed is not printed; its device context is
    // let go so the half-made document does not outlive the object.
    if (m_hDC) {
        SelectObject(m_hDC, m_hOldFont);
        DeleteDC(m_hDC);
        m_printer.ForgetDC();
    }
    if (m_pGuard) {
        m_pGuard->Close();
        delete m_pGuard;
    }
    delete m_pDB;
    SysFreeString(m_bstrResult);
    ModuleUnlock();
}

void QuillDoc::ReadPageSetup() {
    m_strHeader.Reserve(kPageSetupSize, true);
    m_strFooter.Reserve(kPageSetupSize, true);
    RegKey key;
    if (!key.Read(HKEY_CURRENT_USER, kPageSetupKey, "header", m_strHeader.Data(),
                  kPageSetupReadLimit))
        m_strHeader.Clear();
    if (!key.ReadMore("footer", m_strFooter.Data(), kPageSetupReadLimit))
        m_strFooter.Clear();
    key.Close();
    m_strHeader.Recount();
    m_strFooter.Recount();
}

void QuillDoc::SetResult(AnsiStr &text, BSTR *out) {
    m_bSlotPending = false;
    if (out) {
        // The caller's string is converted straight from the text, and the
        // slot keeps the text itself, in a block it keeps from text to text:
        // a long reply is converted once, for the caller, and again only if
        // the page asks for the slot (ResultSlot).
        *out = nullptr;
        if (text.ToBstr(out)) {
            if (&text != &m_strSlot)
                m_strSlot.Assign(text);
            m_bSlotPending = &text == &m_strSlot || m_strSlot.Length() == text.Length() ||
                             m_strSlot.Length() == strnlen(text.c_str(), text.Length());
        }
        if (m_bSlotPending || !*out) {
            SysFreeString(m_bstrResult);
            m_bstrResult = nullptr;
            return;
        }
        // Without room for the slot's text, the slot takes a copy of the
        // caller's string as before.
        if (!SysReAllocStringLen(&m_bstrResult, *out, SysStringLen(*out))) {
            SysFreeString(m_bstrResult);
            m_bstrResult = nullptr;
        }
        return;
    }
    // Converted straight into the slot, which keeps its block from text to
    // text where it can.
    if (!text.ToBstr(&m_bstrResult)) {
        SysFreeString(m_bstrResult);
        m_bstrResult = nullptr;
    }
}

BSTR QuillDoc::ResultSlot() {
    if (m_bSlotPending) {
        m_bSlotPending = false;
        if (!m_strSlot.ToBstr(&m_bstrResult)) {
            SysFreeString(m_bstrResult);
            m_bstrResult = nullptr;
        }
    }
    return m_bstrResult;
}

// ---- IUnknown -----------------------------------------------------------------

HRESULT STDMETHODCALLTYPE QuillDoc::InnerUnknown::QueryInterface(REFIID riid, void **ppv) {
    if (!ppv)
        return E_POINTER;
    QuillDoc *doc = m_owner;
    const bool aggregated = doc->m_pControlling != this;
    if (riid == IID_IUnknown)
        *ppv = aggregated ? static_cast<IUnknown *>(this) : static_cast<IQuillDoc *>(doc);
    else if (riid == IID_IQuillDoc || riid == IID_IDispatch)
        *ppv = static_cast<IQuillDoc *>(doc);
    else if (riid == IID_IObjectSafety)
        *ppv = static_cast<IObjectSafety *>(doc);
    else
        *ppv = nullptr;
    if (!*ppv)
        return E_NOINTERFACE;
    static_cast<IUnknown *>(*ppv)->AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE QuillDoc::InnerUnknown::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&m_owner->m_cRef));
}

ULONG STDMETHODCALLTYPE QuillDoc::InnerUnknown::Release() {
    LONG count = InterlockedDecrement(&m_owner->m_cRef);
    if (count == 0)
        delete m_owner;
    return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE QuillDoc::QueryInterface(REFIID riid, void **ppvObject) {
    return m_pControlling->QueryInterface(riid, ppvObject);
}

ULONG STDMETHODCALLTYPE QuillDoc::AddRef() {
    return m_pControlling->AddRef();
}

ULONG STDMETHODCALLTYPE QuillDoc::Release() {
    return m_pControlling->Release();
}

// ---- IDispatch ----------------------------------------------------------------

HRESULT STDMETHODCALLTYPE QuillDoc::GetTypeInfoCount(UINT *pctinfo) {
    if (!pctinfo)
        return E_POINTER;
    *pctinfo = 1;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE QuillDoc::GetTypeInfo(UINT iTInfo, LCID, ITypeInfo **ppTInfo) {
    if (!ppTInfo)
        return E_POINTER;
    *ppTInfo = nullptr;
    if (iTInfo != 0)
        return DISP_E_BADINDEX;
    return TypeInfoHolder::Instance().GetTypeInfo(ppTInfo);
}

HRESULT STDMETHODCALLTYPE QuillDoc::GetIDsOfNames(REFIID riid, LPOLESTR *rgszNames, UINT cNames,
                                                  LCID, DISPID *rgDispId) {
    if (riid != GUID_NULL)
        return DISP_E_UNKNOWNINTERFACE;
    return TypeInfoHolder::Instance().GetIDsOfNames(rgszNames, cNames, rgDispId);
}

HRESULT STDMETHODCALLTYPE QuillDoc::Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD wFlags,
                                           DISPPARAMS *pDispParams, VARIANT *pVarResult,
                                           EXCEPINFO *pExcepInfo, UINT *puArgErr) {
    if (riid != GUID_NULL)
        return DISP_E_UNKNOWNINTERFACE;
    return TypeInfoHolder::Instance().Invoke(static_cast<IQuillDoc *>(this), dispIdMember, wFlags,
                                             pDispParams, pVarResult, pExcepInfo, puArgErr);
}

// ---- IObjectSafety ------------------------------------------------------------

HRESULT STDMETHODCALLTYPE QuillDoc::GetInterfaceSafetyOptions(REFIID riid,
                                                              DWORD *pdwSupportedOptions,
                                                              DWORD *pdwEnabledOptions) {
    if (!pdwSupportedOptions || !pdwEnabledOptions)
        return E_POINTER;
    IUnknown *unknown = nullptr;
    HRESULT hr = QueryInterface(riid, reinterpret_cast<void **>(&unknown));
    if (SUCCEEDED(hr)) {
        unknown->Release();
        *pdwSupportedOptions = kSafeOptions;
        *pdwEnabledOptions = m_dwSafety;
    } else {
        *pdwSupportedOptions = 0;
        *pdwEnabledOptions = 0;
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE QuillDoc::SetInterfaceSafetyOptions(REFIID riid, DWORD dwOptionSetMask,
                                                              DWORD dwEnabledOptions) {
    IUnknown *unknown = nullptr;
    if (FAILED(QueryInterface(riid, reinterpret_cast<void **>(&unknown))))
        return E_NOINTERFACE;
    unknown->Release();
    if (dwOptionSetMask & ~kSafeOptions)
        return E_FAIL;
    m_dwSafety = (m_dwSafety & ~dwOptionSetMask) | dwEnabledOptions;
    return S_OK;
}
