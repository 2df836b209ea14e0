#include "AdoError.h"

namespace platform::ado {

HRESULT CopyText(const std::u16string &text, BSTR *out) {
    if (!out)
        return E_POINTER;
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

namespace {

HRESULT CopyNumber(LONG value, LONG *out) {
    if (!out)
        return E_POINTER;
    *out = value;
    return S_OK;
}

} // namespace

AdoError::AdoError(ErrorRecord record) : AdoObject(IID_Error), m_record(std::move(record)) {}

HRESULT STDMETHODCALLTYPE AdoError::get_Number(LONG *pl) {
    return CopyNumber(m_record.number, pl);
}

HRESULT STDMETHODCALLTYPE AdoError::get_Source(BSTR *pbstr) {
    return CopyText(m_record.source, pbstr);
}

HRESULT STDMETHODCALLTYPE AdoError::get_Description(BSTR *pbstr) {
    return CopyText(m_record.description, pbstr);
}

HRESULT STDMETHODCALLTYPE AdoError::get_HelpFile(BSTR *pbstr) {
    return CopyText(m_record.helpFile, pbstr);
}

HRESULT STDMETHODCALLTYPE AdoError::get_HelpContext(LONG *pl) {
    return CopyNumber(m_record.helpContext, pl);
}

HRESULT STDMETHODCALLTYPE AdoError::get_SQLState(BSTR *pbstr) {
    return CopyText(m_record.sqlState, pbstr);
}

HRESULT STDMETHODCALLTYPE AdoError::get_NativeError(LONG *pl) {
    return CopyNumber(m_record.nativeError, pl);
}

HRESULT AdoError::DefaultValue(VARIANT *out) {
    VariantInit(out);
    out->vt = VT_BSTR;
    return CopyText(m_record.description, &out->bstrVal);
}

} // namespace platform::ado
