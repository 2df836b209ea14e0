// HttpClient against real servers on loopback: addresses, the
// text and binary readers, connections kept and dropped, and every fault
// ending in a defined result without a hang.
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>

#include "net/HttpClient.h"
#include "platform/user/UiHost.h"
#include "testing/HttpServers.h"
#include "testing/TestSupport.h"

using testing_support::FaultServer;
using testing_support::Nginx;

namespace {

constexpr DWORD kPictureFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;

// The fault server's byte pattern (it holds NULs).
std::string Pattern(size_t n) {
    std::string bytes(n, '\0');
    for (size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 251) % 256);
    return bytes;
}

std::string Text(HttpClient &client) {
    return client.Body().c_str();
}

class Client : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_nginx = std::make_unique<Nginx>();
        s_faults = std::make_unique<FaultServer>();
    }
    static void TearDownTestSuite() {
        s_nginx.reset();
        s_faults.reset();
    }
    void SetUp() override {
        std::string why;
        ASSERT_TRUE(s_nginx->Ready(why)) << why;
        ASSERT_GT(s_faults->Port(), 0);
    }

    static std::string Faults(const std::string &path) { return s_faults->Url(path); }
    static std::string Web(const std::string &path) {
        return "http://127.0.0.1:" + std::to_string(s_nginx->Port()) + path;
    }
    // A POST of the body to the address on a new client; the text reply.
    static std::string Post(const std::string &url, const char *body, int *result = nullptr) {
        HttpClient client;
        client.OpenSession("OstrelCOM");
        EXPECT_EQ(client.Connect(url.c_str(), 80), 0);
        EXPECT_EQ(client.OpenRequest("POST", INTERNET_FLAG_RELOAD), 0);
        int sent = client.SendText(body);
        if (result)
            *result = sent;
        return Text(client);
    }
    // How many connections the fault server has accepted so far.
    static int FaultConnections() {
        std::string reply = Post(Faults("/conn"), "");
        return atoi(reply.c_str());
    }

    static inline std::unique_ptr<Nginx> s_nginx;
    static inline std::unique_ptr<FaultServer> s_faults;
};

} // namespace

// ---- Addresses --------------------------------------------------------------------

TEST_F(Client, APortInTheHostAndTheObjectFromTheThirdSlash) {
    FaultServer server({"--host", "127.0.0.2", "--port", "8080"});
    if (server.Port() != 8080)
        GTEST_SKIP() << "127.0.0.2:8080 is taken";
    std::string echo = Post("http://127.0.0.2:8080/echo?x=1&y=2", "a=b");
    EXPECT_EQ(echo.rfind("POST /echo?x=1&y=2 HTTP/1.1\r\nHost: 127.0.0.2:8080\r\n", 0), 0u);
}

TEST_F(Client, AnAddressWithoutAPathIsItsOwnObjectName) {
    const std::string url = "http://127.0.0.1:" + std::to_string(s_faults->Port());
    EXPECT_EQ(Post(url, ""), "no such path: POST " + url + " HTTP/1.1");
}

TEST_F(Client, WithoutASchemeThereIsNoHostAndNoNetworkCall) {
    const int before = FaultConnections();
    HttpClient client;
    client.OpenSession("OstrelCOM");
    const std::string bare = "127.0.0.1:" + std::to_string(s_faults->Port()) + "/echo";
    EXPECT_EQ(client.Connect(bare.c_str(), 80), HttpClient::kMissing);
    EXPECT_EQ(client.Connect(("ftp://" + bare).c_str(), 80), HttpClient::kMissing);
    EXPECT_EQ(client.Connect("", 80), HttpClient::kMissing);
    EXPECT_EQ(client.Connect(nullptr, 80), HttpClient::kMissing);
    EXPECT_EQ(client.OpenRequest("POST", 0), HttpClient::kMissing);
    EXPECT_EQ(client.Download(bare.c_str(), 80, kPictureFlags), HttpClient::kMissing);
    EXPECT_EQ(FaultConnections(), before + 1); // only the count's own
}

TEST_F(Client, SecureAddressesAcceptUnknownIssuersNamesAndDates) {
    // No CA is trusted here: the client's secure flags carry every request.
    for (auto which : {Nginx::kSelfSigned, Nginx::kExpired, Nginx::kOtherName, Nginx::kGood}) {
        const std::string url =
            "https://localhost:" + std::to_string(s_nginx->TlsPort(which)) + "/post";
        EXPECT_EQ(Post(url, "a=1"), "posted") << which;
    }
}

TEST_F(Client, AnHttpsAddressWithoutAPortGoesTo443) {
    const auto &c = testing_support::Certificates();
    FaultServer server(
        {"--host", "127.0.0.3", "--port", "443", "--cert", c.selfSigned, "--key", c.selfKey});
    if (server.Port() != 443)
        GTEST_SKIP() << "127.0.0.3:443 cannot be bound here";
    HttpClient client;
    EXPECT_EQ(client.Download("https://127.0.0.3/binary?n=10", 80, kPictureFlags), 10);
}

// ---- Downloads --------------------------------------------------------------------

TEST_F(Client, DownloadsReturnEveryByteNulsIncluded) {
    HttpClient client;
    const int n = client.Download(Faults("/binary?n=10485760").c_str(), 80, kPictureFlags);
    ASSERT_EQ(n, 10485760);
    EXPECT_TRUE(std::string(client.Body().Data(), static_cast<size_t>(n)) == Pattern(10485760));
    // Chunked, on the same client.
    ASSERT_EQ(client.Download(Faults("/chunked?n=123456").c_str(), 80, kPictureFlags), 123456);
    EXPECT_TRUE(std::string(client.Body().Data(), 123456) == Pattern(123456));
    // From a real server.
    testing_support::WriteFile(s_nginx->Root() + "/small.bin", Pattern(777));
    ASSERT_EQ(client.Download(Web("/small.bin").c_str(), 80, kPictureFlags), 777);
    EXPECT_TRUE(std::string(client.Body().Data(), 777) == Pattern(777));
    // Nothing of the longer bodies before stays behind the shorter one.
    const std::string rest(client.Body().Data() + 777, client.Body().Capacity() - 777);
    EXPECT_EQ(rest.find_first_not_of('\0'), std::string::npos);
    EXPECT_NE(std::string(client.Headers().c_str()).find("Content-Length: 777"), std::string::npos);
}

TEST_F(Client, AnEmptyBodyIsNothingDownloaded) {
    HttpClient client;
    EXPECT_EQ(client.Download(Faults("/empty").c_str(), 80, kPictureFlags), HttpClient::kMissing);
}

TEST_F(Client, ErrorPagesAreBodiesLikeAnyOther) {
    HttpClient client;
    EXPECT_GT(client.Download(Web("/missing.gif").c_str(), 80, kPictureFlags), 0);
    EXPECT_NE(std::string(client.Body().c_str()).find("404 Not Found"), std::string::npos);
    EXPECT_EQ(Post(Faults("/status?code=404"), ""), "status page 404");
}

TEST_F(Client, DownloadFaultsAreNegatedCodes) {
    HttpClient client;
    const std::string closed = "http://127.0.0.1:" + std::to_string(testing_support::FreePort());
    EXPECT_EQ(client.Download((closed + "/a.gif").c_str(), 80, kPictureFlags),
              -ERROR_INTERNET_CANNOT_CONNECT);
    EXPECT_EQ(client.Download("http://pictures.invalid/a.gif", 80, kPictureFlags),
              -ERROR_INTERNET_NAME_NOT_RESOLVED);
    EXPECT_EQ(client.Download(Faults("/midbody").c_str(), 80, kPictureFlags),
              -ERROR_INTERNET_CONNECTION_ABORTED);
    EXPECT_EQ(client.Download(Faults("/nothing").c_str(), 80, kPictureFlags),
              -ERROR_HTTP_INVALID_SERVER_RESPONSE);
}

TEST_F(Client, ASilentServerEndsInATimeOut) {
    testing_support::SetReceiveTimeout(300);
    HttpClient client, poster;
    client.OpenSession("ZozeRODE_Vid"); // sessions read the time-outs when they open
    poster.OpenSession("OstrelCOM");
    testing_support::SetReceiveTimeout(0);
    EXPECT_EQ(client.Download(Faults("/silent").c_str(), 80, kPictureFlags),
              -ERROR_INTERNET_TIMEOUT);
    ASSERT_EQ(poster.Connect(Faults("/silent").c_str(), 80), 0);
    ASSERT_EQ(poster.OpenRequest("POST", INTERNET_FLAG_RELOAD), 0);
    EXPECT_EQ(poster.SendText("sp=1&"), ERROR_INTERNET_TIMEOUT);
    EXPECT_EQ(Text(poster), "");
}

// ---- Text replies and connections ---------------------------------------------------

TEST_F(Client, TheTextReaderStopsEachChunkAtItsFirstNul) {
    EXPECT_EQ(Post(Faults("/reply?hex=61626300646566"), ""), "abc");
}

// One client, replies one after another: each body is that reply's text
// alone, whether its length was announced or not, and a reply broken off
// keeps what came before the break.
TEST_F(Client, EachTextReplyIsItsOwnWholeTextAndNothingOfTheOneBefore) {
    std::string lines;
    for (size_t i = 0; i < 3'000'000; ++i)
        lines += i % 64 == 63 ? '\n' : static_cast<char>('a' + i % 26);
    testing_support::MakeFolder(s_nginx->Root() + "/replies", 0755);
    testing_support::WriteFile(s_nginx->Root() + "/replies/long.txt", lines);
    HttpClient client;
    client.OpenSession("OstrelCOM");
    auto post = [&client](const std::string &url) {
        EXPECT_EQ(client.Connect(url.c_str(), 80), 0);
        EXPECT_EQ(client.OpenRequest("POST", INTERNET_FLAG_RELOAD), 0);
        return client.SendText("sp=k&");
    };
    EXPECT_EQ(post(Web("/replies/long.txt")), 0);
    EXPECT_TRUE(Text(client) == lines) << client.Body().Length();
    // Chunked: no length announced, and a longer text than the buffer had.
    EXPECT_EQ(post(Faults("/lines?n=3500000")), 0);
    EXPECT_EQ(client.Body().Length(), 3'500'000u);
    EXPECT_TRUE(Text(client).substr(0, 1'000'000) == lines.substr(0, 1'000'000));
    EXPECT_EQ(post(Faults("/reply?hex=616263")), 0);
    EXPECT_EQ(Text(client), "abc");
    const char *buffer = client.Body().Data();
    const DWORD capacity = client.Body().Capacity();
    EXPECT_EQ(std::count(buffer + 3, buffer + capacity, '\0'), capacity - 3)
        << "the buffer past the text is cleared";
    EXPECT_EQ(post(Faults("/midbody")), static_cast<int>(ERROR_INTERNET_CONNECTION_ABORTED));
    EXPECT_EQ(Text(client), std::string(100, 'x'));
    // The break comes while the client waits for more: its read completes
    // with the error, which is the send's.
    EXPECT_EQ(post(Faults("/midbody?ms=300")),
              static_cast<int>(ERROR_INTERNET_CONNECTION_ABORTED));
    EXPECT_EQ(Text(client), std::string(100, 'x'));
}

TEST_F(Client, SendsShareTheConnectionWhileTheServerKeepsIt) {
    HttpClient client;
    client.OpenSession("OstrelCOM");
    ASSERT_EQ(client.Connect(Web("/conn").c_str(), 80), 0);
    std::string first;
    for (int i = 1; i <= 4; ++i) {
        ASSERT_EQ(client.OpenRequest("POST", INTERNET_FLAG_RELOAD), 0);
        ASSERT_EQ(client.SendText("sp=k&"), 0);
        std::string reply = Text(client);
        if (i == 1)
            first = reply.substr(0, reply.find(' '));
        EXPECT_EQ(reply, first + " " + std::to_string(i));
    }
}

TEST_F(Client, AServerThatClosesLeavesTheClientWithoutAConnection) {
    HttpClient client;
    client.OpenSession("OstrelCOM");
    ASSERT_EQ(client.Connect(Faults("/close").c_str(), 80), 0);
    ASSERT_EQ(client.OpenRequest("POST", INTERNET_FLAG_RELOAD), 0);
    EXPECT_EQ(client.SendText("sp=k&"), 0);
    EXPECT_EQ(Text(client), "closing");
    EXPECT_EQ(client.OpenRequest("POST", INTERNET_FLAG_RELOAD), HttpClient::kMissing);
    EXPECT_EQ(client.Send("x", 1), HttpClient::kMissing);
    ASSERT_EQ(client.Connect(Faults("/echo").c_str(), 80), 0);
    ASSERT_EQ(client.OpenRequest("POST", INTERNET_FLAG_RELOAD), 0);
    EXPECT_EQ(client.SendText("sp=k&"), 0);
    EXPECT_EQ(Text(client).rfind("POST /echo", 0), 0u);
}

TEST_F(Client, RedirectsTurnPostsIntoGets) {
    std::string reply = Post(Faults("/redirect?code=302&to=/echo"), "sp=k&");
    EXPECT_EQ(reply.rfind("GET /echo HTTP/1.1\r\n", 0), 0u);
}

TEST_F(Client, AClientCertificateRequestEndsWithoutWaiting) {
    const auto &c = testing_support::Certificates();
    FaultServer server({"--cert", c.good, "--key", c.goodKey, "--require-client-cert"});
    auto *host = dynamic_cast<platform::ScriptedUiHost *>(&platform::UiHost::Current());
    ASSERT_NE(host, nullptr);
    host->Forget();
    const std::string url = "https://localhost:" + std::to_string(server.Port()) + "/echo";
    HttpClient client;
    client.OpenSession("OstrelCOM");
    ASSERT_EQ(client.Connect(url.c_str(), 80), 0);
    // The handshake fails on the worker: the reply is empty.
    ASSERT_EQ(client.OpenRequest("POST", INTERNET_FLAG_RELOAD), 0);
    EXPECT_EQ(client.SendText("sp=k&"), ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED);
    // Then the send fails at once: the dialog, whatever its answer, and no
    // wait. (Over TLS 1.3 the server's refusal may come after the handshake
    // and close the connection: each attempt connects again.)
    for (int answer : {IDCANCEL, IDOK}) {
        host->Queue(answer);
        ASSERT_EQ(client.Connect(url.c_str(), 80), 0);
        ASSERT_EQ(client.OpenRequest("POST", INTERNET_FLAG_RELOAD), 0);
        EXPECT_EQ(client.SendText("sp=k&"), ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED);
        EXPECT_EQ(Text(client), "");
        // Answered OK, the next send tries the server again and fails there.
        if (answer == IDOK) {
            ASSERT_EQ(client.Connect(url.c_str(), 80), 0);
            ASSERT_EQ(client.OpenRequest("POST", INTERNET_FLAG_RELOAD), 0);
            EXPECT_EQ(client.SendText("sp=k&"), ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED);
        }
    }
    ASSERT_EQ(host->Shown().size(), 2u);
    EXPECT_EQ(host->Shown()[0].caption, "Client Authentication");
}
