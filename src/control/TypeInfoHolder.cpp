#include "TypeInfoHolder.h"

#include <atomic>
#include <cctype>

#include "platform/kernel/TextConvert.h"
#include "quillbay_i.h"

namespace {

std::string UpperUtf8(const WCHAR *name) {
    std::string text = platform::WideToUtf8(name);
    for (char &c : text)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

namespace {
// The module's holder, made on first use and deleted when the module unloads.
std::atomic<TypeInfoHolder *> g_holder{nullptr};
} // namespace

TypeInfoHolder &TypeInfoHolder::Instance() {
    static TypeInfoHolder *holder = [] {
        auto *made = new TypeInfoHolder;
        g_holder = made;
        return made;
    }();
    return *holder;
}

void TypeInfoHolder::Unload() {
    delete g_holder.exchange(nullptr);
}

TypeInfoHolder::TypeInfoHolder() {
    InitializeCriticalSection(&m_lock);
}

TypeInfoHolder::~TypeInfoHolder() {
    Release();
    DeleteCriticalSection(&m_lock);
}

HRESULT TypeInfoHolder::Load() {
    if (m_pInfo)
        return S_OK;
    ITypeLib *library = nullptr;
    HRESULT hr = LoadRegTypeLib(LIBID_QUILLBAYLib, 1, 0, 0x409, &library);
    if (FAILED(hr))
        return hr;
    hr = library->GetTypeInfoOfGuid(IID_IQuillDoc, &m_pInfo);
    library->Release();
    if (FAILED(hr))
        return hr;
    TYPEATTR *attr = nullptr;
    if (SUCCEEDED(m_pInfo->GetTypeAttr(&attr))) {
        for (UINT i = 0; i < attr->cFuncs; ++i) {
            FUNCDESC *desc = nullptr;
            if (FAILED(m_pInfo->GetFuncDesc(i, &desc)))
                continue;
            BSTR name = nullptr;
            UINT count = 0;
            if (SUCCEEDED(m_pInfo->GetNames(desc->memid, &name, 1, &count)) && count == 1) {
                m_names[UpperUtf8(name)] = desc->memid;
                SysFreeString(name);
            }
            m_pInfo->ReleaseFuncDesc(desc);
        }
        m_pInfo->ReleaseTypeAttr(attr);
    }
    return S_OK;
}

HRESULT TypeInfoHolder::GetTypeInfo(ITypeInfo **ppTInfo) {
    if (!ppTInfo)
        return E_POINTER;
    *ppTInfo = nullptr;
    EnterCriticalSection(&m_lock);
    HRESULT hr = Load();
    if (SUCCEEDED(hr)) {
        m_pInfo->AddRef();
        *ppTInfo = m_pInfo;
    }
    LeaveCriticalSection(&m_lock);
    return hr;
}

HRESULT TypeInfoHolder::GetIDsOfNames(LPOLESTR *rgszNames, UINT cNames, DISPID *rgDispId) {
    if (!rgszNames || !rgDispId || cNames == 0)
        return E_INVALIDARG;
    EnterCriticalSection(&m_lock);
    HRESULT hr = Load();
    if (SUCCEEDED(hr)) {
        auto it = cNames == 1 ? m_names.find(UpperUtf8(rgszNames[0])) : m_names.end();
        if (it != m_names.end())
            rgDispId[0] = it->second;
        else
            hr = m_pInfo->GetIDsOfNames(rgszNames, cNames, rgDispId);
    }
    LeaveCriticalSection(&m_lock);
    return hr;
}

HRESULT TypeInfoHolder::Invoke(void *instance, DISPID dispid, WORD wFlags, DISPPARAMS *params,
                               VARIANT *result, EXCEPINFO *exception, UINT *argError) {
    ITypeInfo *info = nullptr;
    HRESULT hr = GetTypeInfo(&info);
    if (FAILED(hr))
        return hr;
    hr = info->Invoke(instance, dispid, wFlags, params, result, exception, argError);
    info->Release();
    return hr;
}

void TypeInfoHolder::Release() {
    EnterCriticalSection(&m_lock);
    if (m_pInfo)
        m_pInfo->Release();
    m_pInfo = nullptr;
    m_names.clear();
    LeaveCriticalSection(&m_lock);
}
