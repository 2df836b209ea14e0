// AdoFields: the columns of a record set, found by name or position.
#pragma once

#include <memory>
#include <vector>

#include "AdoField.h"

namespace platform::ado {

class AdoFields final : public AdoObject<Fields> {
public:
    explicit AdoFields(std::shared_ptr<CursorState> cursor);
    ~AdoFields() override;

    HRESULT STDMETHODCALLTYPE get_Count(LONG *c) override;
    HRESULT STDMETHODCALLTYPE get_Item(VARIANT Index, Field **ppvObject) override;

private:
    // The column Index names, or -1.
    int ColumnOf(const VARIANT &index) const;

    std::shared_ptr<CursorState> m_cursor;
    std::vector<AdoField *> m_fields; // made on first request, one per column
};

} // namespace platform::ado
