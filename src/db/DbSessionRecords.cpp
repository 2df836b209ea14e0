// DbSession: queries, commands, record sets and field values.
#include <new>

#include "DbSession.h"

namespace {

constexpr const char *kNoRecordsetMade = "创建数据集失败";
constexpr const char *kNoRecords = "数据库中没有记录";
constexpr const char *kNoRecordset = "无数据集";
constexpr const char *kNothingAffected = "操作未成功，数据库中没有符合条件的记录";
constexpr const char *kFatal = "致命错误";

VARIANT TextVariant(const char *ansi) {
    AnsiStr text(ansi ? ansi : "");
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocString(text.ToWide());
    return value;
}

} // namespace

// The holder, and a record set in it; false (recorded) when one cannot be
// had.
bool DbSession::EnsureRecordset() {
    if (!m_sel)
        m_sel = new (std::nothrow) DbSelection;
    if (m_sel && m_sel->m_pRs)
        return true;
    IUnknown *unknown = nullptr;
    HRESULT hr = m_sel ? CoCreateInstance(CLSID_CADORecordset, nullptr, CLSCTX_ALL, IID_IUnknown,
                                          reinterpret_cast<void **>(&unknown))
                       : E_OUTOFMEMORY;
    if (SUCCEEDED(hr))
        hr = OleRun(unknown);
    if (SUCCEEDED(hr))
        hr = unknown->QueryInterface(IID__Recordset, reinterpret_cast<void **>(&m_sel->m_pRs));
    if (unknown)
        unknown->Release();
    if (FAILED(hr)) {
        RecordUtf8(kNoRecordsetMade);
        return false;
    }
    return true;
}

int DbSession::Query(const char *szSql, int nCursorType, int nLockType) {
    if (!CurrentOpen() || !EnsureRecordset())
        return 0;
    if (m_bRsOpen)
        CloseRecordset();
    _Recordset *rs = m_sel->m_pRs;
    try {
        VARIANT source = TextVariant(szSql);
        VARIANT active;
        VariantInit(&active);
        active.vt = VT_DISPATCH;
        active.pdispVal = m_pCurrent->m_pConn;
        HRESULT hr = rs->Open(source, active, static_cast<CursorTypeEnum>(nCursorType),
                              static_cast<LockTypeEnum>(nLockType), adCmdText);
        VariantClear(&source);
        if (FAILED(hr))
            return QueryFailed(hr, rs, IID__Recordset);
        LONG state = adStateClosed;
        hr = rs->get_State(&state);
        m_bRsOpen = SUCCEEDED(hr) && state == adStateOpen;
        ADO_LONGPTR count = 0;
        if (m_bRsOpen && FAILED(hr = rs->get_RecordCount(&count)))
            return QueryFailed(hr, rs, IID__Recordset);
        if (m_bRsOpen && count != 0) {
            VARIANT_BOOL eof = VARIANT_FALSE, bof = VARIANT_FALSE;
            if (FAILED(hr = rs->get_EOF(&eof)) || FAILED(hr = rs->get_BOF(&bof)))
                return QueryFailed(hr, rs, IID__Recordset);
            if (eof && bof) {
                RecordUtf8(kNoRecords);
                return -1;
            }
            if (FAILED(hr = rs->MoveFirst()))
                return QueryFailed(hr, rs, IID__Recordset);
            return 1;
        }
        RecordUtf8(kNoRecordset);
        return -2;
    } catch (...) {
        RecordUtf8(kFatal);
        CloseRecordset();
        return -5;
    }
}

// An error of the data access objects in a query or command: the error
// check, then the record set closed; the entry closed when the link is lost.
int DbSession::QueryFailed(HRESULT hr, IUnknown *object, REFIID iid) {
    // The check reads the Errors collection; the error object is taken so
    // it does not linger on the thread.
    ComError taken(hr, object, iid);
    DbConnection *entry = m_pCurrent;
    int lost = CheckErrors(entry);
    CloseRecordset();
    if (lost != -4)
        return 0;
    DbConnection::Lock();
    CloseEntry(entry);
    DbConnection::Unlock();
    return -4;
}

int DbSession::Execute(const char *szSql) {
    if (!CurrentOpen())
        return 0;
    if (!m_sel)
        m_sel = new (std::nothrow) DbSelection;
    AnsiStr text(szSql ? szSql : "");
    BSTR command = SysAllocString(text.ToWide());
    VARIANT affected;
    VariantInit(&affected);
    affected.vt = VT_I4;
    _Recordset *result = nullptr;
    HRESULT hr = m_pCurrent->m_pConn->Execute(command, &affected, adCmdText, &result);
    SysFreeString(command);
    if (result)
        result->Release();
    if (FAILED(hr))
        return QueryFailed(hr, m_pCurrent->m_pConn, IID__Connection);
    if (affected.vt == VT_I4 && affected.lVal > 0)
        return affected.lVal;
    RecordUtf8(kNothingAffected);
    return -3;
}

void DbSession::CloseRecordset() {
    if (!m_sel)
        return;
    if (m_sel->m_pFirst) {
        if (m_sel->m_pRs)
            m_sel->m_pRs->Release();
        m_sel->m_pRs = m_sel->m_pFirst;
        m_sel->m_pRs->AddRef();
    }
    if (m_bRsOpen && m_sel->m_pRs) {
        m_bRsOpen = FALSE;
        HRESULT hr = m_sel->m_pRs->Close();
        m_sel->ReleaseField();
        if (FAILED(hr))
            RecordDescription(hr, m_sel->m_pRs, IID__Recordset);
    }
    if (m_sel->m_pFirst) {
        m_sel->m_pFirst->Release();
        m_sel->m_pFirst = nullptr;
    }
}

// Note: a record set that refuses to answer (closed by command 10, say)
// counts as none: its error is recorded and the answer is that of no
// record set.
int DbSession::AtEdge(HRESULT (STDMETHODCALLTYPE _Recordset::*edge)(VARIANT_BOOL *)) {
    if (!m_sel || !m_sel->m_pRs)
        return 1;
    VARIANT_BOOL at = VARIANT_FALSE;
    HRESULT hr = (m_sel->m_pRs->*edge)(&at);
    if (FAILED(hr)) {
        RecordDescription(hr, m_sel->m_pRs, IID__Recordset);
        return 1;
    }
    return at ? -1 : 0;
}

int DbSession::AtEnd() {
    return AtEdge(&_Recordset::get_EOF);
}

int DbSession::AtStart() {
    return AtEdge(&_Recordset::get_BOF);
}

int DbSession::RecordCount() {
    if (!m_sel || !m_sel->m_pRs)
        return 0;
    ADO_LONGPTR count = 0;
    HRESULT hr = m_sel->m_pRs->get_RecordCount(&count);
    if (FAILED(hr)) {
        RecordDescription(hr, m_sel->m_pRs, IID__Recordset);
        return 0;
    }
    return static_cast<int>(count);
}

void DbSession::MoveNext() {
    if (!m_sel || !m_sel->m_pRs)
        return;
    HRESULT hr = m_sel->m_pRs->MoveNext();
    if (FAILED(hr))
        Report(hr, m_sel->m_pRs, IID__Recordset);
}

int DbSession::NextRecordset() {
    if (!m_sel || !m_sel->m_pRs)
        return 0;
    if (!m_sel->m_pFirst) {
        m_sel->m_pFirst = m_sel->m_pRs;
        m_sel->m_pFirst->AddRef();
    }
    _Recordset *next = nullptr;
    HRESULT hr = m_sel->m_pRs->NextRecordset(nullptr, &next);
    if (FAILED(hr)) {
        RecordDescription(hr, m_sel->m_pRs, IID__Recordset);
        return 0;
    }
    m_sel->ReleaseField();
    m_sel->m_pRs->Release();
    m_sel->m_pRs = next;
    return next ? 1 : 0;
}

void DbSession::FieldText(const char *szName, AnsiStr &out) {
    out.Clear();
    if (!szName || !*szName || !m_sel || !m_sel->m_pRs)
        return;
    VariantClear(&m_fieldValue);
    Fields *fields = nullptr;
    HRESULT hr = m_sel->m_pRs->get_Fields(&fields);
    if (FAILED(hr))
        return RecordDescription(hr, m_sel->m_pRs, IID__Recordset);
    VARIANT name = TextVariant(szName);
    Field *field = nullptr;
    hr = fields->get_Item(name, &field);
    VariantClear(&name);
    if (FAILED(hr)) {
        RecordDescription(hr, fields, IID_Fields);
        fields->Release();
        return;
    }
    fields->Release();
    m_sel->ReleaseField();
    m_sel->m_pField = field;
    if (FAILED(hr = field->get_Value(&m_fieldValue)))
        return RecordDescription(hr, field, IID_Field);
    if (m_fieldValue.vt == VT_NULL || m_fieldValue.vt == VT_UNKNOWN)
        return;
    VARIANT text;
    VariantInit(&text);
    if (m_fieldValue.vt == VT_BSTR)
        hr = VariantCopy(&text, &m_fieldValue);
    else
        hr = VariantChangeType(&text, &m_fieldValue, 0, VT_BSTR);
    if (FAILED(hr))
        return;
    SysFreeString(m_fieldText);
    m_fieldText = text.bstrVal;
    out.FromWide(m_fieldText);
}
