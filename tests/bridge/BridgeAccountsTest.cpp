// The bridge and the dispatcher with real accounts of the machine: the test
// (root, as CI runs it) makes them with useradd and runs curl as each, so
// the kernel, not a header, says whose each connection is.
#include <boost/asio/ip/v6_only.hpp>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "BridgeFixture.h"
#include "platform/kernel/SocketOwner.h"
#include "testing/HeadlessBrowser.h"
#include "testing/PageServer.h"
#include "testing/TestAccount.h"

namespace bridge_test {
namespace {

using nlohmann::json;
using testing_support::BridgeProcess;
using testing_support::TestAccount;

#define SKIP_WITHOUT_ACCOUNT(account)                                                              \
    if (!(account).Made())                                                                         \
    GTEST_SKIP() << (account).Why()

// What curl run as an account got: the status and the body.
struct CurlReply {
    int status = 0;
    json body;
    std::string Code() const {
        return body.is_object() && body.contains("error") ? body["error"].value("code", "") : "";
    }
};

CurlReply CurlAs(const TestAccount &account, const std::string &url,
                 const std::vector<std::string> &headers, const std::string &post = "") {
    std::vector<std::string> argv = {"/usr/bin/curl", "-s", "-m", "10", "-w", "\n%{http_code}"};
    for (const std::string &h : headers) {
        argv.push_back("-H");
        argv.push_back(h);
    }
    if (!post.empty()) {
        argv.push_back("--data-binary");
        argv.push_back(post);
    }
    argv.push_back(url);
    const std::string out = account.Run(argv).output;
    const size_t cut = out.rfind('\n');
    CurlReply reply;
    if (cut == std::string::npos)
        return reply;
    reply.status = atoi(out.c_str() + cut + 1);
    reply.body = json::parse(out.substr(0, cut), nullptr, false);
    return reply;
}

// Lines of a log that hold `text`.
int CountLines(const std::string &log, const std::string &text) {
    int count = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
        ++count;
    return count;
}

} // namespace

class BridgeAccounts : public BridgeFixture {};

TEST_F(BridgeAccounts, ABridgeOnItsOwnPortRefusesAnotherAccountBeforeReadingAnything) {
    TestAccount other("B");
    SKIP_WITHOUT_ACCOUNT(other);
    const std::string allowed = "http://shop.example";
    Allow(allowed);
    Start();
    const std::string url = "http://127.0.0.1:" + std::to_string(Port()) + "/session";
    // Neither the origin the bridge's account allowed nor the account's own
    // token lets another account in.
    for (const std::vector<std::string> &headers :
         {std::vector<std::string>{"Origin: " + allowed},
          std::vector<std::string>{"Authorization: Bearer " + Token()}}) {
        CurlReply refused = CurlAs(other, url, headers, "{}");
        EXPECT_EQ(refused.status, 403);
        EXPECT_EQ(refused.Code(), "wrong-user") << refused.body;
    }
    CurlReply v6 = CurlAs(other, "http://[::1]:" + std::to_string(Port()) + "/version",
                          {"Authorization: Bearer " + Token()});
    if (v6.status != 0) { // a machine without IPv6 loopback has no [::1] listener
        EXPECT_EQ(v6.Code(), "wrong-user");
    }
    // The bridge's own account still gets in, by origin and by token.
    HttpReply own =
        SendHttp(Port(), boost::beast::http::verb::post, "/session", "{}", {{"Origin", allowed}});
    EXPECT_EQ(own.status, 200) << own.body;
    EXPECT_EQ(Status().value("serving", ""), "direct");
    EXPECT_EQ(Status().value("sessions", -1), 1);
    EXPECT_EQ(CountLines(m_bridge->Log(), "refused a connection of account " + other.Name()), 1)
        << m_bridge->Log();
}

// Three accounts behind one dispatcher on a test port: A and B each run
// a bridge on their socket, C runs none.
class BridgeDispatch : public BridgeFixture {
protected:
    void SetUp() override {
        BridgeFixture::SetUp();
        for (const char *tag : {"A", "B", "C"})
            m_accounts.push_back(std::make_unique<TestAccount>(tag));
        for (auto &account : m_accounts)
            if (!account->Made())
                return; // the test skips

        std::string why;
        m_runtime = testing_support::MakeServerRoot("runtime-", why);
        ASSERT_FALSE(m_runtime.empty()) << why;
        for (auto &account : m_accounts) {
            // Each account's runtime folder, as the system makes it at login.
            const std::string dir = RuntimeDir(*account);
            ASSERT_EQ(mkdir(dir.c_str(), 0700), 0) << dir;
            ASSERT_EQ(chown(dir.c_str(), account->Uid(), account->Gid()), 0);
        }
        m_dispatcher = std::make_unique<BridgeProcess>(
            BRIDGE_PATH, std::vector<std::string>{"--dispatch", "--runtime-root", m_runtime});
        ASSERT_TRUE(m_dispatcher->Ready()) << m_dispatcher->Log();
    }
    void TearDown() override {
        for (auto &bridge : m_bridges)
            EXPECT_EQ(bridge->Stop(), 0) << bridge->Log();
        m_bridges.clear();
        if (m_dispatcher) {
            EXPECT_EQ(m_dispatcher->Stop(), 0) << m_dispatcher->Log();
        }
        if (!m_runtime.empty())
            testing_support::RemoveServerRoot(m_runtime);
        m_accounts.clear();
        BridgeFixture::TearDown();
    }

    std::string RuntimeDir(const TestAccount &account) const {
        return m_runtime + "/" + std::to_string(account.Uid());
    }
    std::vector<std::string> Environment(const TestAccount &account) const {
        return {"XDG_RUNTIME_DIR=" + RuntimeDir(account), "QUILLBAY_UI=headless",
                "QUILLBAY_MACHINE_HOME=" + account.Home() + "/machine"};
    }
    // The account's bridge behind the dispatcher, with `origin` allowed.
    BridgeProcess &StartBridge(const TestAccount &account, const std::string &origin) {
        EXPECT_EQ(account.Run({BRIDGE_PATH, "--allow", origin}, Environment(account)).exitCode, 0);
        m_bridges.push_back(std::make_unique<BridgeProcess>(
            account, BRIDGE_PATH, std::vector<std::string>{"--socket-only"}, m_dispatcher->Port(),
            Environment(account)));
        EXPECT_TRUE(m_bridges.back()->Ready()) << m_bridges.back()->Log();
        return *m_bridges.back();
    }
    std::string Url(const std::string &path, const std::string &host = "127.0.0.1") const {
        return "http://" + host + ":" + std::to_string(m_dispatcher->Port()) + path;
    }
    CurlReply StatusAs(const TestAccount &account, const BridgeProcess &bridge,
                       const std::string &host = "127.0.0.1") const {
        return CurlAs(account, Url("/status", host), {"Authorization: Bearer " + bridge.Token()});
    }

    std::vector<std::unique_ptr<TestAccount>> m_accounts;
    std::string m_runtime;
    std::unique_ptr<BridgeProcess> m_dispatcher;
    std::vector<std::unique_ptr<BridgeProcess>> m_bridges;
};

TEST_F(BridgeDispatch, EachAccountReachesItsOwnBridgeAndNoOther) {
    for (auto &account : m_accounts)
        SKIP_WITHOUT_ACCOUNT(*account);
    const TestAccount &a = *m_accounts[0], &b = *m_accounts[1], &c = *m_accounts[2];
    BridgeProcess &bridgeA = StartBridge(a, "http://a.example");
    BridgeProcess &bridgeB = StartBridge(b, "http://b.example");

    // Each account's requests, on either loopback address, reach its own
    // bridge, which knows them as handed over.
    for (const char *host : {"127.0.0.1", "[::1]"}) {
        CurlReply statusA = StatusAs(a, bridgeA, host), statusB = StatusAs(b, bridgeB, host);
        if (statusA.status == 0 && std::string(host) == "[::1]")
            continue; // no IPv6 loopback on this machine
        EXPECT_EQ(statusA.status, 200) << statusA.body;
        EXPECT_EQ(statusA.body.value("account", ""), a.Name());
        EXPECT_EQ(statusA.body.value("serving", ""), "dispatched");
        EXPECT_EQ(statusB.body.value("account", ""), b.Name()) << statusB.body;
    }
    // A page of the origin A allowed opens a session on A's bridge; the
    // same origin from B's account meets B's bridge, which never allowed it.
    CurlReply opened = CurlAs(a, Url("/session"), {"Origin: http://a.example"}, "{}");
    EXPECT_EQ(opened.status, 200) << opened.body;
    EXPECT_FALSE(opened.body.value("session", "").empty());
    CurlReply foreign = CurlAs(b, Url("/session"), {"Origin: http://a.example"}, "{}");
    EXPECT_EQ(foreign.status, 403);
    EXPECT_EQ(foreign.Code(), "origin-refused") << foreign.body;
    // A's token from B's account is B's bridge's business, and wrong there.
    EXPECT_EQ(CurlAs(b, Url("/status"), {"Authorization: Bearer " + bridgeA.Token()}).Code(),
              "token-required");
    EXPECT_EQ(StatusAs(a, bridgeA).body.value("sessions", -1), 1);
    EXPECT_EQ(StatusAs(b, bridgeB).body.value("sessions", -1), 0);

    // C has no bridge: the dispatcher says so, and hands it to no one else,
    // even where C's runtime folder names A's socket.
    CurlReply none = CurlAs(c, Url("/session"), {"Origin: http://a.example"}, "{}");
    EXPECT_EQ(none.status, 503);
    EXPECT_EQ(none.Code(), "no-bridge") << none.body;
    ASSERT_EQ(c.Run({"/bin/mkdir", RuntimeDir(c) + "/quillbay"}).exitCode, 0);
    ASSERT_EQ(c.Run({"/bin/ln", "-s", RuntimeDir(a) + "/quillbay/bridge.sock",
                     RuntimeDir(c) + "/quillbay/bridge.sock"})
                  .exitCode,
              0);
    none = CurlAs(c, Url("/session"), {"Origin: http://a.example"}, "{}");
    EXPECT_EQ(none.Code(), "no-bridge") << none.body;
    EXPECT_EQ(StatusAs(a, bridgeA).body.value("sessions", -1), 1);

    // --status says the same, as each account sees it.
    testing_support::ProcessResult said = a.Run(
        {BRIDGE_PATH, "--status", "--port", std::to_string(m_dispatcher->Port())}, Environment(a));
    EXPECT_EQ(said.exitCode, 0) << said.output;
    EXPECT_NE(said.output.find("the dispatcher answers"), std::string::npos) << said.output;
    EXPECT_NE(said.output.find(a.Name()), std::string::npos) << said.output;
    said = c.Run({BRIDGE_PATH, "--status", "--port", std::to_string(m_dispatcher->Port())},
                 Environment(c));
    EXPECT_EQ(said.exitCode, 1);
    EXPECT_NE(said.output.find("has no bridge"), std::string::npos) << said.output;
}

// A connection is handed to an account's bridge only by the dispatcher, and
// the bridge checks its owner again: one of B's connections handed to A's
// bridge by root (as a dispatcher gone wrong would) is refused there.
TEST_F(BridgeDispatch, ABridgeChecksTheOwnerOfAHandedOverConnectionAgain) {
    for (auto &account : m_accounts)
        SKIP_WITHOUT_ACCOUNT(*account);
    const TestAccount &a = *m_accounts[0], &b = *m_accounts[1];
    BridgeProcess &bridgeA = StartBridge(a, "http://a.example");
    const std::string socket = RuntimeDir(a) + "/quillbay/bridge.sock";
    // Accepts one connection on a port of its own and hands it to A's bridge.
    const std::string script = "import socket,sys\n"
                               "s=socket.socket(); s.bind(('127.0.0.1',0)); s.listen()\n"
                               "print(s.getsockname()[1], flush=True)\n"
                               "c,_=s.accept()\n"
                               "u=socket.socket(socket.AF_UNIX); u.connect(sys.argv[1])\n"
                               "socket.send_fds(u,[b'S'],[c.fileno()])\n";
    int out = -1;
    const int pid = testing_support::Spawn({"/usr/bin/python3", "-c", script, socket}, &out);
    ASSERT_GT(pid, 0);
    std::string line;
    char c;
    while (line.find('\n') == std::string::npos && read(out, &c, 1) == 1)
        line += c;
    CurlReply refused =
        CurlAs(b, "http://127.0.0.1:" + std::to_string(atoi(line.c_str())) + "/session",
               {"Origin: http://a.example"}, "{}");
    EXPECT_EQ(testing_support::Wait(pid), 0);
    close(out);
    EXPECT_EQ(refused.status, 403);
    EXPECT_EQ(refused.Code(), "wrong-user") << refused.body;
    EXPECT_EQ(CountLines(bridgeA.Log(), "refused a connection of account " + b.Name()), 1)
        << bridgeA.Log();
    EXPECT_EQ(StatusAs(a, bridgeA).body.value("sessions", -1), 0);
}

// Headless Chromium run as each account loads the same page of an origin
// only A allowed: A's page gets A's object, B's page is refused by B's
// bridge.
TEST_F(BridgeDispatch, PagesInChromiumOfEachAccountReachTheirOwnBridge) {
    for (auto &account : m_accounts)
        SKIP_WITHOUT_ACCOUNT(*account);
    if (testing_support::HeadlessBrowser::Executable().empty())
        GTEST_SKIP() << "Chromium is not installed";
    const TestAccount &a = *m_accounts[0], &b = *m_accounts[1];
    testing_support::PageServer pages;
    const std::string page =
        "<html><head><script src=\"http://127.0.0.1:" + std::to_string(m_dispatcher->Port()) +
        "/quillbay.js\"></script><script>var outcome;"
        "try { outcome = new ActiveXObject('Quillbay.QuillDoc').BeginCharOf('1', 6, '0'); }"
        "catch (e) { outcome = e.code; }</script></head></html>";
    pages.Put("/page.html", page);
    for (const TestAccount *account : {&a, &b})
        ASSERT_EQ(
            account->Run({REGSVR_PATH, "/s", QUILLBAY_MODULE_PATH}, Environment(*account)).exitCode,
            0);
    StartBridge(a, pages.Url(""));
    StartBridge(b, "http://b.example");
    for (const TestAccount *account : {&a, &b}) {
        testing_support::HeadlessBrowser browser(*account);
        ASSERT_TRUE(browser.Ready()) << "headless Chromium did not start as " << account->Name();
        testing_support::HeadlessBrowser::Page opened = browser.Open(pages.Url("/page.html"));
        const json outcome = browser.Evaluate(opened, "outcome");
        browser.Close(opened);
        EXPECT_EQ(outcome, account == &a ? "000001" : "origin-refused") << account->Name();
    }
}

} // namespace bridge_test

namespace bridge_test {

// The kernel's two tables name the same owner for a loopback connection,
// IPv4, IPv6 and an IPv6 socket that connected to an IPv4 address; a
// connection whose other end has closed has no owner left.
TEST(BridgePeers, TheKernelNamesTheOwnerOfEachKindOfLoopbackConnection) {
    namespace asio = boost::asio;
    using asio::ip::tcp;
    asio::io_context io;
    struct Case {
        const char *listen, *connect;
    };
    for (const Case &c : {Case{"127.0.0.1", "127.0.0.1"}, Case{"::1", "::1"},
                          Case{"127.0.0.1", "::ffff:127.0.0.1"}}) {
        SCOPED_TRACE(c.connect);
        boost::system::error_code ec;
        tcp::acceptor acceptor(io, tcp::endpoint(asio::ip::make_address(c.listen), 0));
        tcp::socket client(io), served(io);
        const tcp::endpoint to(asio::ip::make_address(c.connect), acceptor.local_endpoint().port());
        client.open(to.protocol());
        if (to.address().is_v6())
            client.set_option(asio::ip::v6_only(false));
        if (client.connect(to, ec)) {
            ASSERT_TRUE(to.address().is_v6()) << ec.message();
            continue; // no IPv6 loopback here
        }
        acceptor.accept(served);
        EXPECT_EQ(platform::ConnectionOwner(served.native_handle()), platform::OwnAccount());
        EXPECT_EQ(platform::ConnectionOwnerFromProc(served.native_handle()),
                  platform::OwnAccount());
        client.close();
        std::optional<platform::AccountId> left = platform::OwnAccount();
        for (int i = 0; i < 100 && left; ++i, usleep(10000))
            left = platform::ConnectionOwner(served.native_handle());
        EXPECT_EQ(left, std::nullopt);
        EXPECT_EQ(platform::ConnectionOwnerFromProc(served.native_handle()), std::nullopt);
    }
}

} // namespace bridge_test
