// AdoField: one column of a record set; its value is that of the current
// row when it is read.
#pragma once

#include <memory>

#include "AdoObject.h"
#include "CursorState.h"

namespace platform::ado {

class AdoField final : public AdoObject<Field> {
public:
    AdoField(std::shared_ptr<CursorState> cursor, size_t column);

    HRESULT STDMETHODCALLTYPE get_Name(BSTR *pbstr) override;
    HRESULT STDMETHODCALLTYPE get_Type(DataTypeEnum *pDataType) override;
    HRESULT STDMETHODCALLTYPE get_Value(VARIANT *pvar) override;

protected:
    HRESULT DefaultValue(VARIANT *out) override { return get_Value(out); }

private:
    std::shared_ptr<CursorState> m_cursor;
    size_t m_column;
};

} // namespace platform::ado
