#include "AdoFields.h"

#include <new>

#include "AdoErrors.h"

namespace platform::ado {

AdoFields::AdoFields(std::shared_ptr<CursorState> cursor)
    : AdoObject(IID_Fields), m_cursor(std::move(cursor)),
      m_fields(m_cursor->rows.ColumnCount(), nullptr) {}

AdoFields::~AdoFields() {
    for (AdoField *field : m_fields) {
        if (field)
            field->Release();
    }
}

HRESULT STDMETHODCALLTYPE AdoFields::get_Count(LONG *c) {
    if (!c)
        return E_POINTER;
    *c = m_cursor->open ? static_cast<LONG>(m_fields.size()) : 0;
    return S_OK;
}

int AdoFields::ColumnOf(const VARIANT &index) const {
    if (index.vt == VT_BSTR)
        return m_cursor->rows.FindColumn(index.bstrVal, SysStringLen(index.bstrVal));
    LONG position = -1;
    if (!IndexNumber(index, position) || position < 0 ||
        position >= static_cast<LONG>(m_fields.size()))
        return -1;
    return position;
}

HRESULT STDMETHODCALLTYPE AdoFields::get_Item(VARIANT Index, Field **ppvObject) {
    if (!ppvObject)
        return E_POINTER;
    *ppvObject = nullptr;
    int column = m_cursor->open ? ColumnOf(Index) : -1;
    if (column < 0)
        return RaiseAdoError(adErrItemNotFound, u"ADODB.Fields", IID_Fields);
    AdoField *&field = m_fields[static_cast<size_t>(column)];
    if (!field)
        field = new (std::nothrow) AdoField(m_cursor, static_cast<size_t>(column));
    if (!field)
        return E_OUTOFMEMORY;
    field->AddRef();
    *ppvObject = field;
    return S_OK;
}

} // namespace platform::ado
