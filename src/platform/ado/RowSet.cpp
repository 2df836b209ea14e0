#include "RowSet.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "../com/Decimal.h"
#include "../com/oleauto.h"

namespace platform::ado {
namespace {

WCHAR Folded(WCHAR c) {
    return c >= u'a' && c <= u'z' ? static_cast<WCHAR>(c - 32) : c;
}

} // namespace

void RowSet::SetColumns(std::vector<ColumnInfo> columns) {
    m_columns = std::move(columns);
    m_cells.clear();
    m_values.Clear();
}

int RowSet::FindColumn(const WCHAR *name, size_t length) const {
    for (size_t i = 0; i < m_columns.size(); ++i) {
        const std::u16string &candidate = m_columns[i].name;
        if (candidate.size() != length)
            continue;
        size_t at = 0;
        while (at < length && Folded(candidate[at]) == Folded(name[at]))
            ++at;
        if (at == length)
            return static_cast<int>(i);
    }
    return -1;
}

void RowSet::AddNull() {
    m_cells.push_back(Cell{VT_NULL, 0, {0}});
}

void RowSet::AddInt32(std::int32_t value) {
    m_cells.push_back(Cell{VT_I4, 0, {value}});
}

void RowSet::AddInt64(std::int64_t value) {
    m_cells.push_back(Cell{VT_I8, 0, {value}});
}

void RowSet::AddBool(bool value) {
    m_cells.push_back(Cell{VT_BOOL, 0, {value ? -1 : 0}});
}

void RowSet::AddDouble(double value) {
    Cell cell{VT_R8, 0, {0}};
    cell.real = value;
    m_cells.push_back(cell);
}

void RowSet::AddDate(DATE value) {
    Cell cell{VT_DATE, 0, {0}};
    cell.real = value;
    m_cells.push_back(cell);
}

void RowSet::AddStored(VARTYPE vt, const void *data, size_t bytes, size_t length) {
    Cell cell{vt, static_cast<ULONG>(length), {0}};
    cell.data = m_values.Copy(data, bytes);
    m_cells.push_back(cell);
}

void RowSet::AddText(const char16_t *text, size_t length) {
    AddStored(VT_BSTR, text, length * sizeof(char16_t), length);
}

void RowSet::AddDecimalText(const char16_t *text, size_t length) {
    std::string digits;
    for (size_t i = 0; i < length; ++i)
        digits.push_back(text[i] < 128 ? static_cast<char>(text[i]) : '?');
    DECIMAL value;
    if (!DecimalFromText(digits, value))
        return AddText(text, length);
    AddStored(VT_DECIMAL, &value, sizeof value, 0);
}

void RowSet::AddBytes(const unsigned char *bytes, size_t length) {
    AddStored(VT_ARRAY | VT_UI1, bytes, length, length);
}

void RowSet::AddDateTime(int year, int month, int day, int hour, int minute, int second) {
    SYSTEMTIME time{static_cast<WORD>(year),
                    static_cast<WORD>(month),
                    0,
                    static_cast<WORD>(day),
                    static_cast<WORD>(hour),
                    static_cast<WORD>(minute),
                    static_cast<WORD>(second),
                    0};
    DATE value = 0;
    if (SystemTimeToVariantTime(&time, &value))
        return AddDate(value);
    // Out of the DATE range: kept as text rather than lost.
    char text[64];
    int n = snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour,
                     minute, second);
    std::u16string wide(text, text + n);
    AddText(wide.data(), wide.size());
}

HRESULT RowSet::Value(size_t row, size_t column, VARIANT *out) const {
    VariantInit(out);
    const Cell &cell = m_cells[row * m_columns.size() + column];
    switch (cell.vt) {
    case VT_I4:
        out->lVal = static_cast<LONG>(cell.integer);
        break;
    case VT_I8:
        out->llVal = cell.integer;
        break;
    case VT_BOOL:
        out->boolVal = cell.integer ? VARIANT_TRUE : VARIANT_FALSE;
        break;
    case VT_R8:
        out->dblVal = cell.real;
        break;
    case VT_DATE:
        out->date = cell.real;
        break;
    case VT_DECIMAL:
        memcpy(&out->decVal, cell.data, sizeof(DECIMAL));
        break;
    case VT_BSTR:
        out->bstrVal = SysAllocStringLen(static_cast<const WCHAR *>(cell.data), cell.length);
        if (!out->bstrVal)
            return E_OUTOFMEMORY;
        break;
    case VT_ARRAY | VT_UI1:
        out->parray = SafeArrayCreateVector(VT_UI1, 0, cell.length);
        if (!out->parray)
            return E_OUTOFMEMORY;
        if (cell.length)
            memcpy(out->parray->pvData, cell.data, cell.length);
        break;
    default:
        break;
    }
    out->vt = cell.vt;
    return S_OK;
}

} // namespace platform::ado
