// DbSession: construction, connections, the data-link dialog and the error
// texts. Record sets are in DbSessionRecords.cpp.
#include "DbSession.h"

#include <new>

namespace {

constexpr const char *kOleFailed = "OLE 初始化失败，无法创建连接";
constexpr const char *kConnecting = "正在连接数据库";
constexpr const char *kConnected = "数据库已成功连接";
constexpr const char *kReportCode = "连接出错：code = %08lx";
constexpr LONG kConnectionTimeout = 5;
constexpr LONG kLostLinkNative = 3114;

// A BSTR for the length of a call.
class Bstr {
public:
    explicit Bstr(const char *ansi) {
        AnsiStr text(ansi ? ansi : "");
        m_bstr = SysAllocString(text.ToWide());
    }
    ~Bstr() { SysFreeString(m_bstr); }
    Bstr(const Bstr &) = delete;
    Bstr &operator=(const Bstr &) = delete;
    operator BSTR() const { return m_bstr; }

private:
    BSTR m_bstr;
};

AnsiStr Take(BSTR text) {
    AnsiStr out;
    out.FromWide(text);
    SysFreeString(text);
    return out;
}

AnsiStr Formatted(const char *utf8Format, long value) {
    AnsiStr format = AnsiStr::FromUtf8(utf8Format);
    char text[64];
    wsprintfA(text, format.c_str(), value);
    return AnsiStr(text);
}

// Creates an object of the data access library as the platform asks it
// to be made: for IUnknown, run, then asked for the interface.
HRESULT CreateAdo(REFCLSID clsid, REFIID iid, void **object) {
    *object = nullptr;
    IUnknown *unknown = nullptr;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown,
                                  reinterpret_cast<void **>(&unknown));
    if (SUCCEEDED(hr))
        hr = OleRun(unknown);
    if (SUCCEEDED(hr))
        hr = unknown->QueryInterface(iid, object);
    if (unknown)
        unknown->Release();
    return hr;
}

} // namespace

DbSession::DbSession() {
    VariantInit(&m_fieldValue);
    m_hrCom = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
}

DbSession::~DbSession() {
    CloseRecordset();
    delete m_sel;
    m_sel = nullptr;
    if (m_pInterConn) {
        DbConnection::Lock();
        CloseEntry(m_pInterConn);
        DbConnection::Unlock();
        delete m_pInterConn;
    }
    if (m_hrCom == S_OK || m_hrCom == S_FALSE)
        CoUninitialize();
    SysFreeString(m_fieldText);
    VariantClear(&m_fieldValue);
}

// ---- Recorded texts ---------------------------------------------------------

void DbSession::Record(const AnsiStr &text) {
    if (m_pSink)
        m_pSink->Write(text.c_str());
}

void DbSession::RecordUtf8(const char *utf8) {
    Record(AnsiStr::FromUtf8(utf8));
}

// The error report: the code, the system's message for it, and the error
// object's source and description.
void DbSession::Report(HRESULT hr, IUnknown *object, REFIID iid) {
    ComError error(hr, object, iid);
    Record(Formatted(kReportCode, hr));
    Record(error.ErrorMessage());
    Record(AnsiStr("Source"));
    Record(error.Source());
    Record(error.Description());
}

void DbSession::RecordDescription(HRESULT hr, IUnknown *object, REFIID iid) {
    ComError error(hr, object, iid);
    Record(error.Description());
}

// ---- Connections ----------------------------------------------------------------

DbConnection *DbSession::OwnEntry() {
    if (!m_pInterConn) {
        m_pInterConn = new (std::nothrow) DbConnection;
        if (m_pInterConn)
            m_pInterConn->m_key = reinterpret_cast<INT_PTR>(m_pInterConn);
    }
    m_pCurrent = m_pInterConn;
    return m_pInterConn;
}

int DbSession::OpenOwn(const char *szConn) {
    DbConnection *entry = OwnEntry();
    if (!entry)
        return 0;
    DbConnection::Lock();
    int result = OpenEntry(entry, szConn);
    DbConnection::Unlock();
    return result;
}

int DbSession::OpenShared(const char *szConn, int nId) {
    DbConnection::Lock();
    DbConnection *entry = DbConnection::Shared(nId);
    int result = 0;
    if (entry) {
        m_pCurrent = entry;
        result = OpenEntry(entry, szConn);
    }
    DbConnection::Unlock();
    return result;
}

// Opens an entry (under the lock); an open one is left as it is, whatever
// string is given.
int DbSession::OpenEntry(DbConnection *entry, const char *szConn) {
    if (!entry->m_pConn) {
        if (FAILED(CreateAdo(CLSID_CADOConnection, IID__Connection,
                             reinterpret_cast<void **>(&entry->m_pConn)))) {
            RecordUtf8(kOleFailed);
            return 0;
        }
    } else if (entry->m_bOpen) {
        return 1;
    }
    RecordUtf8(kConnecting);
    HRESULT hr = ConnectEntry(entry, szConn);
    if (SUCCEEDED(hr)) {
        entry->m_bOpen = TRUE;
        RecordUtf8(kConnected);
        return 1;
    }
    Errors *errors = nullptr;
    if (SUCCEEDED(entry->m_pConn->get_Errors(&errors))) {
        LONG count = 0;
        errors->get_Count(&count);
        for (LONG i = 0; i < count; ++i) {
            VARIANT index;
            VariantInit(&index);
            index.vt = VT_I4;
            index.lVal = i;
            Error *item = nullptr;
            BSTR description = nullptr;
            if (SUCCEEDED(errors->get_Item(index, &item))) {
                item->get_Description(&description);
                item->Release();
            }
            Record(Take(description));
        }
        errors->Release();
    }
    Report(hr, entry->m_pConn, IID__Connection);
    return entry->m_bOpen;
}

HRESULT DbSession::ConnectEntry(DbConnection *entry, const char *szConn) {
    _Connection *connection = entry->m_pConn;
    HRESULT hr = S_OK;
    if (szConn && *szConn) {
        entry->m_strConn = szConn;
        hr = connection->put_ConnectionString(Bstr(szConn));
    } else if (!entry->m_strConn.IsEmpty()) {
        hr = connection->put_ConnectionString(Bstr(entry->m_strConn.c_str()));
    }
    if (SUCCEEDED(hr))
        hr = connection->put_ConnectionTimeout(kConnectionTimeout);
    if (SUCCEEDED(hr))
        hr = connection->Open(Bstr(""), Bstr(""), Bstr(""), 0);
    return hr;
}

// Closes an entry (under the lock). A failed Close leaves it marked open.
void DbSession::CloseEntry(DbConnection *entry) {
    if (!entry->m_pConn || !entry->m_bOpen)
        return;
    if (SUCCEEDED(entry->m_pConn->Close()))
        entry->m_bOpen = FALSE;
}

// A lost link: the entry is marked closed and its connection closed too,
// so that the next connect opens it again.
void DbSession::MarkLost(DbConnection *entry) {
    DbConnection::Lock();
    if (entry->m_pConn && FAILED(entry->m_pConn->Close()))
        SetErrorInfo(0, nullptr); // the connection was closed already
    entry->m_bOpen = FALSE;
    DbConnection::Unlock();
}

bool DbSession::CurrentOpen() const {
    return m_pCurrent && m_pCurrent->m_pConn && m_pCurrent->m_bOpen;
}

int DbSession::Disconnect() {
    if (!CurrentOpen())
        return 0;
    DbConnection::Lock();
    HRESULT hr = m_pCurrent->m_pConn->Close();
    if (SUCCEEDED(hr))
        m_pCurrent->m_bOpen = FALSE;
    DbConnection::Unlock();
    if (FAILED(hr))
        CheckErrors(m_pCurrent);
    return 1;
}

// ---- The data-link dialog ------------------------------------------------------

int DbSession::ChooseDataSource(char *buffer, int nLength) {
    DbConnection *entry = OwnEntry();
    if (!entry || !buffer || nLength <= 0)
        return 0;
    DbConnection::Lock();
    IDataSourceLocator *links = nullptr;
    IDispatch *chosen = nullptr;
    HRESULT hr =
        CreateAdo(CLSID_DataLinks, IID_IDataSourceLocator, reinterpret_cast<void **>(&links));
    if (SUCCEEDED(hr))
        hr = links->PromptNew(&chosen);
    if (FAILED(hr)) {
        Report(hr, links, IID_IDataSourceLocator);
        if (links)
            links->Release();
        DbConnection::Unlock();
        return 0;
    }
    links->Release();
    _Connection *connection = nullptr;
    if (chosen) {
        chosen->QueryInterface(IID__Connection, reinterpret_cast<void **>(&connection));
        chosen->Release();
    }
    if (entry->m_pConn)
        entry->m_pConn->Release();
    entry->m_pConn = connection;
    BSTR text = nullptr;
    hr = connection ? connection->get_ConnectionString(&text) : S_FALSE;
    if (FAILED(hr)) {
        Report(hr, connection, IID__Connection);
        connection->Close();
        connection->Release();
        entry->m_pConn = nullptr;
    } else if (connection) {
        entry->m_strConn = Take(text);
        lstrcpynA(buffer, entry->m_strConn.c_str(), nLength);
    }
    DbConnection::Unlock();
    return SUCCEEDED(hr) && connection ? 1 : 0;
}

// ---- The error check -----------------------------------------------------------

// Records every item of the current connection's Errors collection; -4
// when one of them says the link is lost (SQL state 08S01 or native error
// 3114), which closes the entry, else 0.
int DbSession::CheckErrors(DbConnection *entry) {
    Errors *errors = nullptr;
    HRESULT hr = entry->m_pConn->get_Errors(&errors);
    if (FAILED(hr)) {
        Report(hr, entry->m_pConn, IID__Connection);
        return 0;
    }
    LONG count = 0;
    hr = errors->get_Count(&count);
    bool lost = false;
    for (LONG i = 0; SUCCEEDED(hr) && i < count; ++i) {
        if (!RecordErrorItem(errors, i, lost))
            hr = E_FAIL;
    }
    errors->Release();
    if (FAILED(hr))
        return 0;
    if (!lost)
        return 0;
    MarkLost(entry);
    return -4;
}

bool DbSession::RecordErrorItem(Errors *errors, LONG index, bool &lost) {
    VARIANT position;
    VariantInit(&position);
    position.vt = VT_I4;
    position.lVal = index;
    Error *item = nullptr;
    HRESULT hr = errors->get_Item(position, &item);
    if (FAILED(hr)) {
        Report(hr, errors, IID_Errors);
        return false;
    }
    LONG number = 0, native = 0, helpContext = 0;
    BSTR description = nullptr, source = nullptr, state = nullptr, helpFile = nullptr;
    item->get_Number(&number);
    item->get_Description(&description);
    item->get_Source(&source);
    item->get_SQLState(&state);
    item->get_NativeError(&native);
    item->get_HelpFile(&helpFile);
    item->get_HelpContext(&helpContext);
    item->Release();
    AnsiStr sqlState = Take(state), help = Take(helpFile);
    char text[64];
    wsprintfA(text, "Error #%d\n", number);
    Record(AnsiStr(text));
    AnsiStr line("\n ");
    line.Append(Take(description));
    line.Append("\n\n(Source: ");
    line.Append(Take(source));
    line.Append(")\n\n(SQL State: ");
    line.Append(sqlState);
    line.Append(")\n");
    Record(line);
    wsprintfA(text, "\n(NativeError: %d)\n", native);
    Record(AnsiStr(text));
    if (!help.IsEmpty()) {
        AnsiStr helpLine("\n(HelpFile: ");
        helpLine.Append(help);
        wsprintfA(text, "\n)\t(HelpContext: %d\n)", helpContext);
        helpLine.Append(text);
        Record(helpLine);
    }
    lost = lost || sqlState.Equals("08S01") || native == kLostLinkNative;
    return true;
}
