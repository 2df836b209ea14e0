// DBCommand, DBRes and GetDBResult as a page drives them, on a SQLite file
// through the ODBC driver and on a PostgreSQL server of the test's own (the
// "Postgres/" instances share one server and run as one test).
#include <memory>

#include "QuillDocFixture.h"
#include "platform/user/UiHost.h"
#include "support/RegKey.h"
#include "testing/PrivateOdbc.h"
#include "testing/PrivatePostgres.h"
#include "testing/TestSupport.h"

using testing_support::PrivateOdbc;
using testing_support::PrivatePostgres;

namespace {

enum class Engine { Sqlite, Postgres };

struct Outcome {
    HRESULT hr;
    int nRet;
};

class Database : public QuillDocFixture, public ::testing::WithParamInterface<Engine> {
protected:
    static void SetUpTestSuite() {
        QuillDocFixture::SetUpTestSuite();
        PrivateOdbc::Shared();
        ASSERT_TRUE(testing_support::RegisterServer(ADO_MODULE_PATH));
    }
    void SetUp() override {
        static int next = 0;
        m_table = "t" + std::to_string(++next);
        if (GetParam() == Engine::Postgres) {
            std::string why;
            ASSERT_TRUE(PrivatePostgres::Shared().Ready(why)) << why;
            m_conn = PrivatePostgres::Shared().ConnectionString();
        } else {
            m_conn = PrivateOdbc::Shared().SqliteFile(m_table + ".db");
        }
        auto host = std::make_unique<platform::ScriptedUiHost>();
        m_ui = host.get();
        platform::UiHost::Install(std::move(host));
        m_doc = CreateDoc();
    }
    void TearDown() override {
        if (m_doc)
            m_doc->Release();
    }

    Outcome Cmd(IQuillDoc *doc, int nCmd, const std::string &key = "",
                const std::string &value = "") {
        int nRet = 12345;
        HRESULT hr = doc->DBCommand(nCmd, Arg(Wide(key)), Arg(Wide(value)), &nRet);
        return Outcome{hr, nRet};
    }
    Outcome Cmd(int nCmd, const std::string &key = "", const std::string &value = "") {
        return Cmd(m_doc, nCmd, key, value);
    }
    // Runs a command that must succeed.
    void Run(int nCmd, const std::string &key, const std::string &value) {
        Outcome outcome = Cmd(nCmd, key, value);
        ASSERT_EQ(outcome.hr, S_OK) << nCmd << " " << value << ": " << Result();
        ASSERT_EQ(outcome.nRet, 1) << nCmd << " " << value << ": " << Result();
    }
    std::string Result(IQuillDoc *doc = nullptr) {
        BSTR out = reinterpret_cast<BSTR>(0xdeadbeef);
        EXPECT_EQ((doc ? doc : m_doc)->GetDBResult(&out), S_OK);
        if (!out)
            return "(null)";
        return platform::WideToUtf8(Take(out).c_str());
    }
    std::string Res(const std::string &field, IQuillDoc *doc = nullptr) {
        BSTR out = nullptr;
        EXPECT_EQ((doc ? doc : m_doc)->DBRes(Arg(Wide(field)), &out), S_OK);
        return platform::WideToUtf8(Take(out).c_str());
    }
    void Connect() { Run(1, "0", m_conn); }
    void MakeTable() {
        Connect();
        Cmd(6, "",
            "create table " + m_table + "(id integer, name varchar(40), price numeric(10,2))");
        Run(6, "", "insert into " + m_table + " values (1, '甲', 1.50), (2, '乙', null)");
    }
    bool Postgres() const { return GetParam() == Engine::Postgres; }
    // A registered ID of this engine's own: shared connections outlive the
    // objects (and tests) that opened them.
    std::string Id(int n) const { return std::to_string(Postgres() ? n + 1000 : n); }

    std::string m_conn, m_table;
    platform::ScriptedUiHost *m_ui = nullptr;
    IQuillDoc *m_doc = nullptr;
};

std::string EngineName(const ::testing::TestParamInfo<Engine> &info) {
    return info.param == Engine::Sqlite ? "Sqlite" : "Postgres";
}

} // namespace

INSTANTIATE_TEST_SUITE_P(Sqlite, Database, ::testing::Values(Engine::Sqlite), EngineName);
INSTANTIATE_TEST_SUITE_P(Postgres, Database, ::testing::Values(Engine::Postgres), EngineName);

TEST_P(Database, ATypicalPageQueriesAndWalksTheRecords) {
    MakeTable();
    EXPECT_EQ(Result(), "(null)");
    Run(5, "0", "select id, name, price from " + m_table + " order by id");
    EXPECT_EQ(Cmd(12).nRet, 2);
    EXPECT_EQ(Cmd(8).nRet, 0);
    std::string rows;
    while (Cmd(7).nRet == 0) {
        rows += Res("ID") + " ";
        rows += Res("price") + " ";
        rows += Res("name") + ";";
        EXPECT_EQ(Cmd(9).nRet, 1);
    }
    EXPECT_EQ(rows, "1 1.5 甲;2  乙;");
    EXPECT_EQ(Cmd(7).nRet, -1);
    EXPECT_EQ(Result(), "乙") << "DBRes leaves its text as the last result";
    EXPECT_EQ(Cmd(10).nRet, 1);
    EXPECT_EQ(Cmd(11).nRet, 1);
    EXPECT_EQ(Cmd(11).nRet, 0);
}

TEST_P(Database, ValuesOfEveryKindReadAsText) {
    Connect();
    std::string sql = Postgres() ? "select null::int as n, -42 as i, 9000000000::bigint as b, "
                                   "12.50::numeric(10,2) as d, 2.25::float8 as f, "
                                   "date '2024-01-05' as dt, timestamp '2024-01-05 10:30:00' as "
                                   "ts, '\\x00ff41'::bytea as bl"
                                 : "select null as n, -42 as i, 9000000000 as b, '12.50' as d, "
                                   "2.25 as f, cast('2024-01-05' as date) as dt, "
                                   "cast('2024-01-05 10:30:00' as timestamp) as ts, "
                                   "x'00ff41' as bl";
    if (!Postgres()) {
        // SQLite types a value by its column's declaration.
        Cmd(6, "",
            "create table " + m_table +
                "(n integer, i integer, b bigint, d decimal(10,2), f double, dt date, "
                "ts timestamp, bl blob)");
        Run(6, "",
            "insert into " + m_table +
                " values (null, -42, 9000000000, '12.50', 2.25, '2024-01-05', "
                "'2024-01-05 10:30:00', x'00ff41')");
        sql = "select * from " + m_table;
    }
    Run(5, "0", sql);
    EXPECT_EQ(Res("n"), "");
    EXPECT_EQ(Res("i"), "-42");
    EXPECT_EQ(Res("b"), "9000000000");
    EXPECT_EQ(Res("d"), "12.5");
    EXPECT_EQ(Res("f"), "2.25");
    EXPECT_EQ(Res("dt"), "2024-01-05");
    EXPECT_EQ(Res("ts"), "2024-01-05 10:30:00");
    EXPECT_EQ(Res("bl"), "00FF41");
    EXPECT_EQ(Res("missing"), "");
    EXPECT_EQ(Res(""), "");
}

TEST_P(Database, ChineseTextGoesThroughGbk) {
    Connect();
    Cmd(6, "", "create table " + m_table + "(name varchar(40))");
    Run(6, "", "insert into " + m_table + " values ('收货人：张三，电话 13800000000')");
    Run(6, "", "insert into " + m_table + " values ('€ and 😀')");
    Run(5, "0", "select name from " + m_table + " order by name desc");
    EXPECT_EQ(Res("name"), "收货人：张三，电话 13800000000");
    Cmd(9);
    // The euro sign is in GBK; a character outside it does not survive.
    EXPECT_EQ(Res("name"), "€ and ?");
}

TEST_P(Database, TheEdgesOfConnectingAndRegistering) {
    BSTR padded = nullptr;
    ASSERT_EQ(m_doc->BeginCharOf(Arg(u"123"), 6, Arg(u"0"), &padded), S_OK);
    SysFreeString(padded);
    Outcome unregistered = Cmd(1, "9876", "");
    EXPECT_EQ(unregistered.hr, S_OK);
    EXPECT_EQ(unregistered.nRet, 0);
    EXPECT_EQ(Result(), "000123") << "the last result stays";
    Run(2, "7", m_conn);
    RegKey key;
    char value[1024] = {};
    ASSERT_TRUE(key.Read(HKEY_CURRENT_USER, "Software\\ostrel\\tarnbox", "conn7", value, 1020));
    EXPECT_EQ(std::string(value), m_conn);
    Run(2, "abc", "DSN=zero");
    ASSERT_TRUE(key.Read(HKEY_CURRENT_USER, "Software\\ostrel\\tarnbox", "conn0", value, 1020));
    Run(4, "7", "");
    EXPECT_EQ(Result(), m_conn);
    Outcome missing = Cmd(4, "9876");
    EXPECT_EQ(missing.hr, S_FALSE);
    EXPECT_EQ(missing.nRet, 0);
    EXPECT_EQ(Result(), "");
    // Connected, a new string does not reconnect until command 11.
    Run(1, "7", "");
    EXPECT_EQ(Cmd(11).nRet, 1);
    Connect();
    Run(1, "0", "Driver={No Such Driver}");
    EXPECT_EQ(Cmd(11).nRet, 1);
    EXPECT_EQ(Cmd(1, "0", "Driver={No Such Driver}").hr, S_FALSE);
    EXPECT_NE(Result().find("正在连接数据库[unixODBC][Driver Manager]Can't open lib"),
              std::string::npos);
}

TEST_P(Database, FailedCommandsSayWhyAndTheObjectGoesOn) {
    Outcome provider = Cmd(1, "0", "Provider=SQLOLEDB;Data Source=server");
    EXPECT_EQ(provider.hr, S_FALSE);
    EXPECT_EQ(provider.nRet, 0);
    EXPECT_EQ(Result(), "正在连接数据库连接出错：code = 800a0e7aUnknown error "
                        "0x800A0E7ASourceADODB.ConnectionProvider cannot be found. It may not be "
                        "properly installed.");
    EXPECT_EQ(Cmd(1, "0", "Driver={No Such Driver};Database=x").hr, S_FALSE);
    EXPECT_NE(Result().find("连接出错：code = 80004005Unspecified error"), std::string::npos);
    if (Postgres()) {
        EXPECT_EQ(Cmd(1, "0", PrivatePostgres::Shared().ConnectionString("wrong")).hr, S_FALSE);
        EXPECT_NE(Result().find("password authentication failed"), std::string::npos);
    }
    MakeTable();
    Outcome syntax = Cmd(5, "0", "selec * from " + m_table);
    EXPECT_EQ(syntax.hr, S_FALSE);
    EXPECT_EQ(syntax.nRet, 0);
    std::string text = Result();
    EXPECT_EQ(text.rfind("Error #-2147217900\n\n ", 0), 0u) << text;
    EXPECT_NE(text.find("(SQL State: " + std::string(Postgres() ? "42601" : "HY000") + ")"),
              std::string::npos)
        << text;
    Outcome none = Cmd(5, "0", "select * from " + m_table + " where id > 99");
    EXPECT_EQ(none.hr, S_FALSE);
    EXPECT_EQ(Result(), "无数据集");
    Outcome update = Cmd(6, "", "update " + m_table + " set id = 5 where id > 99");
    EXPECT_EQ(update.hr, S_FALSE);
    EXPECT_EQ(Result(), "操作未成功，数据库中没有符合条件的记录");
    Run(5, "0", "select id from " + m_table + " order by id");
    EXPECT_EQ(Res("id"), "1");
}

TEST_P(Database, CommandsWithoutARecordSetAnswerAsIfNoneWereOpen) {
    EXPECT_EQ(Cmd(7).nRet, 1);
    EXPECT_EQ(Cmd(8).nRet, 1);
    EXPECT_EQ(Cmd(9).nRet, 1);
    EXPECT_EQ(Cmd(12).nRet, 0);
    EXPECT_EQ(Cmd(13).nRet, 0);
    EXPECT_EQ(Res("a"), "");
    for (int nCmd : {0, 14, -1}) {
        Outcome outcome = Cmd(nCmd, "1", "x");
        EXPECT_EQ(outcome.hr, S_OK);
        EXPECT_EQ(outcome.nRet, 0);
    }
    // Command 5 with an ID loads that string and runs nothing.
    Outcome loaded = Cmd(5, "101", "");
    EXPECT_EQ(loaded.hr, S_OK);
    EXPECT_EQ(loaded.nRet, 0);
    EXPECT_EQ(Cmd(5, "999", "select 1").hr, S_FALSE);
    EXPECT_EQ(Result(), "错误：ID参数不正确");
    // A record set that command 10 closed answers as none does.
    MakeTable();
    Run(5, "0", "select id from " + m_table);
    EXPECT_EQ(Cmd(7).nRet, 0);
    Cmd(10);
    EXPECT_EQ(Cmd(7).nRet, 1);
    EXPECT_EQ(Cmd(8).nRet, 1);
    EXPECT_EQ(Cmd(12).nRet, 0);
    EXPECT_EQ(Res("id"), "");
}

TEST_P(Database, ASharedConnectionServesTwoObjectsAndClosesForBoth) {
    Run(2, Id(31), m_conn);
    IQuillDoc *other = CreateDoc();
    Run(1, Id(31), "");
    Outcome second = Cmd(other, 1, Id(31));
    EXPECT_EQ(second.nRet, 1);
    Cmd(6, "", "create table " + m_table + "(id integer)");
    Run(6, "", "insert into " + m_table + " values (3)");
    EXPECT_EQ(Cmd(other, 5, "0", "select id from " + m_table).nRet, 1);
    EXPECT_EQ(Res("id", other), "3");
    EXPECT_EQ(Cmd(11).nRet, 1);
    Outcome closed = Cmd(other, 5, "0", "select id from " + m_table);
    EXPECT_EQ(closed.hr, S_FALSE);
    EXPECT_EQ(Cmd(other, 11).nRet, 0) << "closed for both";
    // The connection outlives the objects: a new object finds it open.
    Run(1, Id(31), "");
    m_doc->Release();
    m_doc = CreateDoc();
    Run(1, Id(31), "");
    EXPECT_EQ(Cmd(5, "0", "select id from " + m_table).nRet, 1) << Result();
    other->Release();
}

TEST_P(Database, TheDataLinkDialogChoosesAndThePageRegistersIt) {
    if (Postgres()) {
        m_ui->Queue(IDOK);
        m_ui->Queue(2); // the PostgreSQL driver, after the data source and the SQLite driver
        std::string root = m_conn.substr(m_conn.find("Servername=") + 11);
        m_ui->QueueText("Servername=" + root.substr(0, root.find(';')) +
                        ";Port=5432;Database=" + PrivatePostgres::kDatabase);
        m_ui->QueueText(PrivatePostgres::kUser);
        m_ui->QueueText(PrivatePostgres::kPassword);
    } else {
        m_ui->Queue(IDOK);
        m_ui->Queue(0); // the data source
        m_ui->QueueText("");
        m_ui->QueueText("");
    }
    m_ui->Queue(1); // allow saving the password
    Run(3, "", "");
    std::string chosen = Result();
    EXPECT_EQ(chosen.rfind("Provider=MSDASQL.1;Persist Security Info=True;", 0), 0u) << chosen;
    std::vector<platform::ShownMessageBox> shown = m_ui->Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, "Velmora");
    EXPECT_EQ(shown[0].text,
              "即将选择数据库连接，请在输入数据库连接密码的时候确认勾选“允许保存密码”"
              "选项。");
    Run(2, Id(12), chosen);
    Run(1, Id(12), "");
    Run(5, "0", "select 7 as a");
    EXPECT_EQ(Res("a"), "7");
    // Cancelled: the command fails and nothing is chosen.
    m_ui->Queue(IDOK);
    m_ui->Queue(-1);
    Outcome cancelled = Cmd(3);
    EXPECT_EQ(cancelled.hr, S_FALSE);
    EXPECT_EQ(cancelled.nRet, 0);
}

// What only a server gives: several results from one command (the SQLite
// driver runs one statement per command) and a link that can be lost.
class ServerDatabase : public Database {};
INSTANTIATE_TEST_SUITE_P(Postgres, ServerDatabase, ::testing::Values(Engine::Postgres), EngineName);

TEST_P(ServerDatabase, AMultiStatementCommandIsWalkedAndClosedFromTheFirst) {
    Connect();
    Run(5, "0", "select 1 as a; select 2 as a; select 3 as a");
    std::string seen = Res("a");
    while (Cmd(13).nRet == 1)
        seen += Res("a");
    EXPECT_EQ(seen, "123");
    EXPECT_EQ(Cmd(10).nRet, 1);
    EXPECT_EQ(Cmd(7).nRet, 1) << "the first record set, closed";
    Run(5, "0", "select 4 as a");
    EXPECT_EQ(Res("a"), "4");
}

TEST_P(ServerDatabase, ALostLinkFailsTheNextQueryAndConnectingByIdReopensIt) {
    Run(2, Id(55), m_conn);
    Run(1, Id(55), "");
    Run(5, "0", "select pg_backend_pid() as p");
    ASSERT_TRUE(
        PrivatePostgres::Shared().Superuser("select pg_terminate_backend(" + Res("p") + ")"));
    Outcome lost = Cmd(5, "0", "select 1 as a");
    EXPECT_EQ(lost.hr, S_FALSE);
    EXPECT_EQ(lost.nRet, 0);
    std::string text = Result();
    EXPECT_NE(text.find("(SQL State: 08S01)"), std::string::npos) << text;
    Run(1, Id(55), "");
    Run(5, "0", "select 1 as a");
    EXPECT_EQ(Res("a"), "1");
}
