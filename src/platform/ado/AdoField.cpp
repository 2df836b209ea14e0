#include "AdoField.h"

#include "AdoError.h"

namespace platform::ado {

AdoField::AdoField(std::shared_ptr<CursorState> cursor, size_t column)
    : AdoObject(IID_Field), m_cursor(std::move(cursor)), m_column(column) {}

HRESULT STDMETHODCALLTYPE AdoField::get_Name(BSTR *pbstr) {
    return CopyText(m_cursor->rows.Column(m_column).name, pbstr);
}

HRESULT STDMETHODCALLTYPE AdoField::get_Type(DataTypeEnum *pDataType) {
    if (!pDataType)
        return E_POINTER;
    *pDataType = m_cursor->rows.Column(m_column).type;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AdoField::get_Value(VARIANT *pvar) {
    if (!pvar)
        return E_POINTER;
    VariantInit(pvar);
    const CursorState &cursor = *m_cursor;
    if (!cursor.open)
        return RaiseAdoError(adErrObjectClosed, u"ADODB.Field", IID_Field);
    if (cursor.AtStart() || cursor.AtEnd())
        return RaiseAdoError(adErrNoCurrentRecord, u"ADODB.Field", IID_Field);
    return cursor.rows.Value(static_cast<size_t>(cursor.position), m_column, pvar);
}

} // namespace platform::ado
