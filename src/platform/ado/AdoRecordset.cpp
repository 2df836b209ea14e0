#include "AdoRecordset.h"

#include <new>

namespace platform::ado {
namespace {

constexpr HRESULT kErrorsInCommand = static_cast<HRESULT>(0x80040E14); // DB_E_ERRORSINCOMMAND

// The command text a source names, by the kind of command the options give.
bool CommandText(const VARIANT &source, LONG options, std::u16string &text) {
    VARIANT converted;
    VariantInit(&converted);
    if (source.vt == VT_EMPTY || source.vt == VT_NULL ||
        FAILED(VariantChangeType(&converted, &source, 0, VT_BSTR)))
        return false;
    text.assign(converted.bstrVal, SysStringLen(converted.bstrVal));
    VariantClear(&converted);
    if (options != adCmdUnspecified && (options & adCmdTable))
        text = u"SELECT * FROM " + text;
    else if (options != adCmdUnspecified && (options & adCmdStoredProc))
        text = u"{call " + text + u"}";
    return !text.empty();
}

} // namespace

AdoRecordset::AdoRecordset()
    : AdoObject(IID__Recordset), m_cursor(std::make_shared<CursorState>()) {}

AdoRecordset::~AdoRecordset() {
    Drop();
}

HRESULT AdoRecordset::Raise(ErrorValueEnum error) const {
    return RaiseAdoError(error, u"ADODB.Recordset", IID__Recordset);
}

void AdoRecordset::Drop() {
    m_cursor->open = false;
    m_cursor = std::make_shared<CursorState>();
    if (m_fields)
        m_fields->Release();
    m_fields = nullptr;
    m_statement.reset();
    if (m_connection)
        m_connection->Release();
    m_connection = nullptr;
}

HRESULT AdoRecordset::Adopt(AdoConnection *connection,
                            std::unique_ptr<ProviderStatement> statement) {
    Drop();
    m_connection = connection;
    m_statement = std::move(statement);
    if (!m_statement->ReturnsRows())
        return S_OK;
    Diagnostics diagnostics;
    if (!m_statement->Fetch(m_cursor->rows, diagnostics)) {
        HRESULT hr = m_connection->ProviderFailure(E_FAIL, std::move(diagnostics), IID__Recordset);
        Drop();
        return hr;
    }
    m_cursor->open = true;
    m_cursor->position = 0;
    return S_OK;
}

HRESULT AdoRecordset::Resolve(const VARIANT &active, AdoConnection **connection) {
    *connection = nullptr;
    if ((active.vt == VT_DISPATCH || active.vt == VT_UNKNOWN) && active.punkVal) {
        if (FAILED(active.punkVal->QueryInterface(IID_AdoConnectionObject,
                                                  reinterpret_cast<void **>(connection))))
            return Raise(adErrInvalidArgument);
        return S_OK;
    }
    if (active.vt != VT_BSTR)
        return Raise(adErrInvalidConnection);
    auto *opened = new (std::nothrow) AdoConnection;
    if (!opened)
        return E_OUTOFMEMORY;
    HRESULT hr = opened->Open(active.bstrVal, nullptr, nullptr, adConnectUnspecified);
    if (FAILED(hr)) {
        opened->Release();
        return hr;
    }
    *connection = opened;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AdoRecordset::Open(VARIANT Source, VARIANT ActiveConnection,
                                             CursorTypeEnum, LockTypeEnum, LONG Options) {
    if (m_cursor->open)
        return Raise(adErrObjectOpen);
    std::u16string text;
    if (!CommandText(Source, Options, text))
        return Raise(adErrInvalidArgument);
    AdoConnection *connection = nullptr;
    HRESULT hr = Resolve(ActiveConnection, &connection);
    if (FAILED(hr))
        return hr;
    if (!connection->IsOpen()) {
        connection->Release();
        return Raise(adErrInvalidConnection);
    }
    std::unique_ptr<ProviderStatement> statement;
    hr = connection->Run(text, IID__Recordset, statement);
    if (FAILED(hr)) {
        connection->Release();
        return hr;
    }
    return Adopt(connection, std::move(statement));
}

HRESULT STDMETHODCALLTYPE AdoRecordset::Close() {
    if (!m_cursor->open)
        return Raise(adErrObjectClosed);
    Drop();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AdoRecordset::NextRecordset(VARIANT *RecordsAffected,
                                                      _Recordset **ppiRs) {
    if (!ppiRs)
        return E_POINTER;
    *ppiRs = nullptr;
    if (!m_statement)
        return m_cursor->open ? S_OK : Raise(adErrObjectClosed);
    Diagnostics diagnostics;
    int next = m_statement->NextResult(diagnostics);
    if (next < 0)
        return m_connection->ProviderFailure(kErrorsInCommand, std::move(diagnostics),
                                             IID__Recordset);
    if (next == 0) {
        m_statement.reset();
        return S_OK;
    }
    auto *recordset = new (std::nothrow) AdoRecordset;
    if (!recordset)
        return E_OUTOFMEMORY;
    m_connection->AddRef();
    HRESULT hr = recordset->Adopt(m_connection, std::move(m_statement));
    if (FAILED(hr)) {
        recordset->Release();
        return hr;
    }
    if (RecordsAffected) {
        VariantClear(RecordsAffected);
        RecordsAffected->vt = VT_I4;
        RecordsAffected->lVal = static_cast<LONG>(recordset->m_statement->RowsAffected());
    }
    *ppiRs = recordset;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AdoRecordset::get_BOF(VARIANT_BOOL *pb) {
    if (!pb)
        return E_POINTER;
    if (!m_cursor->open)
        return Raise(adErrObjectClosed);
    *pb = m_cursor->AtStart() ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AdoRecordset::get_EOF(VARIANT_BOOL *pb) {
    if (!pb)
        return E_POINTER;
    if (!m_cursor->open)
        return Raise(adErrObjectClosed);
    *pb = m_cursor->AtEnd() ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AdoRecordset::get_RecordCount(ADO_LONGPTR *pl) {
    if (!pl)
        return E_POINTER;
    if (!m_cursor->open)
        return Raise(adErrObjectClosed);
    *pl = static_cast<ADO_LONGPTR>(m_cursor->rows.RowCount());
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AdoRecordset::get_Fields(Fields **ppvObject) {
    if (!ppvObject)
        return E_POINTER;
    if (!m_fields)
        m_fields = new (std::nothrow) AdoFields(m_cursor);
    if (!m_fields)
        return E_OUTOFMEMORY;
    m_fields->AddRef();
    *ppvObject = m_fields;
    return S_OK;
}

HRESULT AdoRecordset::DefaultValue(VARIANT *out) {
    VariantInit(out);
    Fields *fields = nullptr;
    HRESULT hr = get_Fields(&fields);
    if (SUCCEEDED(hr)) {
        out->vt = VT_DISPATCH;
        out->pdispVal = fields;
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE AdoRecordset::MoveNext() {
    if (!m_cursor->open)
        return Raise(adErrObjectClosed);
    if (m_cursor->AtEnd())
        return Raise(adErrNoCurrentRecord);
    ++m_cursor->position;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AdoRecordset::MovePrevious() {
    if (!m_cursor->open)
        return Raise(adErrObjectClosed);
    if (m_cursor->AtStart())
        return Raise(adErrNoCurrentRecord);
    --m_cursor->position;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AdoRecordset::MoveFirst() {
    if (!m_cursor->open)
        return Raise(adErrObjectClosed);
    m_cursor->position = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AdoRecordset::MoveLast() {
    if (!m_cursor->open)
        return Raise(adErrObjectClosed);
    LONG_PTR count = static_cast<LONG_PTR>(m_cursor->rows.RowCount());
    m_cursor->position = count > 0 ? count - 1 : 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AdoRecordset::get_State(LONG *plObjState) {
    if (!plObjState)
        return E_POINTER;
    *plObjState = m_cursor->open ? adStateOpen : adStateClosed;
    return S_OK;
}

} // namespace platform::ado
