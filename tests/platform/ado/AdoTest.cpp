// The data access objects against SQLite database files through the ODBC
// driver, and the data-link dialog through the scripted UI host.
#include <memory>

#include "AdoTestSupport.h"
#include "platform/user/UiHost.h"
#include "testing/TestSupport.h"

using namespace ado_testing;

namespace {

constexpr HRESULT kErrorsInCommand = static_cast<HRESULT>(0x80040E14);
constexpr HRESULT kProviderNotFound = static_cast<HRESULT>(0x800A0E7A);
constexpr HRESULT kObjectClosed = static_cast<HRESULT>(0x800A0E78);
constexpr HRESULT kObjectOpen = static_cast<HRESULT>(0x800A0E79);
constexpr HRESULT kNoCurrentRecord = static_cast<HRESULT>(0x800A0BCD);
constexpr HRESULT kItemNotFound = static_cast<HRESULT>(0x800A0CC1);
constexpr HRESULT kInvalidConnection = static_cast<HRESULT>(0x800A0E7D);

class Ado : public AdoTest {
protected:
    void SetUp() override {
        static int next = 0;
        m_file = s_odbc->SqliteFile("ado" + std::to_string(++next) + ".db");
        m_conn.Reset(Connect(m_file));
    }
    LONG Count(_Recordset *rs) {
        ADO_LONGPTR count = -1;
        EXPECT_EQ(rs->get_RecordCount(&count), S_OK);
        return static_cast<LONG>(count);
    }
    bool AtEnd(_Recordset *rs) {
        VARIANT_BOOL eof = VARIANT_FALSE;
        EXPECT_EQ(rs->get_EOF(&eof), S_OK);
        return eof == VARIANT_TRUE;
    }
    bool AtStart(_Recordset *rs) {
        VARIANT_BOOL bof = VARIANT_FALSE;
        EXPECT_EQ(rs->get_BOF(&bof), S_OK);
        return bof == VARIANT_TRUE;
    }

    std::string m_file;
    Held<_Connection> m_conn;
};

} // namespace

TEST_F(Ado, ClassesAreRegisteredAndCreatedAsThePlatformCreatesThem) {
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(u"ADODB.Connection", &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_CADOConnection);
    ASSERT_EQ(CLSIDFromProgID(u"ADODB.Recordset", &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_CADORecordset);
    for (const CLSID &id : {CLSID_CADOConnection, CLSID_CADORecordset, CLSID_DataLinks}) {
        IUnknown *unknown = nullptr;
        ASSERT_EQ(CoCreateInstance(id, nullptr, CLSCTX_ALL, IID_IUnknown,
                                   reinterpret_cast<void **>(&unknown)),
                  S_OK);
        EXPECT_EQ(OleRun(unknown), S_OK);
        void *other = reinterpret_cast<void *>(0xdeadbeef);
        EXPECT_EQ(unknown->QueryInterface(IID_IClassFactory, &other), E_NOINTERFACE);
        EXPECT_EQ(other, nullptr);
        unknown->Release();
    }
    ISupportErrorInfo *support = nullptr;
    ASSERT_EQ(m_conn->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void **>(&support)),
              S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID__Connection), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID__Recordset), S_FALSE);
    support->Release();
    LONG timeout = 0;
    EXPECT_EQ(m_conn->get_CommandTimeout(&timeout), S_OK);
    EXPECT_EQ(timeout, 30);
}

TEST_F(Ado, ValuesComeAsTheObjectsTypeThem) {
    ASSERT_EQ(Execute(m_conn.Get(), "create table t(i integer, b bigint, f double, tx text, "
                                    "d date, ts timestamp, bl blob, n integer)"),
              S_OK);
    ASSERT_EQ(Execute(m_conn.Get(), "insert into t values(-7, 9000000000, 2.5, '中文 text', "
                                    "'2024-01-05', '2024-01-05 10:30:15', x'00ff10', null)"),
              S_OK);
    Held<_Recordset> rs(Query(m_conn.Get(), "select * from t"));
    VARIANT i = Value(rs.Get(), "i"), b = Value(rs.Get(), "b"), f = Value(rs.Get(), "f");
    EXPECT_EQ(i.vt, VT_I4);
    EXPECT_EQ(i.lVal, -7);
    EXPECT_EQ(b.vt, VT_I8);
    EXPECT_EQ(b.llVal, 9000000000LL);
    EXPECT_EQ(f.vt, VT_R8);
    EXPECT_EQ(f.dblVal, 2.5);
    VARIANT tx = Value(rs.Get(), "tx");
    ASSERT_EQ(tx.vt, VT_BSTR);
    EXPECT_EQ(std::u16string(tx.bstrVal), u"中文 text");
    VariantClear(&tx);
    VARIANT d = Value(rs.Get(), "d"), bl = Value(rs.Get(), "bl"), n = Value(rs.Get(), "n");
    EXPECT_EQ(d.vt, VT_DATE);
    EXPECT_EQ(bl.vt, VT_ARRAY | VT_UI1);
    EXPECT_EQ(n.vt, VT_NULL);
    EXPECT_EQ(AsText(d), "2024-01-05");
    EXPECT_EQ(AsText(bl), "00FF10");
    EXPECT_EQ(AsText(Value(rs.Get(), "ts")), "2024-01-05 10:30:15");
    EXPECT_EQ(AsText(Value(rs.Get(), "b")), "9000000000");
    EXPECT_EQ(AsText(Value(rs.Get(), "f")), "2.5");
}

TEST_F(Ado, IntegersReadWholeWhateverTheDeclaredSize) {
    // SQLite keeps 64-bit integers in a column its driver calls 32-bit.
    ASSERT_EQ(Execute(m_conn.Get(), "create table t(k integer, i integer, s smallint)"), S_OK);
    ASSERT_EQ(Execute(m_conn.Get(), "insert into t values(1, 9007199254740993, 70000), "
                                    "(2, 3000000000, -1), (3, -2147483649, 0), (4, 2147483647, 0)"),
              S_OK);
    Held<_Recordset> rs(Query(m_conn.Get(), "select i, s from t order by k"));
    const LONGLONG expected[] = {9007199254740993LL, 3000000000LL, -2147483649LL, 2147483647LL};
    for (LONGLONG want : expected) {
        VARIANT i = Value(rs.Get(), "i");
        if (want == 2147483647LL) {
            EXPECT_EQ(i.vt, VT_I4); // what fits keeps the 32-bit type
            EXPECT_EQ(i.lVal, 2147483647);
        } else {
            EXPECT_EQ(i.vt, VT_I8);
            EXPECT_EQ(i.llVal, want);
        }
        EXPECT_EQ(AsText(i), std::to_string(want));
        ASSERT_EQ(rs->MoveNext(), S_OK);
    }
    ASSERT_EQ(rs->MoveFirst(), S_OK);
    EXPECT_EQ(AsText(Value(rs.Get(), "s")), "70000");
}

TEST_F(Ado, AStaticRecordSetIsASnapshotWithAnExactCount) {
    ASSERT_EQ(Execute(m_conn.Get(), "create table t(i integer)"), S_OK);
    ASSERT_EQ(Execute(m_conn.Get(), "with recursive n(i) as (select 1 union all select i + 1 "
                                    "from n where i < 600) insert into t select i from n"),
              S_OK);
    Held<_Recordset> rs(Query(m_conn.Get(), "select i from t order by i"));
    EXPECT_EQ(Count(rs.Get()), 600);
    EXPECT_FALSE(AtStart(rs.Get()));
    // The snapshot stays when its connection closes.
    EXPECT_EQ(m_conn->Close(), S_OK);
    LONG sum = 0, rows = 0;
    while (!AtEnd(rs.Get())) {
        VARIANT i = Value(rs.Get(), "I");
        sum += i.lVal;
        ++rows;
        ASSERT_EQ(rs->MoveNext(), S_OK);
    }
    EXPECT_EQ(rows, 600);
    EXPECT_EQ(sum, 600 * 601 / 2);
    EXPECT_EQ(rs->MoveNext(), kNoCurrentRecord);
    RaisedError error = Raised();
    EXPECT_EQ(error.source, u"ADODB.Recordset");
    EXPECT_NE(error.description.find(u"BOF or EOF"), std::u16string::npos);
    EXPECT_EQ(Value(rs.Get(), "i").scode, kNoCurrentRecord);
    EXPECT_EQ(rs->MoveLast(), S_OK);
    EXPECT_EQ(AsText(Value(rs.Get(), "i")), "600");
    EXPECT_EQ(rs->MoveFirst(), S_OK);
    EXPECT_EQ(rs->MovePrevious(), S_OK);
    EXPECT_TRUE(AtStart(rs.Get()));
    EXPECT_EQ(Value(rs.Get(), "nope").scode, kItemNotFound);
    EXPECT_EQ(rs->Close(), S_OK);
    ADO_LONGPTR count = 0;
    EXPECT_EQ(rs->get_RecordCount(&count), kObjectClosed);
    EXPECT_EQ(rs->Close(), kObjectClosed);
}

TEST_F(Ado, AnEmptyResultStandsAtBothEnds) {
    ASSERT_EQ(Execute(m_conn.Get(), "create table t(i integer)"), S_OK);
    Held<_Recordset> rs(Query(m_conn.Get(), "select i from t"));
    LONG state = -1;
    EXPECT_EQ(rs->get_State(&state), S_OK);
    EXPECT_EQ(state, adStateOpen);
    EXPECT_EQ(Count(rs.Get()), 0);
    EXPECT_TRUE(AtStart(rs.Get()));
    EXPECT_TRUE(AtEnd(rs.Get()));
    // A command without rows leaves the record set closed.
    Held<_Recordset> none(Query(m_conn.Get(), "update t set i = 1"));
    EXPECT_EQ(none->get_State(&state), S_OK);
    EXPECT_EQ(state, adStateClosed);
}

TEST_F(Ado, LongValuesAreReadWhole) {
    ASSERT_EQ(Execute(m_conn.Get(), "create table t(tx varchar(10), bl blob)"), S_OK);
    ASSERT_EQ(Execute(m_conn.Get(), "insert into t values(replace(hex(zeroblob(10000)), '00', "
                                    "'字'), zeroblob(5000))"),
              S_OK);
    Held<_Recordset> rs(Query(m_conn.Get(), "select tx, bl from t"));
    VARIANT tx = Value(rs.Get(), "tx");
    ASSERT_EQ(tx.vt, VT_BSTR);
    EXPECT_EQ(SysStringLen(tx.bstrVal), 10000u);
    EXPECT_EQ(tx.bstrVal[9999], u'字');
    VariantClear(&tx);
    VARIANT bl = Value(rs.Get(), "bl");
    ASSERT_EQ(bl.vt, VT_ARRAY | VT_UI1);
    LONG upper = 0;
    EXPECT_EQ(SafeArrayGetUBound(bl.parray, 1, &upper), S_OK);
    EXPECT_EQ(upper, 4999);
    VariantClear(&bl);
}

TEST_F(Ado, ProviderErrorsCarryTheDriversDiagnostics) {
    EXPECT_EQ(Execute(m_conn.Get(), "selec 1"), kErrorsInCommand);
    RaisedError error = Raised();
    EXPECT_EQ(error.source, u"Microsoft OLE DB Provider for ODBC Drivers");
    EXPECT_NE(error.description.find(u"syntax error"), std::u16string::npos);
    std::vector<ProviderError> errors = ErrorsOf(m_conn.Get());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].state, u"HY000");
    EXPECT_EQ(errors[0].description, error.description);
    // The connection goes on; a good command clears the collection.
    LONG affected = -1;
    EXPECT_EQ(Execute(m_conn.Get(), "create table t(i integer)", &affected), S_OK);
    EXPECT_TRUE(ErrorsOf(m_conn.Get()).empty());
}

TEST_F(Ado, ExecuteCountsTheRecordsAffected) {
    ASSERT_EQ(Execute(m_conn.Get(), "create table t(i integer)"), S_OK);
    LONG affected = -1;
    ASSERT_EQ(Execute(m_conn.Get(), "insert into t values(1),(2),(3)", &affected), S_OK);
    EXPECT_EQ(affected, 3);
    ASSERT_EQ(Execute(m_conn.Get(), "delete from t where i > 5", &affected), S_OK);
    EXPECT_EQ(affected, 0);
}

TEST_F(Ado, UnknownProvidersAndDriversFailWithTheirErrors) {
    HRESULT hr = S_OK;
    Held<_Connection> other(Connect("Provider=SQLOLEDB;Data Source=server", &hr));
    EXPECT_EQ(hr, kProviderNotFound);
    RaisedError error = Raised();
    EXPECT_EQ(error.source, u"ADODB.Connection");
    EXPECT_EQ(error.description, u"Provider cannot be found. It may not be properly installed.");
    Held<_Connection> missing(Connect("Driver={No Such Driver};Database=x", &hr));
    EXPECT_EQ(hr, E_FAIL);
    EXPECT_FALSE(Raised().description.empty());
    EXPECT_FALSE(ErrorsOf(missing.Get()).empty());
    LONG state = -1;
    EXPECT_EQ(missing->get_State(&state), S_OK);
    EXPECT_EQ(state, adStateClosed);
}

TEST_F(Ado, OpenAndClosedObjectsRefuseWhatTheirStateForbids) {
    EXPECT_EQ(m_conn->Open(Text(m_file), nullptr, nullptr, -1), kObjectOpen);
    EXPECT_EQ(m_conn->put_ConnectionString(Text("DSN=x")), kObjectOpen);
    EXPECT_EQ(m_conn->Close(), S_OK);
    EXPECT_EQ(m_conn->Close(), kObjectClosed);
    EXPECT_EQ(Execute(m_conn.Get(), "select 1"), kObjectClosed);
    HRESULT hr = S_OK;
    Held<_Recordset> rs(Query(m_conn.Get(), "select 1", &hr));
    EXPECT_EQ(hr, kInvalidConnection);
    // Opened again, with the string it keeps.
    EXPECT_EQ(m_conn->Open(nullptr, nullptr, nullptr, -1), S_OK);
    BSTR text = nullptr;
    EXPECT_EQ(m_conn->get_ConnectionString(&text), S_OK);
    EXPECT_EQ(platform::WideToUtf8(text), m_file);
    SysFreeString(text);
}

namespace {

class DataLinkDialog : public AdoTest {
protected:
    void SetUp() override {
        auto host = std::make_unique<platform::ScriptedUiHost>();
        m_ui = host.get();
        platform::UiHost::Install(std::move(host));
    }
    // The connection string the dialog gives, or "(none)".
    std::string Prompt(HRESULT expected = S_OK) {
        Held<IDataSourceLocator> links;
        IDataSourceLocator *created = nullptr;
        EXPECT_EQ(CoCreateInstance(CLSID_DataLinks, nullptr, CLSCTX_ALL, IID_IDataSourceLocator,
                                   reinterpret_cast<void **>(&created)),
                  S_OK);
        links.Reset(created);
        IDispatch *chosen = reinterpret_cast<IDispatch *>(0xdeadbeef);
        EXPECT_EQ(links->PromptNew(&chosen), expected);
        if (!chosen)
            return "(none)";
        _Connection *conn = nullptr;
        EXPECT_EQ(chosen->QueryInterface(IID__Connection, reinterpret_cast<void **>(&conn)), S_OK);
        chosen->Release();
        BSTR text = nullptr;
        conn->get_ConnectionString(&text);
        m_chosen.Reset(conn);
        std::string out = platform::WideToUtf8(text);
        SysFreeString(text);
        return out;
    }

    platform::ScriptedUiHost *m_ui = nullptr;
    Held<_Connection> m_chosen;
};

} // namespace

TEST_F(DataLinkDialog, ListsTheDataSourcesAndDriversAndBuildsTheString) {
    m_ui->Queue(0); // the data source
    m_ui->QueueText("reader");
    m_ui->QueueText("pa;ss");
    m_ui->Queue(1); // allow saving the password
    EXPECT_EQ(Prompt(), "Provider=MSDASQL.1;Persist Security Info=True;DSN=Books;UID=reader;"
                        "PWD={pa;ss}");
    std::vector<std::string> asked = m_ui->Asked();
    ASSERT_GE(asked.size(), 1u);
    EXPECT_NE(asked[0].find("Data source: Books (SQLite3)"), std::string::npos) << asked[0];
    EXPECT_NE(asked[0].find("Driver: PostgreSQL Unicode"), std::string::npos) << asked[0];
    EXPECT_EQ(m_chosen->Open(nullptr, nullptr, nullptr, -1), S_OK);
}

TEST_F(DataLinkDialog, AChosenDriverTakesAttributesAndAPasswordNotSavedStaysOut) {
    m_ui->Queue(1); // the first driver, SQLite3
    m_ui->QueueText("Database=" + s_odbc->Folder() + "/chosen.db");
    m_ui->QueueText("");
    m_ui->QueueText("secret");
    m_ui->Queue(0); // do not allow saving the password
    std::string chosen = Prompt();
    EXPECT_EQ(chosen, "Provider=MSDASQL.1;Persist Security Info=False;Driver={SQLite3};"
                      "Database=" +
                          s_odbc->Folder() + "/chosen.db");
    LONG state = -1;
    m_chosen->get_State(&state);
    EXPECT_EQ(state, adStateClosed);
    EXPECT_EQ(m_chosen->Open(nullptr, nullptr, nullptr, -1), S_OK);
}

TEST_F(DataLinkDialog, CancellingGivesNoConnection) {
    m_ui->Queue(-1);
    EXPECT_EQ(Prompt(S_FALSE), "(none)");
    m_ui->Queue(0);
    m_ui->QueueText("user"); // no password answer: the question is cancelled
    EXPECT_EQ(Prompt(S_FALSE), "(none)");
}
