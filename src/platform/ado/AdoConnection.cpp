#include "AdoConnection.h"

#include <new>

#include "AdoErrorTexts.h"
#include "AdoRecordset.h"
#include "ConnectionString.h"

namespace platform::ado {
namespace {

constexpr HRESULT kErrorsInCommand = static_cast<HRESULT>(0x80040E14); // DB_E_ERRORSINCOMMAND
constexpr HRESULT kTimeoutExpired = static_cast<HRESULT>(0x80040E31);  // DB_E_ABORTLIMITREACHED
constexpr const char16_t *kSource = u"ADODB.Connection";

std::u16string Text(BSTR text) {
    return text ? std::u16string(text, SysStringLen(text)) : u"";
}

// A time-out reported by the driver makes the failure a time-out.
HRESULT FailureCode(const Diagnostics &diagnostics, HRESULT otherwise) {
    for (const Diagnostic &diagnostic : diagnostics) {
        if (diagnostic.state == u"HYT00" || diagnostic.state == u"HYT01")
            return kTimeoutExpired;
    }
    return otherwise;
}

// States that say the server has ended the session: a connection
// exception (class 08), and PostgreSQL's shutdown of the session by an
// administrator or after a crash (57P01, 57P02), which psqlODBC reports for
// the first statement before it knows the connection is down.
bool SessionEnded(const std::u16string &state) {
    return state.rfind(u"08", 0) == 0 || state == u"57P01" || state == u"57P02";
}

std::vector<ErrorRecord> RecordsOf(HRESULT hr, const Diagnostics &diagnostics) {
    std::vector<ErrorRecord> records;
    for (const Diagnostic &diagnostic : diagnostics)
        records.push_back(ErrorRecord{hr, kProviderSource, diagnostic.message, diagnostic.state,
                                      diagnostic.native, u"", 0});
    return records;
}

} // namespace

AdoConnection::AdoConnection() : AdoObject(IID__Connection), m_errors(new AdoErrors) {}

AdoConnection::~AdoConnection() {
    m_provider.Disconnect();
    m_errors->Release();
}

void *AdoConnection::Other(REFIID riid) {
    return riid == IID_AdoConnectionObject ? this : nullptr;
}

HRESULT AdoConnection::Closed(REFIID iid) const {
    return RaiseAdoError(adErrObjectClosed, kSource, iid);
}

HRESULT AdoConnection::DefaultValue(VARIANT *out) {
    VariantInit(out);
    out->vt = VT_BSTR;
    return get_ConnectionString(&out->bstrVal);
}

HRESULT STDMETHODCALLTYPE AdoConnection::get_ConnectionString(BSTR *pbstr) {
    std::lock_guard<std::mutex> guard(m_lock);
    return CopyText(m_connectionString, pbstr);
}

HRESULT STDMETHODCALLTYPE AdoConnection::put_ConnectionString(BSTR bstr) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_open)
        return RaiseAdoError(adErrObjectOpen, kSource, IID__Connection);
    m_connectionString = Text(bstr);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AdoConnection::get_CommandTimeout(LONG *plTimeout) {
    if (!plTimeout)
        return E_POINTER;
    *plTimeout = m_commandTimeout;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AdoConnection::put_CommandTimeout(LONG lTimeout) {
    if (lTimeout < 0)
        return RaiseAdoError(adErrInvalidArgument, kSource, IID__Connection);
    m_commandTimeout = lTimeout;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AdoConnection::get_ConnectionTimeout(LONG *plTimeout) {
    if (!plTimeout)
        return E_POINTER;
    *plTimeout = m_connectionTimeout;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AdoConnection::put_ConnectionTimeout(LONG lTimeout) {
    if (m_open)
        return RaiseAdoError(adErrObjectOpen, kSource, IID__Connection);
    if (lTimeout < 0)
        return RaiseAdoError(adErrInvalidArgument, kSource, IID__Connection);
    m_connectionTimeout = lTimeout;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AdoConnection::get_Version(BSTR *pbstr) {
    return CopyText(u"6.1", pbstr);
}

HRESULT STDMETHODCALLTYPE AdoConnection::Open(BSTR ConnectionString, BSTR UserID, BSTR Password,
                                              LONG) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_open)
        return RaiseAdoError(adErrObjectOpen, kSource, IID__Connection);
    if (SysStringLen(ConnectionString) > 0)
        m_connectionString = Text(ConnectionString);
    class ConnectionString parsed(m_connectionString);
    if (!parsed.ProviderKnown())
        return RaiseAdoError(adErrProviderNotFound, kSource, IID__Connection);
    std::u16string password = Text(Password);
    if (password.empty() && parsed.Value(u"PWD").empty() && parsed.Value(u"Password").empty())
        password = m_heldPassword;
    Diagnostics diagnostics;
    if (!m_provider.Connect(parsed.ToOdbc(Text(UserID), password), m_connectionTimeout,
                            diagnostics))
        return ProviderFailure(E_FAIL, std::move(diagnostics), IID__Connection);
    m_errors->Replace(RecordsOf(S_OK, diagnostics));
    m_open = true;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AdoConnection::Close() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_open)
        return Closed(IID__Connection);
    m_provider.Disconnect();
    m_open = false;
    return S_OK;
}

HRESULT AdoConnection::Run(const std::u16string &text, REFIID iid,
                           std::unique_ptr<ProviderStatement> &statement) {
    Diagnostics diagnostics;
    statement = m_provider.Execute(text, m_commandTimeout, diagnostics);
    if (!statement)
        return ProviderFailure(FailureCode(diagnostics, kErrorsInCommand), std::move(diagnostics),
                               iid);
    m_errors->Replace(RecordsOf(S_OK, diagnostics));
    return S_OK;
}

HRESULT AdoConnection::ProviderFailure(HRESULT hr, Diagnostics diagnostics, REFIID iid) {
    bool reported = false, ended = false;
    for (const Diagnostic &diagnostic : diagnostics) {
        reported = reported || diagnostic.state == u"08S01";
        ended = ended || SessionEnded(diagnostic.state);
    }
    if (!reported && m_provider.Connected() && (ended || m_provider.Dead()))
        diagnostics.push_back(Diagnostic{u"08S01", 0, u"Communication link failure"});
    if (diagnostics.empty())
        diagnostics.push_back(Diagnostic{u"", 0, u"Unspecified error"});
    m_errors->Replace(RecordsOf(hr, diagnostics));
    return RaiseError(hr, kProviderSource, diagnostics.front().message, iid);
}

HRESULT STDMETHODCALLTYPE AdoConnection::Execute(BSTR CommandText, VARIANT *RecordsAffected,
                                                 LONG Options, _Recordset **ppiRset) {
    if (ppiRset)
        *ppiRset = nullptr;
    if (!m_open)
        return Closed(IID__Connection);
    std::unique_ptr<ProviderStatement> statement;
    HRESULT hr = Run(Text(CommandText), IID__Connection, statement);
    if (FAILED(hr))
        return hr;
    if (RecordsAffected) {
        VariantClear(RecordsAffected);
        RecordsAffected->vt = VT_I4;
        RecordsAffected->lVal = static_cast<LONG>(statement->RowsAffected());
    }
    if (!ppiRset || (Options != adOptionUnspecified && (Options & adExecuteNoRecords)))
        return S_OK;
    auto *recordset = new (std::nothrow) AdoRecordset;
    if (!recordset)
        return E_OUTOFMEMORY;
    AddRef();
    hr = recordset->Adopt(this, std::move(statement));
    if (FAILED(hr)) {
        recordset->Release();
        return hr;
    }
    *ppiRset = recordset;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AdoConnection::get_Errors(Errors **ppvObject) {
    if (!ppvObject)
        return E_POINTER;
    m_errors->AddRef();
    *ppvObject = m_errors;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AdoConnection::get_State(LONG *plObjState) {
    if (!plObjState)
        return E_POINTER;
    *plObjState = m_open ? adStateOpen : adStateClosed;
    return S_OK;
}

} // namespace platform::ado
