// The database session's result codes and recorded texts, against SQLite
// files.
#include "DbSessionTest.h"

namespace {

class Session : public SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        static int next = 0;
        m_file = testing_support::PrivateOdbc::Shared().SqliteFile("session" +
                                                                   std::to_string(++next) + ".db");
    }
    std::string m_file;
};

} // namespace

TEST_F(Session, NothingRunsWithoutAConnection) {
    EXPECT_EQ(m_session->Query("select 1", 3, 1), 0);
    EXPECT_EQ(m_session->Execute("select 1"), 0);
    EXPECT_EQ(m_session->AtEnd(), 1);
    EXPECT_EQ(m_session->AtStart(), 1);
    EXPECT_EQ(m_session->RecordCount(), 0);
    EXPECT_EQ(m_session->NextRecordset(), 0);
    EXPECT_EQ(m_session->Disconnect(), 0);
    EXPECT_EQ(Field("a"), "");
    m_session->MoveNext();
    m_session->CloseRecordset();
    EXPECT_EQ(Recorded(), "");
}

TEST_F(Session, EachOutcomeHasItsCodeAndText) {
    ASSERT_EQ(m_session->OpenOwn(m_file.c_str()), 1);
    EXPECT_EQ(Recorded(), "正在连接数据库数据库已成功连接");
    EXPECT_EQ(m_session->Execute("create table t(i integer, s text)"), -3);
    EXPECT_EQ(Recorded(), "操作未成功，数据库中没有符合条件的记录");
    EXPECT_EQ(m_session->Execute("insert into t values (1, 'a'), (2, null)"), 2);
    EXPECT_EQ(m_session->Query("select * from t where i > 5", 3, 1), -2);
    EXPECT_EQ(Recorded(), "无数据集");
    EXPECT_EQ(m_session->Query("update t set i = i", 3, 1), -2);
    EXPECT_EQ(Recorded(), "无数据集");
    EXPECT_EQ(m_session->Query("select * from t order by i", 3, 1), 1);
    EXPECT_EQ(m_session->RecordCount(), 2);
    EXPECT_EQ(m_session->AtStart(), 0);
    EXPECT_EQ(Field("I"), "1");
    m_session->MoveNext();
    EXPECT_EQ(Field("s"), "");
    m_session->MoveNext();
    EXPECT_EQ(m_session->AtEnd(), -1);
    EXPECT_EQ(Recorded(), "");
    m_session->MoveNext();
    std::string report = Recorded();
    EXPECT_EQ(
        report.rfind("连接出错：code = 800a0bcdUnknown error 0x800A0BCDSourceADODB.Recordset", 0),
        0u)
        << report;
    EXPECT_EQ(m_session->Query("selec 1", 3, 1), 0);
    report = Recorded();
    EXPECT_EQ(report.rfind("Error #-2147217900\n\n [SQLite]near \"selec\": syntax error", 0), 0u)
        << report;
    EXPECT_NE(report.find("\n\n(Source: Microsoft OLE DB Provider for ODBC Drivers)\n\n"
                          "(SQL State: HY000)\n\n(NativeError: 1)\n"),
              std::string::npos)
        << report;
    EXPECT_EQ(m_session->AtEnd(), 1) << "the failed query left no open record set";
}

TEST_F(Session, AnOpenConnectionIsKeptWhateverStringComes) {
    ASSERT_EQ(m_session->OpenOwn(m_file.c_str()), 1);
    Recorded();
    EXPECT_EQ(m_session->OpenOwn("Driver={No Such Driver}"), 1);
    EXPECT_EQ(Recorded(), "");
    EXPECT_EQ(m_session->Disconnect(), 1);
    EXPECT_EQ(m_session->Disconnect(), 0);
    EXPECT_EQ(m_session->OpenOwn("Driver={No Such Driver}"), 0);
    std::string report = Recorded();
    EXPECT_EQ(report.rfind("正在连接数据库[unixODBC][Driver Manager]Can't open lib", 0), 0u)
        << report;
    EXPECT_NE(
        report.find("连接出错：code = 80004005Unspecified errorSourceMicrosoft OLE DB Provider "
                    "for ODBC Drivers[unixODBC]"),
        std::string::npos)
        << report;
}

TEST_F(Session, SharedConnectionsOutliveTheirSessions) {
    ASSERT_EQ(m_session->OpenShared(m_file.c_str(), 41), 1);
    ASSERT_GT(m_session->Execute("create table t(i integer); insert into t values (7)"), -5);
    m_session.reset();
    Recorded();
    std::unique_ptr<DbSession> other = NewSession();
    EXPECT_EQ(other->OpenShared("Driver={No Such Driver}", 41), 1);
    EXPECT_EQ(Recorded(), "") << "no new connection was made";
    EXPECT_EQ(other->Disconnect(), 1);
    // Its own connection is a different entry.
    EXPECT_EQ(other->OpenOwn("Provider=SQLOLEDB;Data Source=x"), 0);
    EXPECT_EQ(Recorded(), "正在连接数据库连接出错：code = 800a0e7aUnknown error "
                          "0x800A0E7ASourceADODB.ConnectionProvider cannot be found. It may not be "
                          "properly installed.");
}

TEST(ComError, NamesEachCodeAsThePlatformDoes) {
    EXPECT_STREQ(ComError(E_FAIL, nullptr, IID__Connection).ErrorMessage().c_str(),
                 "Unspecified error");
    EXPECT_STREQ(
        ComError(static_cast<HRESULT>(0x80040E14), nullptr, IID__Connection).ErrorMessage().c_str(),
        "IDispatch error #3092");
    EXPECT_STREQ(
        ComError(static_cast<HRESULT>(0x800A0E7A), nullptr, IID__Connection).ErrorMessage().c_str(),
        "Unknown error 0x800A0E7A");
    EXPECT_STREQ(ComError(E_FAIL, nullptr, IID__Connection).Source().c_str(), "");
}
