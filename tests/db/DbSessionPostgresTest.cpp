// The database session against a PostgreSQL server of the test's own: a
// lost link, a restarted server, a command over its time-out, and the
// results of a multi-statement command.
#include "DbSessionTest.h"
#include "testing/PrivatePostgres.h"

using testing_support::PrivatePostgres;

namespace {

class SessionPostgres : public SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        std::string why;
        ASSERT_TRUE(PrivatePostgres::Shared().Ready(why)) << why;
        m_conn = PrivatePostgres::Shared().ConnectionString();
    }
    std::string m_conn;
};

} // namespace

TEST_F(SessionPostgres, ALostLinkIsFoundAndTheNextConnectOpensItAgain) {
    ASSERT_EQ(m_session->OpenShared(m_conn.c_str(), 5), 1);
    ASSERT_EQ(m_session->Query("select pg_backend_pid() as p", 3, 1), 1);
    std::string backend = Field("p");
    ASSERT_TRUE(
        PrivatePostgres::Shared().Superuser("select pg_terminate_backend(" + backend + ")"));
    Recorded();
    EXPECT_EQ(m_session->Query("select 1 as a", 3, 1), -4);
    std::string report = Recorded();
    EXPECT_NE(report.find("(SQL State: 08S01)"), std::string::npos) << report;
    // The entry is closed: nothing runs until it is opened again.
    EXPECT_EQ(m_session->Query("select 1 as a", 3, 1), 0);
    ASSERT_EQ(m_session->OpenShared("", 5), 1);
    EXPECT_EQ(Recorded(), "正在连接数据库数据库已成功连接");
    EXPECT_EQ(m_session->Query("select 2 as a", 3, 1), 1);
    EXPECT_EQ(Field("a"), "2");
    EXPECT_EQ(m_session->Disconnect(), 1);
}

TEST_F(SessionPostgres, ARestartedServerIsALostLinkToo) {
    ASSERT_EQ(m_session->OpenOwn(m_conn.c_str()), 1);
    ASSERT_TRUE(PrivatePostgres::Shared().Restart());
    EXPECT_EQ(m_session->Execute("create temporary table t(i int)"), -4);
    ASSERT_EQ(m_session->OpenOwn(""), 1);
    EXPECT_EQ(m_session->Execute("create temporary table t(i int)"), -3);
    EXPECT_EQ(m_session->Execute("insert into t values (1)"), 1);
}

TEST_F(SessionPostgres, ACommandOverItsTimeOutFailsWithItsError) {
    ASSERT_EQ(m_session->OpenOwn(m_conn.c_str()), 1);
    ASSERT_EQ(m_session->CurrentConnection()->put_CommandTimeout(1), S_OK);
    Recorded();
    EXPECT_EQ(m_session->Query("select pg_sleep(30)", 3, 1), 0);
    std::string report = Recorded();
    EXPECT_NE(report.find("canceling statement due to statement timeout"), std::string::npos)
        << report;
    EXPECT_EQ(m_session->Query("select 1 as a", 3, 1), 1);
}

TEST_F(SessionPostgres, TheResultsOfACommandAreWalkedAndTheFirstClosedLast) {
    ASSERT_EQ(m_session->OpenOwn(m_conn.c_str()), 1);
    ASSERT_EQ(m_session->Query("select 1 as a; select 2 as a, 3 as b; select 'x' as a", 3, 1), 1);
    EXPECT_EQ(Field("a"), "1");
    EXPECT_EQ(m_session->NextRecordset(), 1);
    EXPECT_EQ(Field("b"), "3");
    EXPECT_EQ(m_session->NextRecordset(), 1);
    EXPECT_EQ(Field("a"), "x");
    EXPECT_EQ(m_session->RecordCount(), 1);
    EXPECT_EQ(m_session->NextRecordset(), 0);
    EXPECT_EQ(m_session->AtEnd(), 1) << "no record set after the last";
    Recorded();
    m_session->CloseRecordset();
    EXPECT_EQ(Recorded(), "") << "the first, open, was closed";
    EXPECT_EQ(m_session->AtEnd(), 1);
    EXPECT_EQ(Recorded(), "Operation is not allowed when the object is closed.");
    EXPECT_EQ(m_session->Query("select 5 as a", 3, 1), 1);
    EXPECT_EQ(Field("a"), "5");
}
