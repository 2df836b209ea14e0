// The bridge's gate, spoken to as a browser or a program would: the
// loopback Host, the Origin and the user's consent, the token, CORS, the
// owners of sessions, the limits, and malformed requests.
#include <atomic>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "BridgeFixture.h"
#include "HttpReplies.h"
#include "OriginList.h"

namespace bridge_test {
namespace {

using boost::beast::http::verb;
using nlohmann::json;

class BridgeGate : public BridgeFixture {
protected:
    HttpReply Get(const std::string &target, const Headers &headers) {
        return SendHttp(Port(), verb::get, target, "", headers);
    }
    HttpReply PostFrom(const std::string &origin, const std::string &target, const json &message) {
        return SendHttp(Port(), verb::post, target, message.dump(), {{"Origin", origin}});
    }
    // Opens an HTTP session for an origin and creates an object in it.
    std::string SessionWithObject(const std::string &origin) {
        std::string token =
            PostFrom(origin, "/session", json::object()).Json().value("session", "");
        json created =
            PostFrom(origin, "/call",
                     {{"session", token}, {"op", "create"}, {"progId", "Quillbay.QuillDoc"}})
                .Json();
        EXPECT_EQ(created["value"]["id"], 1) << created;
        return token;
    }
};

} // namespace

TEST(BridgeRules, OriginsAreTakenAsBrowsersSendThem) {
    std::string origin;
    EXPECT_TRUE(bridge::NormalizeOrigin("HTTPS://Shop.Example/", origin));
    EXPECT_EQ(origin, "https://shop.example");
    EXPECT_TRUE(bridge::NormalizeOrigin("https://shop.example:443", origin));
    EXPECT_EQ(origin, "https://shop.example");
    EXPECT_TRUE(bridge::NormalizeOrigin("http://127.0.0.1:8080", origin));
    EXPECT_TRUE(bridge::NormalizeOrigin("http://[::1]:8080", origin));
    for (const char *bad : {"null", "file://", "chrome-extension://abc", "https://a b",
                            "https://x/path", "https://x:99999", "https://user@x", "ftp://x", ""})
        EXPECT_FALSE(bridge::NormalizeOrigin(bad, origin)) << bad;
}

TEST(BridgeRules, HostMustBeLoopbackAndTheBridgesPort) {
    EXPECT_TRUE(bridge::HostIsLoopback("127.0.0.1:18412", 18412));
    EXPECT_TRUE(bridge::HostIsLoopback("[::1]:18412", 18412));
    EXPECT_TRUE(bridge::HostIsLoopback("LocalHost:18412", 18412));
    EXPECT_FALSE(bridge::HostIsLoopback("127.0.0.1:18413", 18412));
    EXPECT_FALSE(bridge::HostIsLoopback("127.0.0.1", 18412));
    EXPECT_FALSE(bridge::HostIsLoopback("rebound.example:18412", 18412));
    EXPECT_FALSE(bridge::HostIsLoopback("localhost.evil:18412", 18412));
    EXPECT_TRUE(bridge::TokenMatches("Bearer abc", "abc"));
    EXPECT_FALSE(bridge::TokenMatches("Bearer abd", "abc"));
    EXPECT_FALSE(bridge::TokenMatches("Bearer ", ""));
}

TEST_F(BridgeGate, RefusesAHostHeaderThatIsNotItsLoopbackAddress) {
    Start();
    Headers rebound = Local();
    rebound.push_back({"Host", "rebound.example:" + std::to_string(Port())});
    HttpReply reply = Get("/version", rebound);
    EXPECT_EQ(reply.status, 403);
    EXPECT_EQ(reply.ErrorCode(), "host-refused");
    Headers otherPort = Local();
    otherPort.push_back({"Host", "127.0.0.1:1"});
    EXPECT_EQ(Get("/session", otherPort).ErrorCode(), "host-refused");
    BridgeSocket socket(Port(), rebound);
    EXPECT_FALSE(socket.Open());
    Headers named = Local();
    named.push_back({"Host", "localhost:" + std::to_string(Port())});
    EXPECT_EQ(Get("/version", named).status, 200);
}

TEST_F(BridgeGate, ListensOnBothLoopbackAddresses) {
    Start();
    EXPECT_EQ(SendHttp(Port(), verb::get, "/version", "", Local(), "127.0.0.1").status, 200);
    Headers named = Local();
    named.push_back({"Host", "[::1]:" + std::to_string(Port())});
    HttpReply six = SendHttp(Port(), verb::get, "/version", "", named, "::1");
    // A machine without IPv6 loopback gets 127.0.0.1 alone, and a warning.
    if (m_bridge->Log().find("no IPv6 loopback") != std::string::npos)
        EXPECT_EQ(six.status, 0);
    else
        EXPECT_EQ(six.status, 200);
}

TEST_F(BridgeGate, ProgramsWithoutAnOriginNeedTheToken) {
    Start();
    EXPECT_EQ(Get("/version", {}).ErrorCode(), "token-required");
    EXPECT_EQ(Get("/version", {}).status, 401);
    EXPECT_EQ(Get("/version", TokenHeader(std::string(64, '0'))).status, 401);
    EXPECT_EQ(Get("/version", Local()).status, 200);
    EXPECT_FALSE(BridgeSocket(Port(), {}).Open());
    EXPECT_TRUE(BridgeSocket(Port(), Local()).Open());
    // The token file is the user's alone, and a restart makes a new token.
    struct stat info {};
    ASSERT_EQ(stat((std::string(getenv("QUILLBAY_HOME")) + "/bridge/token").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    const std::string first = Token();
    Start();
    EXPECT_NE(Token(), first);
    // The client is public.
    HttpReply client = Get("/quillbay.js", {});
    EXPECT_EQ(client.status, 200);
    EXPECT_NE(client.body.find("ActiveXObject"), std::string::npos);
    EXPECT_NE(Get("/IQuillDoc.d.ts", {}).body.find("SetPrinter(szFlag: string): number;"),
              std::string::npos);
}

TEST_F(BridgeGate, AsksTheUserOnceAboutAnOriginAndKeepsTheAnswer) {
    // Block the first origin, allow the second always, the third this time.
    Start({}, "2,1,0");
    const std::string blocked = "http://blocked.test:8001", always = "http://always.test:8002",
                      once = "http://once.test:8003";
    HttpReply refused = Get("/version", {{"Origin", blocked}});
    EXPECT_EQ(refused.status, 403);
    EXPECT_EQ(refused.ErrorCode(), "origin-refused");
    // Readable by the page, so its script can say why.
    EXPECT_EQ(refused.Header("access-control-allow-origin"), blocked);
    EXPECT_EQ(Get("/version", {{"Origin", always}}).status, 200);
    // Five requests at once from a new origin wait for one question.
    std::vector<std::thread> pages;
    std::atomic<int> allowed{0};
    for (int i = 0; i < 5; ++i)
        pages.emplace_back([&] { allowed += Get("/version", {{"Origin", once}}).status == 200; });
    for (auto &page : pages)
        page.join();
    EXPECT_EQ(allowed, 5);
    EXPECT_EQ(Get("/version", {{"Origin", blocked}}).status, 403);
    EXPECT_EQ(Questions().size(), 3u);
    // The stored answers outlive the bridge; "this time" does not.
    auto listed = testing_support::Run({BRIDGE_PATH, "--list-origins"}).output;
    EXPECT_NE(listed.find("blocked\t" + blocked), std::string::npos) << listed;
    EXPECT_NE(listed.find("allowed\t" + always), std::string::npos) << listed;
    EXPECT_EQ(listed.find(once), std::string::npos) << listed;
    Start({}, "0");
    EXPECT_EQ(Get("/version", {{"Origin", always}}).status, 200);
    EXPECT_EQ(Get("/version", {{"Origin", blocked}}).status, 403);
    EXPECT_EQ(Questions().size(), 3u);
    // Forgotten, the origin is asked about again once the bridge's stored
    // refusal (kept a second) has gone; meanwhile it is refused unasked.
    ASSERT_EQ(testing_support::Run({BRIDGE_PATH, "--forget", blocked}).exitCode, 0);
    int status = 403;
    for (int i = 0; i < 1000 && status == 403; ++i, usleep(10000))
        status = Get("/version", {{"Origin", blocked}}).status;
    EXPECT_EQ(status, 200) << "asked for 10 s, still refused";
    EXPECT_EQ(Questions().size(), 4u);
}

TEST_F(BridgeGate, TheMachinesListHoldsForEveryAccountAndARefusalInEitherListWins) {
    // The policies go to a folder of the test's; the browsers are not asked.
    setenv("QUILLBAY_POLICY_ROOT", (m_dir + "/root").c_str(), 1);
    ASSERT_EQ(testing_support::Run({"/bin/mkdir", m_dir + "/root"}).exitCode, 0);
    auto run = [](std::vector<std::string> args) {
        args.insert(args.begin(), BRIDGE_PATH);
        return testing_support::Run(args).exitCode;
    };
    const std::string shop = "https://shop.test", blockedHere = "https://blocked-here.test",
                      blockedThere = "https://blocked-there.test";
    EXPECT_EQ(run({"--allow", shop, "--machine"}), 0);
    EXPECT_EQ(run({"--allow", blockedHere, "--machine"}), 0);
    EXPECT_EQ(run({"--block", blockedHere}), 0); // this account's own block
    EXPECT_EQ(run({"--allow", blockedThere}), 0);
    EXPECT_EQ(run({"--block", blockedThere, "--machine"}), 0); // the administrator's
    Start({}, "1");
    EXPECT_EQ(Get("/version", {{"Origin", shop}}).status, 200);
    EXPECT_EQ(Get("/version", {{"Origin", blockedHere}}).ErrorCode(), "origin-refused");
    EXPECT_EQ(Get("/version", {{"Origin", blockedThere}}).ErrorCode(), "origin-refused");
    EXPECT_TRUE(Questions().empty());
    auto machine = testing_support::Run({BRIDGE_PATH, "--list-origins", "--machine"}).output;
    EXPECT_NE(machine.find("allowed\t" + shop + "\n"), std::string::npos) << machine;
    EXPECT_NE(machine.find("blocked\t" + blockedThere + "\n"), std::string::npos) << machine;
    auto own = testing_support::Run({BRIDGE_PATH, "--list-origins"}).output;
    EXPECT_NE(own.find("blocked\t" + blockedHere + "\n"), std::string::npos) << own;
    EXPECT_EQ(own.find(shop), std::string::npos) << own;
    unsetenv("QUILLBAY_POLICY_ROOT");
}

TEST_F(BridgeGate, TheMachinesOriginsGoIntoPolicyFilesOfQuillbaysOwnAndOutAgain) {
    const std::string root = m_dir + "/root", managed = root + "/etc/chromium/policies/managed";
    setenv("QUILLBAY_POLICY_ROOT", root.c_str(), 1);
    // The administrator's own policies, which stay as they are.
    ASSERT_EQ(
        testing_support::Run({"/bin/mkdir", "-p", managed, root + "/etc/firefox-esr"}).exitCode, 0);
    const std::string theirs = R"({"LoopbackNetworkAllowedForUrls": ["https://intranet.test"]})";
    testing_support::WriteFile(managed + "/site.json", theirs);
    testing_support::WriteFile(root + "/etc/firefox-esr/firefox-esr.js", "pref(\"a\", 1);\n");
    auto run = [](const std::string &action, const std::string &origin) {
        return testing_support::Run({BRIDGE_PATH, action, origin, "--machine"}).exitCode;
    };
    EXPECT_EQ(run("--allow", "https://Shop.test:8443/"), 0);
    EXPECT_EQ(run("--allow", "http://shop.test:8080"), 0);
    EXPECT_EQ(run("--allow", "http://shop.test:8080"), 0); // once is enough
    json chromium = json::parse(testing_support::ReadFile(managed + "/00-quillbay.json"));
    EXPECT_EQ(chromium,
              json({{"LoopbackNetworkAllowedForUrls",
                     {"https://shop.test:8443", "http://shop.test:8080"}},
                    {"OverrideSecurityRestrictionsOnInsecureOrigin", {"http://shop.test:8080"}}}));
    EXPECT_EQ(json::parse(testing_support::ReadFile(
                  root + "/etc/opt/edge/policies/managed/00-quillbay.json")),
              chromium);
    const std::string firefox = testing_support::ReadFile(root + "/etc/firefox-esr/zz-quillbay.js");
    EXPECT_NE(firefox.find("\npref(\"network.lna.skip-domains\", \"shop.test\");\n"),
              std::string::npos)
        << firefox;
    // Forgotten and blocked, they go out again; a file left empty goes.
    EXPECT_EQ(run("--forget", "https://shop.test:8443"), 0);
    EXPECT_NE(testing_support::ReadFile(root + "/etc/firefox/zz-quillbay.js").find("shop.test"),
              std::string::npos);
    EXPECT_EQ(run("--block", "http://shop.test:8080"), 0);
    EXPECT_EQ(testing_support::ListFiles(managed, ".json"), std::vector<std::string>{"site.json"});
    EXPECT_EQ(testing_support::ListFiles(root + "/etc/firefox-esr", ".js"),
              std::vector<std::string>{"firefox-esr.js"});
    EXPECT_TRUE(
        testing_support::ListFiles(root + "/etc/opt/edge/policies/managed", ".json").empty());
    EXPECT_EQ(testing_support::ReadFile(managed + "/site.json"), theirs);
    // A file of ours that someone broke is left as it is, and said so.
    testing_support::WriteFile(managed + "/00-quillbay.json", "{ broken");
    EXPECT_EQ(run("--allow", "https://shop.test"), 1);
    EXPECT_EQ(testing_support::ReadFile(managed + "/00-quillbay.json"), "{ broken");
    unsetenv("QUILLBAY_POLICY_ROOT");
}

TEST_F(BridgeGate, OriginsThatCannotBeAllowedAreRefusedWithoutAQuestion) {
    Start({}, "1,1,1");
    for (const char *origin : {"null", "file://", "chrome-extension://abcdef"})
        EXPECT_EQ(Get("/version", {{"Origin", origin}}).ErrorCode(), "origin-refused") << origin;
    EXPECT_TRUE(Questions().empty());
    EXPECT_EQ(testing_support::Run({BRIDGE_PATH, "--allow", "null"}).exitCode, 2);
}

TEST_F(BridgeGate, CorsAndPrivateNetworkPreflightsAnswerAllowedOrigins) {
    const std::string page = "http://cors.test:8080", blocked = "http://cors-blocked.test:8080";
    Allow(page);
    ASSERT_EQ(testing_support::Run({BRIDGE_PATH, "--block", blocked}).exitCode, 0);
    Start();
    HttpReply preflight = SendHttp(Port(), verb::options, "/call", "",
                                   {{"Origin", page},
                                    {"Access-Control-Request-Method", "POST"},
                                    {"Access-Control-Request-Headers", "content-type"},
                                    {"Access-Control-Request-Private-Network", "true"}});
    EXPECT_EQ(preflight.status, 204);
    EXPECT_EQ(preflight.Header("access-control-allow-origin"), page);
    EXPECT_EQ(preflight.Header("access-control-allow-private-network"), "true");
    EXPECT_NE(preflight.Header("access-control-allow-methods").find("POST"), std::string::npos);
    EXPECT_NE(preflight.Header("access-control-allow-headers").find("Content-Type"),
              std::string::npos);
    HttpReply refused = SendHttp(Port(), verb::options, "/call", "",
                                 {{"Origin", blocked}, {"Access-Control-Request-Method", "POST"}});
    EXPECT_EQ(refused.status, 403);
    EXPECT_EQ(refused.Header("access-control-allow-origin"), "");
    HttpReply version = Get("/version", {{"Origin", page}});
    EXPECT_EQ(version.Header("access-control-allow-origin"), page);
    EXPECT_EQ(version.Header("vary"), "Origin");
    // Programs get no CORS headers at all.
    EXPECT_EQ(Get("/version", Local()).Header("access-control-allow-origin"), "");
}

TEST_F(BridgeGate, SessionsBelongToTheOriginThatOpenedThem) {
    const std::string first = "http://first.test", second = "http://second.test";
    Allow(first);
    Allow(second);
    Start();
    std::string token = SessionWithObject(first);
    json call = {{"session", token},
                 {"op", "call"},
                 {"object", 1},
                 {"member", "EncryptChar"},
                 {"args", {"AB"}}};
    EXPECT_EQ(PostFrom(first, "/call", call).Json()["value"], "8283");
    HttpReply stolen = PostFrom(second, "/call", call);
    EXPECT_EQ(stolen.status, 403);
    EXPECT_EQ(stolen.ErrorCode(), "wrong-session");
    EXPECT_EQ(PostJson(Port(), "/call", call, Token()).ErrorCode(), "wrong-session");
    // Another session of the same origin does not reach this one's objects.
    std::string other = PostFrom(first, "/session", json::object()).Json()["session"];
    call["session"] = other;
    EXPECT_EQ(PostFrom(first, "/call", call).ErrorCode(), "no-object");
    call["session"] = std::string(32, 'f');
    HttpReply unknown = PostFrom(first, "/call", call);
    EXPECT_EQ(unknown.status, 404);
    EXPECT_EQ(unknown.ErrorCode(), "no-session");
}

TEST_F(BridgeGate, RefusesOversizedRequestsAndKeepsServing) {
    const std::string page = "http://big.test";
    Allow(page);
    Start({"--max-request", "4096", "--max-document", "8192"});
    std::string token = SessionWithObject(page);
    json big = {{"session", token},
                {"op", "call"},
                {"object", 1},
                {"member", "EncryptChar"},
                {"args", {std::string(10000, 'A')}}};
    HttpReply refused = PostFrom(page, "/call", big);
    EXPECT_EQ(refused.status, 413);
    EXPECT_EQ(refused.ErrorCode(), "too-large");
    EXPECT_EQ(refused.Header("access-control-allow-origin"), page);
    // Over the request limit only a document may be: another message is
    // refused and the socket goes on; a document is read (here bytes that
    // are no document, refused as such, its id echoed).
    BridgeSocket greedy(Port(), Local()), modest(Port(), Local());
    EXPECT_EQ(greedy.Request({{"op", "ping"}, {"pad", std::string(6000, 'x')}})["error"]["code"],
              "too-large");
    const json document =
        greedy.Request({{"op", "document"}, {"base64", std::string(6000, 'A')}});
    EXPECT_EQ(document["error"]["code"], "bad-document") << document;
    // A socket that sends more than a document may be is closed with 1009;
    // the others go on.
    greedy.SendText(json{{"op", "ping"}, {"pad", std::string(10000, 'x')}}.dump());
    json closed = greedy.Next();
    EXPECT_EQ(closed["closed"], 1009) << closed;
    EXPECT_EQ(modest.Request({{"op", "ping"}}).count("error"), 0u);
    big["args"] = {"AB"};
    EXPECT_EQ(PostFrom(page, "/call", big).Json()["value"], "8283");
}

TEST_F(BridgeGate, LimitsSessionsObjectsAndCallsInFlight) {
    Start({"--max-sessions", "2", "--max-objects", "2", "--max-calls", "1"});
    BridgeSocket first(Port(), Local()), second(Port(), Local()), third(Port(), Local());
    EXPECT_EQ(first.Greeting()["event"], "ready");
    EXPECT_EQ(third.Greeting()["error"]["code"], "limit");
    EXPECT_EQ(PostJson(Port(), "/session", json::object(), Token()).status, 429);
    const json create = {{"op", "create"}, {"progId", "Quillbay.QuillDoc"}};
    EXPECT_EQ(first.Request(create)["value"]["id"], 1);
    EXPECT_EQ(first.Request(create)["value"]["id"], 2);
    EXPECT_EQ(first.Request(create)["error"]["code"], "limit");
    // Calls sent back to back: those beyond the one in flight are refused,
    // each gets one reply, and the session goes on.
    EXPECT_EQ(second.Request(create)["value"]["id"], 1);
    const std::string symbol(1500, 'Q');
    for (int id = 100; id < 120; ++id)
        second.SendText(json{
            {"id", id},
            {"op", "call"},
            {"object", 1},
            {"member", "GetBarCodeImg"},
            {"args",
             {2, symbol}}}.dump());
    int replies = 0, refused = 0;
    while (replies < 20) {
        json reply = second.Next();
        ASSERT_FALSE(reply.contains("closed"));
        ++replies;
        refused += reply.contains("error") && reply["error"]["code"] == "limit";
    }
    EXPECT_GT(refused, 0);
    EXPECT_EQ(second.Call(1, "EncryptChar", {"AB"}), "8283");
}

TEST_F(BridgeGate, IdleHttpSessionsEndAndReleaseTheirObjects) {
    Start({"--idle-timeout", "1"});
    std::string token = PostJson(Port(), "/session", json::object(), Token()).Json()["session"];
    json create = {{"session", token}, {"op", "create"}, {"progId", "Quillbay.QuillDoc"}};
    EXPECT_EQ(PostJson(Port(), "/call", create, Token()).Json()["value"]["id"], 1);
    EXPECT_EQ(Status()["objects"], 1);
    // The session ends, then its objects go and the servers fall idle.
    auto idle = [](const json &status) {
        return status["sessions"] == 0 && status["objects"] == 0 && status["serversIdle"] == true;
    };
    json status = Status();
    for (int i = 0; i < 3000 && !idle(status); ++i, usleep(10000))
        status = Status();
    EXPECT_TRUE(idle(status)) << "waited 30 s for the idle session to end: " << status;
    EXPECT_EQ(PostJson(Port(), "/call", create, Token()).ErrorCode(), "no-session");
}

TEST_F(BridgeGate, MalformedMessagesGetErrorsAndNothingElse) {
    Start();
    auto post = [&](const std::string &body) {
        return SendHttp(Port(), verb::post, "/call", body, Local());
    };
    EXPECT_EQ(post("not json").ErrorCode(), "bad-request");
    EXPECT_EQ(post("[1,2]").ErrorCode(), "bad-request");
    EXPECT_EQ(post(std::string(100000, '[')).ErrorCode(), "bad-request");
    BridgeSocket socket(Port(), Local());
    socket.SendText("{\"id\":1,\"op\":\"call\",\"object\":1,\"member\":\"EncryptChar\","
                    "\"args\":[\"\\ud800\"]}");
    EXPECT_EQ(socket.Next()["error"]["code"], "bad-request");
    EXPECT_EQ(socket.Request({{"op", "dance"}})["error"]["code"], "bad-request");
    EXPECT_EQ(socket.Request({{"op", "create"}})["error"]["code"], "bad-request");
    EXPECT_EQ(socket.Request({{"op", "create"}, {"progId", "No.Such.Object"}})["error"]["code"],
              "create-failed");
    EXPECT_EQ(socket.Request({{"op", "create"}, {"progId", "Quillbay.QuillDoc"}})["value"]["id"],
              1);
    EXPECT_EQ(socket.Call(1, "NoSuchMethod", json::array())["error"]["code"], "no-member");
    EXPECT_EQ(socket.Call(7, "EncryptChar", {"AB"})["error"]["code"], "no-object");
    EXPECT_EQ(socket.Call(1, "GetCode", {{{"$", "object"}, {"id", 9}}, 1})["error"]["code"],
              "bad-request");
    EXPECT_EQ(
        socket.Request(
            {{"op", "call"}, {"object", 1}, {"member", "GetCode"}, {"args", 5}})["error"]["code"],
        "bad-request");
    EXPECT_EQ(Get("/nowhere", Local()).status, 404);
    EXPECT_EQ(socket.Call(1, "BeginCharOf", {"5", 3, "0"}), "005");
}

} // namespace bridge_test

namespace bridge_test {

// A name with a NUL would be cut there by the platform and name another
// thing; string arguments are counted and keep theirs.
TEST_F(BridgeGate, RefusesNamesHoldingANulAndKeepsNulsInStrings) {
    Start();
    const std::string cut("Quillbay.QuillDoc\0x", 19);
    HttpReply byProgId = PostJson(Port(), "/call", {{"op", "create"}, {"progId", cut}}, Token());
    EXPECT_EQ(byProgId.status, 400);
    EXPECT_EQ(byProgId.ErrorCode(), "bad-request") << byProgId.body;
    EXPECT_EQ(Status().value("objects", -1), 0);
    BridgeSocket socket(Port(), Local());
    const json classId = socket.Request(
        {{"op", "create"},
         {"classId", std::string("clsid:00000000-0000-0000-0000-000000000000\0", 43)}});
    EXPECT_EQ(classId["error"]["code"], "bad-request") << classId;
    ASSERT_EQ(socket.Request({{"op", "create"}, {"progId", "Quillbay.QuillDoc"}})["value"]["id"],
              1);
    EXPECT_EQ(socket.Call(1, std::string("EncryptChar\0Other", 17), {"AB"})["error"]["code"],
              "bad-request");
    // The method gets the whole string; it reads it up to the NUL, as the
    // object does its ANSI text.
    EXPECT_EQ(socket.Call(1, "EncryptChar", {std::string("AB\0CD", 5)}),
              socket.Call(1, "EncryptChar", {"AB"}));
}

} // namespace bridge_test
