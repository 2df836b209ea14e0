// RowSet: a client-side snapshot of one result: its columns and every row,
// read once from the provider and then walked in memory, as a static
// cursor is. Values keep the types the objects give them: integers VT_I4
// (VT_I8 for 64-bit columns), floating numbers VT_R8, exact numbers
// VT_DECIMAL (text when a number does not fit one), text VT_BSTR, dates and
// times VT_DATE, truth values VT_BOOL, binary data VT_ARRAY | VT_UI1, and
// VT_NULL for NULL.
#pragma once

#include <string>
#include <vector>

#include "ChunkedStore.h"
#include "Provider.h"
#include "ValueArena.h"
#include "adoint.h"

namespace platform::ado {

class RowSet final : public RowSink {
public:
    void SetColumns(std::vector<ColumnInfo> columns) override;
    size_t ColumnCount() const { return m_columns.size(); }
    size_t RowCount() const { return m_columns.empty() ? 0 : m_cells.size() / m_columns.size(); }
    const ColumnInfo &Column(size_t index) const { return m_columns[index]; }
    // The column of that name (compared without regard to case), or -1.
    int FindColumn(const WCHAR *name, size_t length) const;

    // Building: the cells of each row in column order.
    void AddNull() override;
    void AddInt32(std::int32_t value) override;
    void AddInt64(std::int64_t value) override;
    void AddDouble(double value) override;
    void AddBool(bool value) override;
    void AddDateTime(int year, int month, int day, int hour, int minute, int second) override;
    void AddDate(DATE value);
    void AddText(const char16_t *text, size_t length) override;
    // Digits of an exact number; kept as text when they do not fit DECIMAL.
    void AddDecimalText(const char16_t *text, size_t length) override;
    void AddBytes(const unsigned char *bytes, size_t length) override;

    // A copy of one value, the caller's to clear.
    HRESULT Value(size_t row, size_t column, VARIANT *out) const;

private:
    struct Cell {
        VARTYPE vt;
        ULONG length; // text (units) and binary (bytes)
        union {
            LONGLONG integer;
            double real;
            const void *data; // text, bytes or the DECIMAL, in m_values
        };
    };
    void AddStored(VARTYPE vt, const void *data, size_t bytes, size_t length);

    std::vector<ColumnInfo> m_columns;
    ChunkedStore<Cell> m_cells;
    ValueArena m_values;
};

} // namespace platform::ado
