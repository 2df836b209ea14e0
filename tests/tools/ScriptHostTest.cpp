// The script host with the registered module: scripts reach the object by
// name as a page's script would.
#include <gtest/gtest.h>
#include <string>

#include "testing/HttpServers.h"
#include "testing/PrivateOdbc.h"
#include "testing/TestSupport.h"

namespace {

class ScriptHost : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(testing_support::Run({REGSVR_PATH, "/s", QUILLBAY_MODULE_PATH}).exitCode, 0);
    }
    void SetUp() override {
        m_dir = testing_support::MakeTempDir("script-");
        setenv("QUILLBAY_UI", "scripted", 1);
        setenv("QUILLBAY_UI_LOG", (m_dir + "/ui.log").c_str(), 1);
    }
    void TearDown() override {
        unsetenv("QUILLBAY_UI_LOG");
        testing_support::RemoveTree(m_dir);
    }

    testing_support::ProcessResult RunScript(const std::string &name, const std::string &text) {
        std::string path = m_dir + "/" + name;
        testing_support::WriteFile(path, text);
        return testing_support::Run({SCRIPT_HOST_PATH, path});
    }

    std::string m_dir;
};

} // namespace

TEST_F(ScriptHost, CallsMethodsByNameFromJavaScript) {
    auto result = RunScript("page.js", R"(
var doc = new ActiveXObject("Quillbay.QuillDoc");
print(doc.BeginCharOf("123", 6, "0"));
print(doc.EncryptChar("  AB "));
var code = doc.GetCode(0, 9);
print(code >= 0 && code <= 9, typeof code);
print(doc.GetDBResult());
var padded = doc.BeginCharOf("中文", 5, "0");
print(padded, padded.length, doc.GetDBResult() === padded);
)");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output, "000123\n8283\ntrue number\n8283\n000中文 5 true\n");
}

TEST_F(ScriptHost, RunsAPagesScriptsWithItsObjectTag) {
    auto result = RunScript("page.html", R"html(<html><head>
<object id="printer" classid="clsid:AE9D5D26-B784-4C47-8830-86B5D0CA1F7C" width="0" height="0"></object>
<script type="text/javascript">
function start() { print("onload " + printer.EncryptChar("AB")); }
print(printer.BeginCharOf("7", 3, "0"));
</script></head>
<body onload="start()"><script>print(printer.GetDBResult());</script></body></html>)html");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output, "007\n007\nonload 8283\n");
}

TEST_F(ScriptHost, FailuresBecomeExceptionsNamingMethodAndHresult) {
    auto result = RunScript("fail.js", R"(
var doc = new ActiveXObject("Quillbay.QuillDoc");
try { doc.GetCode("abc", 1); } catch (e) { print(e.message); }
try { doc.NoSuchMethod(); } catch (e) { print("missing: " + (e instanceof TypeError)); }
print(doc.GetCode(5, 1));   // nothing written: the zero of its type
print(doc.GetDBResult() === "");
try { new ActiveXObject("No.Such.Object"); } catch (e) { print(e.message.indexOf("0x800401F3") > 0); }
)");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output, "GetCode failed: HRESULT 0x80020005\nmissing: true\n0\ntrue\ntrue\n");
}

TEST_F(ScriptHost, AlertGoesToTheUiHost) {
    auto result = RunScript("alert.js", "alert('保存成功'); print('after');");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output, "after\n");
    std::string log = testing_support::ReadFile(m_dir + "/ui.log");
    EXPECT_NE(log.find("box\t48\tScript\t保存成功\t1"), std::string::npos) << log;
}

TEST_F(ScriptHost, AnUncaughtErrorFailsTheRun) {
    auto result = RunScript("bad.js", "print('before'); undefinedFunction();");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.output, "before\n");
}

TEST_F(ScriptHost, TheConsoleDataLinkDialogAsksOnTheTerminal) {
    SKIP_UNDER_EMULATION("the script host starts from a /bin/sh pipeline, which cannot start a "
                         "program of the emulated processor");
    testing_support::PrivateOdbc::Shared(); // its data source "Books"
    std::string script = m_dir + "/choose.js";
    testing_support::WriteFile(script, "var doc = new ActiveXObject('Quillbay.QuillDoc');\n"
                                       "print(doc.DBCommand(3, '', ''));\n"
                                       "print(doc.GetDBResult());\n");
    // The box (Enter: OK), the first data source, the user, the password,
    // and the second choice: allow saving the password.
    auto result = testing_support::Run(
        {"/bin/sh", "-c",
         "printf '\\n1\\nreader\\npw\\n2\\n' | QUILLBAY_UI=console " SCRIPT_HOST_PATH " " + script +
             " 2>/dev/null"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output,
              "1\nProvider=MSDASQL.1;Persist Security Info=True;DSN=Books;UID=reader;PWD=pw\n");
}

TEST_F(ScriptHost, APersistentCookieGoesWithTheRequestsOfTheNextProcess) {
    testing_support::FaultServer server;
    const std::string login =
        server.Url("/cookie/keep/login?set=kept%3D1%3B%20Max-Age%3D3600&set=session%3D2");
    const std::string page = "doc.HttpConnect('" + server.Url("/cookie/keep/page") +
                             "'); print(doc.HttpSend('k', ''));\n";
    auto first = RunScript("login.js", "var doc = new ActiveXObject('Quillbay.QuillDoc');\n"
                                       "print(doc.HttpConnect('" +
                                           login + "'), doc.HttpSend('k', ''));\n" + page);
    EXPECT_EQ(first.exitCode, 0);
    EXPECT_EQ(first.output, "1 \nkept=1; session=2\n");
    // The session cookie ended with its process.
    auto next = RunScript("next.js", "var doc = new ActiveXObject('Quillbay.QuillDoc');\n" + page);
    EXPECT_EQ(next.exitCode, 0);
    EXPECT_EQ(next.output, "kept=1\n");
}
