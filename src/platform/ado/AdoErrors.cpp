#include "AdoErrors.h"

#include <new>

namespace platform::ado {

bool IndexNumber(const VARIANT &index, LONG &number) {
    VARIANT converted;
    VariantInit(&converted);
    if (FAILED(VariantChangeType(&converted, &index, 0, VT_I4)))
        return false;
    number = converted.lVal;
    return true;
}

AdoErrors::AdoErrors() : AdoObject(IID_Errors) {}

HRESULT STDMETHODCALLTYPE AdoErrors::get_Count(LONG *c) {
    if (!c)
        return E_POINTER;
    std::lock_guard<std::mutex> guard(m_lock);
    *c = static_cast<LONG>(m_records.size());
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AdoErrors::get_Item(VARIANT Index, Error **ppvObject) {
    if (!ppvObject)
        return E_POINTER;
    *ppvObject = nullptr;
    LONG position = -1;
    std::lock_guard<std::mutex> guard(m_lock);
    if (!IndexNumber(Index, position) || position < 0 ||
        position >= static_cast<LONG>(m_records.size()))
        return RaiseAdoError(adErrItemNotFound, u"ADODB.Errors", IID_Errors);
    *ppvObject = new (std::nothrow) AdoError(m_records[static_cast<size_t>(position)]);
    return *ppvObject ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE AdoErrors::Clear() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_records.clear();
    return S_OK;
}

void AdoErrors::Replace(std::vector<ErrorRecord> records) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_records = std::move(records);
}

std::vector<ErrorRecord> AdoErrors::Records() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_records;
}

} // namespace platform::ado
