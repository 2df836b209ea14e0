// Sessions spoken to as a local program would: what the bridge offers comes
// from the type library, values and failures are those of the script host,
// print jobs report their progress, objects go with their session, and one
// session's slow call does not hold up another's.
#include <thread>

#include "BridgeFixture.h"
#include "LabelChecks.h"
#include "platform/win32.h"
#include "testing/HttpServers.h"
#include "testing/VirtualDisplay.h"

namespace bridge_test {
namespace {

using boost::beast::http::verb;
using nlohmann::json;

class BridgeSession : public BridgeFixture {
protected:
    json Create(BridgeSocket &socket) {
        return socket.Request({{"op", "create"}, {"progId", "Quillbay.QuillDoc"}})["value"];
    }
};

// The type library's own answer for a member's name.
DISPID DispidOf(ITypeInfo *info, const std::string &name) {
    std::u16string wide(name.begin(), name.end());
    LPOLESTR names[1] = {wide.data()};
    MEMBERID id = -1;
    return SUCCEEDED(info->GetIDsOfNames(names, 1, &id)) ? id : -1;
}

} // namespace

TEST_F(BridgeSession, OffersTheMethodsOfTheTypeLibrary) {
    Start();
    json version = SendHttp(Port(), verb::get, "/version", "", Local()).Json();
    EXPECT_EQ(version["name"], "quillbay-bridge");
    EXPECT_EQ(version["protocol"], 1);
    ASSERT_EQ(version["classes"].size(), 1u) << version;
    const json &quillDoc = version["classes"][0];
    EXPECT_EQ(quillDoc["progId"], "Quillbay.QuillDoc");
    EXPECT_EQ(quillDoc["classId"], "clsid:AE9D5D26-B784-4C47-8830-86B5D0CA1F7C");
    ITypeLib *library = nullptr;
    ITypeInfo *info = nullptr;
    ASSERT_EQ(LoadRegTypeLib(
                  {0x56684029, 0x7FF2, 0x497E, {0x8D, 0x90, 0xAB, 0xB5, 0xC9, 0x31, 0x2A, 0xEA}}, 1,
                  0, 0x409, &library),
              S_OK);
    ASSERT_EQ(
        library->GetTypeInfoOfGuid(
            {0x794F1254, 0x49EA, 0x4B42, {0x81, 0xBF, 0x18, 0x03, 0xA1, 0x98, 0xE3, 0x79}}, &info),
        S_OK);
    TYPEATTR *attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(quillDoc["methods"].size(), attr->cFuncs);
    info->ReleaseTypeAttr(attr);
    for (const json &method : quillDoc["methods"])
        EXPECT_EQ(DispidOf(info, method["name"]), method["dispid"]) << method;
    info->Release();
    library->Release();
    EXPECT_EQ(
        quillDoc["methods"][1],
        json({{"name", "SetPrinter"}, {"dispid", 2}, {"params", {"szFlag"}}, {"returns", true}}));
    EXPECT_EQ(quillDoc["methods"][0]["returns"], false);
    // A created object describes itself the same way.
    BridgeSocket socket(Port(), Local());
    EXPECT_EQ(Create(socket)["members"], quillDoc["methods"]);
}

TEST_F(BridgeSession, CarriesValuesAndFailuresAsTheScriptHostDoes) {
    Start();
    // Each call: its arguments as a page's script gives them, and as JSON.
    const std::vector<std::pair<std::string, json>> calls = {
        {"BeginCharOf(undefined, 3, '0')", {"BeginCharOf", {{{"$", "undefined"}}, 3, "0"}}},
        {"BeginCharOf(null, 3, '0')", {"BeginCharOf", {nullptr, 3, "0"}}},
        {"BeginCharOf(12.5, 6, true)", {"BeginCharOf", {12.5, 6, true}}},
        {"BeginCharOf('x', 2.5, '0')", {"BeginCharOf", {"x", 2.5, "0"}}},
        {"BeginCharOf('x', NaN, '0')",
         {"BeginCharOf", {"x", {{"$", "number"}, {"value", "NaN"}}, "0"}}},
        {"BeginCharOf('x', 1e10, '0')", {"BeginCharOf", {"x", 1e10, "0"}}},
        {"EncryptChar('中文 ok')", {"EncryptChar", {"中文 ok"}}},
        {"SetPrinter('0')", {"SetPrinter", {"0"}}},
        {"GetCode(5, 1)", {"GetCode", {5, 1}}},
        {"PageSetup(1)", {"PageSetup", {1}}},
        {"GetDBResult()", {"GetDBResult", json::array()}},
    };
    std::string script = "var d = new ActiveXObject('Quillbay.QuillDoc');\n";
    for (const auto &[text, call] : calls)
        script += "try { var v = d." + text +
                  "; print(typeof v + ' ' + v); } catch (e) { print('threw ' + e.message); }\n";
    testing_support::WriteFile(m_dir + "/values.js", script);
    auto host = testing_support::Run({SCRIPT_HOST_PATH, m_dir + "/values.js"});
    BridgeSocket socket(Port(), Local());
    Create(socket);
    std::string bridge;
    for (const auto &[text, call] : calls) {
        json value = socket.Call(1, call[0], call[1]);
        if (value.is_object() && value.contains("error"))
            bridge += "threw " + value["error"]["message"].get<std::string>() + "\n";
        else if (value.is_object() && value.value("$", "") == "undefined")
            bridge += "undefined undefined\n";
        else if (value.is_string())
            bridge += "string " + value.get<std::string>() + "\n";
        else
            bridge += "number " + value.dump() + "\n";
    }
    EXPECT_EQ(bridge, host.output);
    EXPECT_NE(host.output.find("threw BeginCharOf failed: HRESULT 0x8002000A"), std::string::npos)
        << host.output;
}

TEST_F(BridgeSession, PrintJobsReportTheirProgress) {
    Start();
    BridgeSocket socket(Port(), Local());
    Create(socket);
    socket.Call(1, "SetPaperSize", {1000, 1500});
    EXPECT_EQ(socket.Call(1, "SetPrinter", {"1"}), 1);
    socket.Call(1, "PrintText", {5, 5, "进度 progress", 0, 0, 12});
    EXPECT_EQ(socket.Call(1, "SetPrinter", {"0"}), 1);
    const auto &events = socket.Events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0]["stage"], "started");
    EXPECT_EQ(events[0]["title"], "VelmoraIE打印控件");
    EXPECT_EQ(events[0]["printer"], "Quillbay PDF");
    EXPECT_EQ(events[1]["stage"], "page");
    EXPECT_EQ(events[1]["pages"], 1);
    EXPECT_EQ(events[2]["stage"], "finished");
    EXPECT_EQ(events[2]["job"], events[0]["job"]);
    auto pdfs = PdfFiles(m_dir + "/prints");
    ASSERT_EQ(pdfs.size(), 1u);
    EXPECT_EQ(events[2]["where"], pdfs[0]);
    // An HTTP session gets them with the reply of the call that caused them.
    std::string token = PostJson(Port(), "/session", json::object(), Token()).Json()["session"];
    auto call = [&](const std::string &member, json args) {
        return PostJson(Port(), "/call",
                        {{"session", token},
                         {"op", "call"},
                         {"object", 1},
                         {"member", member},
                         {"args", args}},
                        Token())
            .Json();
    };
    PostJson(Port(), "/call",
             {{"session", token}, {"op", "create"}, {"progId", "Quillbay.QuillDoc"}}, Token());
    call("SetPaperSize", {1000, 1500});
    EXPECT_EQ(call("SetPrinter", {"1"})["events"][0]["stage"], "started");
    json ended = call("SetPrinter", {"0"});
    ASSERT_EQ(ended["events"].size(), 2u) << ended;
    EXPECT_EQ(ended["events"][1]["stage"], "finished");
    // A job whose file could not be written ends failed, with the reason;
    // the user is told through the bridge's UI host.
    EXPECT_EQ(call("SetPrinter", {"1"})["events"][0]["stage"], "started");
    testing_support::RemoveTree(m_dir + "/prints");
    ended = call("SetPrinter", {"0"});
    ASSERT_EQ(ended["events"].size(), 2u) << ended;
    EXPECT_EQ(ended["events"][1]["stage"], "failed");
    EXPECT_NE(ended["events"][1].value("reason", "").find("(ERROR_PATH_NOT_FOUND)"),
              std::string::npos)
        << ended;
    EXPECT_NE(testing_support::ReadFile(m_dir + "/ui.log").find("notice\tNot printed: "),
              std::string::npos);
}

TEST_F(BridgeSession, ObjectsGoWithTheirSession) {
    Start();
    {
        BridgeSocket first(Port(), Local()), second(Port(), Local());
        for (int i = 0; i < 3; ++i) {
            Create(first);
            Create(second);
        }
        EXPECT_EQ(first.Request({{"op", "release"}, {"object", 2}})["value"]["$"], "undefined");
        EXPECT_EQ(first.Call(2, "EncryptChar", {"A"})["error"]["code"], "no-object");
        EXPECT_EQ(Status()["objects"], 5);
        EXPECT_EQ(Status()["serversIdle"], false);
        first.Close();
        for (int i = 0; i < 100 && Status()["objects"] != 3; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(Status()["objects"], 3);
    } // the second goes without a closing handshake
    for (int i = 0; i < 100 && Status()["objects"] != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    json status = Status();
    EXPECT_EQ(status["objects"], 0);
    EXPECT_EQ(status["sessions"], 0);
    EXPECT_EQ(status["serversIdle"], true);
}

TEST_F(BridgeSession, ASlowCallOfOnePageDoesNotHoldUpAnother) {
    // A print-setup dialog on the desktop, left unanswered for three seconds.
    testing_support::VirtualDisplay display;
    ASSERT_TRUE(display.Ready()) << "Xvfb did not start";
    setenv("DISPLAY", display.Name().c_str(), 1);
    setenv("QUILLBAY_UI", "desktop", 1);
    setenv("QUILLBAY_UI_TIMEOUT", "3", 1);
    Start();
    unsetenv("DISPLAY");
    unsetenv("QUILLBAY_UI_TIMEOUT");
    BridgeSocket slow(Port(), Local()), quick(Port(), Local());
    Create(slow);
    Create(quick);
    slow.SendText(
        json{{"id", 1}, {"op", "call"}, {"object", 1}, {"member", "SetPrinter"}, {"args", {"3"}}}
            .dump());
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(quick.Call(1, "EncryptChar", {"AB"}), "8283");
    EXPECT_EQ(slow.Available(), 0u) << "the dialog ended before the other page's calls";
    // Nobody chose a printer: the setup was cancelled.
    EXPECT_EQ(slow.Next()["value"], 0);
}

TEST_F(BridgeSession, PagesOfTwoSitesKeepTheirCookiesApart) {
    testing_support::FaultServer server;
    Allow("https://one.test");
    Allow("https://two.test");
    Start();
    BridgeSocket one(Port(), {{"Origin", "https://one.test"}}),
        two(Port(), {{"Origin", "https://two.test"}}),
        oneAgain(Port(), {{"Origin", "https://one.test"}}), local(Port(), Local());
    auto post = [&](BridgeSocket &page, const std::string &path) {
        EXPECT_EQ(page.Call(1, "HttpConnect", {server.Url(path)}), 1);
        return page.Call(1, "HttpSend", {"k", ""});
    };
    for (BridgeSocket *page : {&one, &two, &oneAgain, &local})
        ASSERT_EQ(Create(*page)["id"], 1);
    post(one, "/cookie/site/login?set=site%3Done");
    post(two, "/cookie/site/login?set=site%3Dtwo");
    EXPECT_EQ(post(one, "/cookie/site/page"), "site=one");
    EXPECT_EQ(post(two, "/cookie/site/page"), "site=two");
    // Another page of the same site shares its cookies; a local program has
    // the account's own.
    EXPECT_EQ(post(oneAgain, "/cookie/site/page"), "site=one");
    EXPECT_EQ(post(local, "/cookie/site/page"), "");
}

TEST_F(BridgeSession, AnswersHelpVersionAndOneBridgePerUser) {
    auto help = testing_support::Run({BRIDGE_PATH, "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("--port N"), std::string::npos);
    EXPECT_NE(help.output.find("protocol 1"), std::string::npos);
    auto version = testing_support::Run({BRIDGE_PATH, "--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.output.rfind("quillbay-bridge (quillbay) ", 0), 0u) << version.output;
    EXPECT_EQ(testing_support::Run({BRIDGE_PATH, "--port", "x"}).exitCode, 2);
    EXPECT_EQ(testing_support::Run({BRIDGE_PATH, "--frobnicate"}).exitCode, 2);
    Start();
    auto second = testing_support::Run({BRIDGE_PATH, "--foreground", "--port", "0"});
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_EQ(second.output, "quillbay-bridge: already running for this user\n");
}

} // namespace bridge_test
