// The data access objects against a PostgreSQL server of the test's own,
// through psqlODBC. One server serves the whole program; these tests run
// as one test of the suite (see tests/platform/CMakeLists.txt).
#include "AdoTestSupport.h"
#include "testing/PrivatePostgres.h"

using namespace ado_testing;
using testing_support::PrivatePostgres;

namespace {

class AdoPostgres : public AdoTest {
protected:
    void SetUp() override {
        std::string why;
        ASSERT_TRUE(PrivatePostgres::Shared().Ready(why)) << why;
        m_conn.Reset(Connect(PrivatePostgres::Shared().ConnectionString()));
    }
    Held<_Connection> m_conn;
};

} // namespace

TEST_F(AdoPostgres, ValuesComeAsTheObjectsTypeThem) {
    Held<_Recordset> rs(
        Query(m_conn.Get(),
              "select 2::smallint as s, 7 as i, 9000000000::bigint as b, "
              "12.50::numeric(10,2) as d, 1234567890123456789012345678901234567890::numeric "
              "as huge, 1.5::real as r, 'NaN'::numeric as nan, date '2024-01-05' as dt, "
              "timestamp '2024-01-05 10:30:00' as ts, time '10:11:12' as tm, "
              "'中文'::text as tx, '\\x00ff'::bytea as bl, null::int as n"));
    VARIANT s = Value(rs.Get(), "s"), b = Value(rs.Get(), "b"), d = Value(rs.Get(), "d");
    EXPECT_EQ(s.vt, VT_I4);
    EXPECT_EQ(b.vt, VT_I8);
    ASSERT_EQ(d.vt, VT_DECIMAL);
    EXPECT_EQ(d.decVal.scale, 2);
    EXPECT_EQ(d.decVal.Lo64, 1250u);
    EXPECT_EQ(AsText(d), "12.5");
    EXPECT_EQ(AsText(Value(rs.Get(), "huge")), "1234567890123456789012345678901234567890");
    EXPECT_EQ(AsText(Value(rs.Get(), "nan")), "NaN");
    EXPECT_EQ(AsText(Value(rs.Get(), "r")), "1.5");
    EXPECT_EQ(AsText(Value(rs.Get(), "dt")), "2024-01-05");
    EXPECT_EQ(AsText(Value(rs.Get(), "ts")), "2024-01-05 10:30:00");
    EXPECT_EQ(AsText(Value(rs.Get(), "tm")), "10:11:12");
    EXPECT_EQ(AsText(Value(rs.Get(), "tx")), "中文");
    EXPECT_EQ(AsText(Value(rs.Get(), "bl")), "00FF");
    EXPECT_EQ(Value(rs.Get(), "n").vt, VT_NULL);
}

TEST_F(AdoPostgres, LongValuesInABlockOfRowsAreReadWhole) {
    Held<_Recordset> rs(Query(m_conn.Get(), "select g as i, repeat('长', g * 20) as tx from "
                                            "generate_series(1, 700) g order by g"));
    ADO_LONGPTR count = 0;
    EXPECT_EQ(rs->get_RecordCount(&count), S_OK);
    EXPECT_EQ(count, 700);
    for (LONG row = 1; row <= 700; ++row) {
        VARIANT tx = Value(rs.Get(), "tx");
        ASSERT_EQ(tx.vt, VT_BSTR);
        ASSERT_EQ(SysStringLen(tx.bstrVal), static_cast<UINT>(row * 20)) << "row " << row;
        VariantClear(&tx);
        ASSERT_EQ(rs->MoveNext(), S_OK);
    }
}

TEST_F(AdoPostgres, ResultsOfACommandComeOneAfterAnother) {
    ASSERT_EQ(
        Execute(m_conn.Get(), "create temporary table t(i int); insert into t values (1), (2)"),
        S_OK);
    Held<_Recordset> first(Query(m_conn.Get(), "select 1 as a; update t set i = i + 1; "
                                               "select 'x' as a"));
    EXPECT_EQ(AsText(Value(first.Get(), "a")), "1");
    _Recordset *next = nullptr;
    VARIANT affected;
    VariantInit(&affected);
    ASSERT_EQ(first->NextRecordset(&affected, &next), S_OK);
    ASSERT_NE(next, nullptr);
    Held<_Recordset> second(next);
    LONG state = -1;
    second->get_State(&state);
    EXPECT_EQ(state, adStateClosed);
    EXPECT_EQ(affected.lVal, 2);
    ASSERT_EQ(second->NextRecordset(nullptr, &next), S_OK);
    Held<_Recordset> third(next);
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(AsText(Value(third.Get(), "a")), "x");
    ASSERT_EQ(third->NextRecordset(nullptr, &next), S_OK);
    EXPECT_EQ(next, nullptr);
    // The first stays readable.
    EXPECT_EQ(AsText(Value(first.Get(), "a")), "1");
}

TEST_F(AdoPostgres, ACommandOverItsTimeOutFailsWithoutHanging) {
    ASSERT_EQ(m_conn->put_CommandTimeout(1), S_OK);
    EXPECT_TRUE(FAILED(Execute(m_conn.Get(), "select pg_sleep(30)")));
    std::vector<ProviderError> errors = ErrorsOf(m_conn.Get());
    ASSERT_FALSE(errors.empty());
    EXPECT_NE(errors[0].description.find(u"statement timeout"), std::u16string::npos);
    EXPECT_EQ(Execute(m_conn.Get(), "select 1"), S_OK);
}

TEST_F(AdoPostgres, ALostLinkIsReportedAsABrokenCommunicationLink) {
    Held<_Recordset> pid(Query(m_conn.Get(), "select pg_backend_pid() as p"));
    std::string backend = AsText(Value(pid.Get(), "p"));
    ASSERT_TRUE(
        PrivatePostgres::Shared().Superuser("select pg_terminate_backend(" + backend + ")"));
    // The first failure already says the link is lost.
    EXPECT_TRUE(FAILED(Execute(m_conn.Get(), "select 1")));
    EXPECT_TRUE(HasState(ErrorsOf(m_conn.Get()), u"08S01"));
    EXPECT_EQ(m_conn->Close(), S_OK);
    EXPECT_EQ(m_conn->Open(nullptr, nullptr, nullptr, -1), S_OK);
    EXPECT_EQ(Execute(m_conn.Get(), "select 1"), S_OK);
}

TEST_F(AdoPostgres, AWrongPasswordFailsTheLogin) {
    HRESULT hr = S_OK;
    Held<_Connection> refused(Connect(PrivatePostgres::Shared().ConnectionString("wrong"), &hr));
    EXPECT_EQ(hr, E_FAIL);
    EXPECT_NE(Raised().description.find(u"password authentication failed"), std::u16string::npos);
    EXPECT_TRUE(HasState(ErrorsOf(refused.Get()), u"08001"));
}
