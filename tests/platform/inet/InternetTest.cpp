// The Internet API in asynchronous mode against real servers on loopback:
// handles and their statuses, requests and responses, faults, time-outs,
// redirects, connection reuse and proxies.
#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include "InetTestSupport.h"
#include "testing/HttpServers.h"
#include "testing/TestSupport.h"

using namespace inet_test;
using testing_support::FaultServer;
using testing_support::Nginx;

namespace {

class Internet : public ::testing::Test {
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
        m_session = OpenSession();
        ASSERT_NE(m_session, nullptr);
    }
    void TearDown() override { InternetCloseHandle(m_session); }

    HINTERNET Connect(int port, const char *host = "127.0.0.1") {
        HINTERNET c = InternetConnectA(m_session, host, static_cast<INTERNET_PORT>(port), nullptr,
                                       nullptr, INTERNET_SERVICE_HTTP, 0, m_recorder.Context());
        EXPECT_NE(c, nullptr);
        return c;
    }

    static inline std::unique_ptr<Nginx> s_nginx;
    static inline std::unique_ptr<FaultServer> s_faults;
    HINTERNET m_session = nullptr;
    Recorder m_recorder;
};

void SetTimeoutValue(const char *name, DWORD milliseconds) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER,
                              "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", 0,
                              nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    if (milliseconds)
        RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&milliseconds),
                       sizeof(milliseconds));
    else
        RegDeleteValueA(key, name);
    RegCloseKey(key);
}

} // namespace

// ---- Handles -------------------------------------------------------------------

TEST_F(Internet, HandlesAreCreatedWithTheirStatusAndClosedOnce) {
    HINTERNET connection = Connect(s_nginx->Port());
    HINTERNET request = HttpOpenRequestA(connection, "GET", "/", nullptr, nullptr, nullptr, 0,
                                         m_recorder.Context());
    ASSERT_NE(request, nullptr);
    // HANDLE_CREATED carries the new handle, before the call returns.
    auto created = m_recorder.Created();
    ASSERT_EQ(created.size(), 2u);
    EXPECT_EQ(created[0], connection);
    EXPECT_EQ(created[1], request);
    // The wrong kind of handle, and a closed one.
    SetLastError(0xdeadbeef);
    EXPECT_EQ(HttpOpenRequestA(m_session, "GET", "/", nullptr, nullptr, nullptr, 0, 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_INCORRECT_HANDLE_TYPE));
    EXPECT_TRUE(InternetCloseHandle(connection)); // closes the request with it
    EXPECT_FALSE(InternetCloseHandle(request));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(InternetCloseHandle(connection));
    EXPECT_EQ(m_recorder.Count(INTERNET_STATUS_HANDLE_CLOSING), 2u);
}

TEST_F(Internet, HandlesWithoutContextGetNoStatus) {
    HINTERNET connection =
        InternetConnectA(m_session, "127.0.0.1", 80, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    ASSERT_NE(connection, nullptr);
    EXPECT_EQ(m_recorder.Statuses().size(), 0u);
    InternetCloseHandle(connection);
}

TEST_F(Internet, OptionsHoldTimeoutsAndSecurityFlags) {
    DWORD value = 0xdeadbeef, length = sizeof(value);
    ASSERT_TRUE(InternetQueryOptionA(m_session, INTERNET_OPTION_CONNECT_TIMEOUT, &value, &length));
    EXPECT_EQ(value, 60000u);
    ASSERT_TRUE(InternetQueryOptionA(m_session, INTERNET_OPTION_RECEIVE_TIMEOUT, &value, &length));
    EXPECT_EQ(value, 30000u);
    value = 1234;
    ASSERT_TRUE(InternetSetOptionA(m_session, INTERNET_OPTION_SEND_TIMEOUT, &value, sizeof(value)));
    HINTERNET connection = Connect(s_nginx->Port());
    value = 0;
    ASSERT_TRUE(InternetQueryOptionA(connection, INTERNET_OPTION_SEND_TIMEOUT, &value, &length));
    EXPECT_EQ(value, 1234u); // children inherit
    HINTERNET request = HttpOpenRequestA(
        connection, "GET", "/", nullptr, nullptr, nullptr,
        INTERNET_FLAG_SECURE | INTERNET_FLAG_IGNORE_CERT_CN_INVALID, m_recorder.Context());
    ASSERT_TRUE(InternetQueryOptionA(request, INTERNET_OPTION_SECURITY_FLAGS, &value, &length));
    EXPECT_EQ(value, SECURITY_FLAG_SECURE | SECURITY_FLAG_IGNORE_CERT_CN_INVALID);
    value |= SECURITY_FLAG_IGNORE_UNKNOWN_CA;
    ASSERT_TRUE(InternetSetOptionA(request, INTERNET_OPTION_SECURITY_FLAGS, &value, sizeof(value)));
    value = 0;
    ASSERT_TRUE(InternetQueryOptionA(request, INTERNET_OPTION_SECURITY_FLAGS, &value, &length));
    EXPECT_EQ(value, SECURITY_FLAG_SECURE | SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                         SECURITY_FLAG_IGNORE_UNKNOWN_CA);
    length = 2;
    EXPECT_FALSE(InternetQueryOptionA(request, INTERNET_OPTION_SECURITY_FLAGS, &value, &length));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(length, 4u);
    InternetCloseHandle(connection);
}

// ---- Requests and responses -----------------------------------------------------

TEST_F(Internet, GetCompletesOnTheWorkerAndReadsHeadersAndBody) {
    testing_support::WriteFile(s_nginx->Root() + "/hello.txt", "hello, world");
    HINTERNET connection = Connect(s_nginx->Port());
    HINTERNET request = HttpOpenRequestA(connection, nullptr, "/hello.txt", nullptr, nullptr,
                                         nullptr, INTERNET_FLAG_RELOAD, m_recorder.Context());
    SetLastError(0);
    EXPECT_FALSE(HttpSendRequestA(request, nullptr, 0, nullptr, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    INTERNET_ASYNC_RESULT result{};
    ASSERT_TRUE(m_recorder.NextCompletion(result));
    EXPECT_EQ(result.dwResult, static_cast<DWORD_PTR>(TRUE));
    EXPECT_EQ(result.dwError, 0u);
    // The header text: asked for its size first, then read.
    DWORD length = 0;
    EXPECT_FALSE(HttpQueryInfoA(request, HTTP_QUERY_RAW_HEADERS_CRLF, nullptr, &length, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    std::string headers(length + 4, 'x');
    DWORD size = length + 4;
    ASSERT_TRUE(
        HttpQueryInfoA(request, HTTP_QUERY_RAW_HEADERS_CRLF, headers.data(), &size, nullptr));
    EXPECT_EQ(size, length - 1);
    headers.resize(size);
    EXPECT_EQ(headers.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
    EXPECT_NE(headers.find("\r\nContent-Length: 12\r\n"), std::string::npos);
    EXPECT_EQ(headers.substr(headers.size() - 4), "\r\n\r\n");
    DWORD status = 0;
    length = sizeof(status);
    ASSERT_TRUE(HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                               &length, nullptr));
    EXPECT_EQ(status, 200u);
    Exchange x;
    ReadBody(request, m_recorder, x, 5);
    EXPECT_EQ(x.body, "hello, world");
    EXPECT_EQ(x.readError, 0u);
    InternetCloseHandle(connection);
}

TEST_F(Internet, ReadsPendUntilDataArrivesAndQueriesCountWhatIsThere) {
    HINTERNET connection = Connect(s_faults->Port());
    HINTERNET request = nullptr;
    Exchange x = Fetch(connection, m_recorder, "GET", "/binary?n=3000", INTERNET_FLAG_RELOAD, "",
                       nullptr, &request);
    EXPECT_EQ(x.body.size(), 3000u);
    DWORD available = 0xdeadbeef;
    ASSERT_TRUE(InternetQueryDataAvailable(request, &available, 0, 0));
    EXPECT_EQ(available, 0u); // the end
    InternetCloseHandle(connection);
}

TEST_F(Internet, AReplyHeldBeforeItsCompletionIsReadWithoutPending) {
    // nginx sends its small reply in one piece: when the send completes the
    // worker holds the whole body and the end of the transfer, so both
    // reads answer at once, as the platform does when data is at hand.
    HINTERNET connection = Connect(s_nginx->Port());
    HINTERNET request = HttpOpenRequestA(connection, "POST", "/post", nullptr, nullptr, nullptr,
                                         INTERNET_FLAG_RELOAD, m_recorder.Context());
    Exchange x;
    Send(request, m_recorder, "a=1", x);
    ASSERT_EQ(x.sendError, 0u);
    char buffer[64];
    INTERNET_BUFFERSA buffers{};
    buffers.dwStructSize = sizeof(buffers);
    buffers.lpvBuffer = buffer;
    buffers.dwBufferLength = sizeof(buffer);
    ASSERT_TRUE(InternetReadFileExA(request, &buffers, IRF_ASYNC, m_recorder.Context()));
    EXPECT_EQ(std::string(buffer, buffers.dwBufferLength), "posted");
    buffers.dwBufferLength = sizeof(buffer);
    ASSERT_TRUE(InternetReadFileExA(request, &buffers, IRF_ASYNC, m_recorder.Context()));
    EXPECT_EQ(buffers.dwBufferLength, 0u);
    EXPECT_EQ(m_recorder.Count(INTERNET_STATUS_REQUEST_COMPLETE), 1u); // the send's alone
    InternetCloseHandle(connection);
}

TEST_F(Internet, ABodyThatTricklesInFillsWaitingReadsInOrder) {
    // Pieces of 1500 bytes a few milliseconds apart, read 1000 at a time: a
    // waiting read is filled straight from the piece that ends its wait, and
    // the rest of the piece waits for the next read.
    HINTERNET connection = Connect(s_faults->Port());
    HINTERNET request =
        HttpOpenRequestA(connection, "GET", "/trickle?n=20000&piece=1500&ms=3", nullptr, nullptr,
                         nullptr, INTERNET_FLAG_RELOAD, m_recorder.Context());
    Exchange trickled;
    Send(request, m_recorder, "", trickled);
    ASSERT_EQ(trickled.sendError, 0u);
    ReadBody(request, m_recorder, trickled, 1000);
    EXPECT_FALSE(trickled.hung);
    EXPECT_GT(m_recorder.Count(INTERNET_STATUS_REQUEST_COMPLETE), 2u); // reads waited
    Exchange whole = Fetch(connection, m_recorder, "GET", "/binary?n=20000");
    EXPECT_TRUE(trickled.body == whole.body);
    InternetCloseHandle(connection);
}

TEST_F(Internet, AQueryCountsEverythingTheWorkerHolds) {
    // Once 300 KB have arrived, one query counts them all, so a reader can
    // take the whole body in one read.
    HINTERNET connection = Connect(s_faults->Port());
    HINTERNET request = HttpOpenRequestA(connection, "GET", "/binary?n=300000", nullptr, nullptr,
                                         nullptr, INTERNET_FLAG_RELOAD, m_recorder.Context());
    Exchange x;
    Send(request, m_recorder, "", x);
    ASSERT_EQ(x.sendError, 0u);
    DWORD available = 0;
    for (int tries = 0; tries < 2000 && available < 300000; ++tries) {
        if (!InternetQueryDataAvailable(request, &available, 0, 0)) {
            ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
            INTERNET_ASYNC_RESULT result{};
            ASSERT_TRUE(m_recorder.NextCompletion(result));
            available = static_cast<DWORD>(result.dwResult);
        }
        if (available < 300000)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(available, 300000u);
    std::string body(300000, '\0');
    INTERNET_BUFFERSA buffers{};
    buffers.dwStructSize = sizeof(buffers);
    buffers.lpvBuffer = body.data();
    buffers.dwBufferLength = available;
    ASSERT_TRUE(InternetReadFileExA(request, &buffers, 0, m_recorder.Context()));
    EXPECT_EQ(buffers.dwBufferLength, 300000u);
    EXPECT_TRUE(body == Fetch(connection, m_recorder, "GET", "/binary?n=300000").body);
    InternetCloseHandle(connection);
}

TEST_F(Internet, TheObjectNameIsSentAsItStands) {
    HINTERNET connection = Connect(s_faults->Port());
    const std::string url = "http://127.0.0.1:" + std::to_string(s_faults->Port());
    Exchange x = Fetch(connection, m_recorder, "GET", url);
    EXPECT_EQ(x.status, 404); // the fault server knows no path ""
    x = Fetch(connection, m_recorder, "GET", url + "/echo?a=1&b=two words");
    EXPECT_EQ(x.body.substr(0, x.body.find("\r\n")),
              "GET " + url + "/echo?a=1&b=two%20words HTTP/1.1");
    InternetCloseHandle(connection);
}

TEST_F(Internet, RequestsCarryTheirHeadersAsGivenAndNoOthers) {
    HINTERNET connection = Connect(s_faults->Port());
    Exchange x = Fetch(connection, m_recorder, "POST", "/echo", INTERNET_FLAG_RELOAD, "sp=K&a=1",
                       "Content-Type:application/x-www-form-urlencoded;charset=gb2312");
    EXPECT_EQ(x.body.rfind("POST /echo HTTP/1.1\r\n", 0), 0u);
    EXPECT_NE(x.body.find("\r\nContent-Type:application/x-www-form-urlencoded;charset=gb2312\r\n"),
              std::string::npos);
    EXPECT_NE(x.body.find("\r\nUser-Agent: QuillbayTest/1.0\r\n"), std::string::npos);
    EXPECT_NE(x.body.find("\r\nContent-Length: 8\r\n"), std::string::npos);
    EXPECT_EQ(x.body.find("Accept"), std::string::npos);
    EXPECT_EQ(x.body.find("Expect"), std::string::npos);
    EXPECT_EQ(x.body.substr(x.body.size() - 12), "\r\n\r\nsp=K&a=1");
    InternetCloseHandle(connection);
}

TEST_F(Internet, ChunkedAndBinaryBodiesArriveByteForByte) {
    HINTERNET connection = Connect(s_faults->Port());
    Exchange chunked = Fetch(connection, m_recorder, "GET", "/chunked?n=25000");
    Exchange plain = Fetch(connection, m_recorder, "GET", "/binary?n=25000");
    EXPECT_EQ(chunked.body.size(), 25000u);
    EXPECT_EQ(chunked.body, plain.body);
    EXPECT_NE(plain.body.find('\0'), std::string::npos);
    InternetCloseHandle(connection);
}

TEST_F(Internet, ALargeBodyIsHeldBackUntilTheReaderTakesIt) {
    // 40 MB through a slow reader: the worker pauses the transfer while
    // 8 MB wait, and every byte arrives in order.
    std::string file(40u << 20, '\0');
    for (size_t i = 0; i < file.size(); ++i)
        file[i] = static_cast<char>((i * 131) >> 7);
    testing_support::WriteFile(s_nginx->Root() + "/big.bin", file);
    HINTERNET connection = Connect(s_nginx->Port());
    HINTERNET request = HttpOpenRequestA(connection, "GET", "/big.bin", nullptr, nullptr, nullptr,
                                         0, m_recorder.Context());
    Exchange x;
    Send(request, m_recorder, "", x);
    ASSERT_EQ(x.sendError, 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // let the worker run ahead
    ReadBody(request, m_recorder, x, 1 << 20);
    EXPECT_FALSE(x.hung);
    EXPECT_TRUE(x.body == file);
    InternetCloseHandle(connection);
}

TEST_F(Internet, AnErrorPageIsAResponseLikeAnyOther) {
    HINTERNET connection = Connect(s_nginx->Port());
    Exchange x = Fetch(connection, m_recorder, "GET", "/no-such-file");
    EXPECT_EQ(x.sendError, 0u);
    EXPECT_EQ(x.status, 404);
    EXPECT_NE(x.body.find("404 Not Found"), std::string::npos);
    InternetCloseHandle(connection);
}

// ---- Connections -------------------------------------------------------------------

TEST_F(Internet, RequestsToOneServerReuseItsConnection) {
    HINTERNET connection = Connect(s_nginx->Port());
    Exchange first = Fetch(connection, m_recorder, "GET", "/conn");
    Exchange second = Fetch(connection, m_recorder, "POST", "/conn", 0, "a=1");
    Exchange third = Fetch(connection, m_recorder, "GET", "/conn");
    auto number = [](const std::string &body) { return body.substr(0, body.find(' ')); };
    EXPECT_EQ(number(first.body), number(second.body));
    EXPECT_EQ(number(first.body), number(third.body));
    EXPECT_EQ(third.body.substr(third.body.find(' ') + 1), "3");
    InternetCloseHandle(connection);
}

TEST_F(Internet, AServerThatClosesIsReportedAtTheEndOfTheBody) {
    HINTERNET connection = Connect(s_faults->Port());
    HINTERNET request = nullptr;
    Exchange x = Fetch(connection, m_recorder, "GET", "/close", 0, "", nullptr, &request);
    EXPECT_EQ(x.body, "closing");
    auto statuses = m_recorder.Statuses();
    auto closing = std::find(statuses.begin(), statuses.end(), INTERNET_STATUS_CLOSING_CONNECTION);
    ASSERT_NE(closing, statuses.end());
    EXPECT_EQ(*(closing + 1), static_cast<DWORD>(INTERNET_STATUS_CONNECTION_CLOSED));
    // A kept connection announces nothing.
    Exchange kept = Fetch(connection, m_recorder, "GET", "/conn");
    EXPECT_EQ(m_recorder.Count(INTERNET_STATUS_CLOSING_CONNECTION), 1u);
    InternetCloseHandle(connection);
}

// ---- Faults --------------------------------------------------------------------------

TEST_F(Internet, FaultsEndRequestsWithThePlatformsCodes) {
    HINTERNET refused = Connect(testing_support::FreePort());
    Exchange x = Fetch(refused, m_recorder, "GET", "/");
    EXPECT_FALSE(x.hung);
    EXPECT_EQ(x.sendError, static_cast<DWORD>(ERROR_INTERNET_CANNOT_CONNECT));

    // A reserved name never reaches a resolver.
    HINTERNET unknown = Connect(80, "no-such-host.invalid");
    x = Fetch(unknown, m_recorder, "GET", "/");
    EXPECT_EQ(x.sendError, static_cast<DWORD>(ERROR_INTERNET_NAME_NOT_RESOLVED));

    HINTERNET faults = Connect(s_faults->Port());
    x = Fetch(faults, m_recorder, "GET", "/midbody");
    EXPECT_EQ(x.sendError, 0u);
    EXPECT_EQ(x.body, std::string(100, 'x'));
    EXPECT_EQ(x.readError, static_cast<DWORD>(ERROR_INTERNET_CONNECTION_ABORTED));
    EXPECT_GE(m_recorder.Count(INTERNET_STATUS_CLOSING_CONNECTION), 1u);

    x = Fetch(faults, m_recorder, "GET", "/nothing");
    EXPECT_EQ(x.sendError, static_cast<DWORD>(ERROR_HTTP_INVALID_SERVER_RESPONSE));
    InternetCloseHandle(refused);
    InternetCloseHandle(unknown);
    InternetCloseHandle(faults);
}

TEST_F(Internet, ASilentServerTimesOutAsTheRegistrySays) {
    SetTimeoutValue("ReceiveTimeout", 400);
    HINTERNET session = OpenSession();
    SetTimeoutValue("ReceiveTimeout", 0);
    HINTERNET connection =
        InternetConnectA(session, "127.0.0.1", static_cast<INTERNET_PORT>(s_faults->Port()),
                         nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, m_recorder.Context());
    DWORD value = 0, length = sizeof(value);
    InternetQueryOptionA(connection, INTERNET_OPTION_RECEIVE_TIMEOUT, &value, &length);
    EXPECT_EQ(value, 400u);
    const auto start = std::chrono::steady_clock::now();
    Exchange x = Fetch(connection, m_recorder, "GET", "/silent");
    EXPECT_EQ(x.sendError, static_cast<DWORD>(ERROR_INTERNET_TIMEOUT));
    // Silence in the middle of a body counts the same.
    x = Fetch(connection, m_recorder, "GET", "/stall");
    EXPECT_EQ(x.body, std::string(10, 'y'));
    EXPECT_EQ(x.readError, static_cast<DWORD>(ERROR_INTERNET_TIMEOUT));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    InternetCloseHandle(session);
}

TEST_F(Internet, ClosingARequestWithAReadPendingStopsItsStatuses) {
    HINTERNET connection = Connect(s_faults->Port());
    HINTERNET request = HttpOpenRequestA(connection, "GET", "/stall", nullptr, nullptr, nullptr, 0,
                                         m_recorder.Context());
    Exchange x;
    Send(request, m_recorder, "", x);
    ASSERT_EQ(x.sendError, 0u);
    char buffer[64];
    INTERNET_BUFFERSA buffers{};
    buffers.dwStructSize = sizeof(buffers);
    buffers.lpvBuffer = buffer;
    buffers.dwBufferLength = sizeof(buffer);
    // The server's 10 bytes, there at once or once the read completes.
    if (!InternetReadFileExA(request, &buffers, IRF_ASYNC, m_recorder.Context())) {
        ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
        INTERNET_ASYNC_RESULT first{};
        ASSERT_TRUE(m_recorder.NextCompletion(first)) << "waited 20 s for the first 10 bytes";
        ASSERT_TRUE(first.dwResult);
    }
    EXPECT_EQ(buffers.dwBufferLength, 10u);
    buffers.dwBufferLength = sizeof(buffer);
    EXPECT_FALSE(InternetReadFileExA(request, &buffers, IRF_ASYNC, m_recorder.Context()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    EXPECT_TRUE(InternetCloseHandle(request));
    const size_t seen = m_recorder.Statuses().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(m_recorder.Statuses().size(), seen);
    InternetCloseHandle(connection);
}

// ---- Redirects ------------------------------------------------------------------------

TEST_F(Internet, RedirectsAreFollowedAsThePlatformDoes) {
    HINTERNET connection = Connect(s_faults->Port());
    // 302 turns the POST into a GET without a body.
    Exchange x = Fetch(connection, m_recorder, "POST", "/redirect?code=302&to=/echo", 0, "a=1");
    EXPECT_EQ(x.status, 200);
    EXPECT_EQ(x.body.rfind("GET /echo HTTP/1.1\r\n", 0), 0u);
    EXPECT_EQ(x.body.find("a=1"), std::string::npos);
    ASSERT_EQ(m_recorder.Redirects().size(), 1u);
    EXPECT_EQ(m_recorder.Redirects()[0], s_faults->Url("/echo"));
    // 307 repeats it as it was.
    x = Fetch(connection, m_recorder, "POST", "/redirect?code=307&to=/echo", 0, "a=1");
    EXPECT_EQ(x.body.rfind("POST /echo HTTP/1.1\r\n", 0), 0u);
    EXPECT_EQ(x.body.substr(x.body.size() - 3), "a=1");
    // Not followed when the request says so; the redirect is the response.
    x = Fetch(connection, m_recorder, "GET", "/redirect?code=302&to=/echo",
              INTERNET_FLAG_NO_AUTO_REDIRECT);
    EXPECT_EQ(x.status, 302);
    EXPECT_EQ(x.body, "moved");
    // To a secure address only with the flag that allows it.
    x = Fetch(connection, m_recorder, "GET", "/redirect?code=302&to=https://127.0.0.1:1/");
    EXPECT_EQ(x.sendError, static_cast<DWORD>(ERROR_INTERNET_HTTP_TO_HTTPS_ON_REDIR));
    InternetCloseHandle(connection);
}

// ---- Proxies ---------------------------------------------------------------------------

TEST_F(Internet, ThePreconfiguredProxyIsTheUsersOwn) {
    const std::string proxy = "http://127.0.0.1:" + std::to_string(s_faults->Port());
    setenv("http_proxy", proxy.c_str(), 1);
    setenv("no_proxy", "localhost,.example.org", 1);
    HINTERNET session = OpenSession();
    unsetenv("http_proxy");
    unsetenv("no_proxy");
    const int closed = testing_support::FreePort();
    HINTERNET connection =
        InternetConnectA(session, "127.0.0.1", static_cast<INTERNET_PORT>(closed), nullptr, nullptr,
                         INTERNET_SERVICE_HTTP, 0, m_recorder.Context());
    Exchange x = Fetch(connection, m_recorder, "GET", "/echo");
    // The proxy (our fault server) got the request in absolute form.
    EXPECT_EQ(x.body.rfind("GET http://127.0.0.1:" + std::to_string(closed) + "/echo HTTP/1.1", 0),
              0u);
    // A bypassed name goes direct: nothing listens there.
    HINTERNET direct =
        InternetConnectA(session, "localhost", static_cast<INTERNET_PORT>(closed), nullptr, nullptr,
                         INTERNET_SERVICE_HTTP, 0, m_recorder.Context());
    x = Fetch(direct, m_recorder, "GET", "/echo");
    EXPECT_EQ(x.sendError, static_cast<DWORD>(ERROR_INTERNET_CANNOT_CONNECT));
    InternetCloseHandle(session);
}

TEST_F(Internet, ADirectSessionIgnoresTheEnvironment) {
    setenv("http_proxy", "http://127.0.0.1:1", 1);
    HINTERNET session = OpenSession(INTERNET_OPEN_TYPE_DIRECT);
    unsetenv("http_proxy");
    HINTERNET connection =
        InternetConnectA(session, "127.0.0.1", static_cast<INTERNET_PORT>(s_faults->Port()),
                         nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, m_recorder.Context());
    Exchange x = Fetch(connection, m_recorder, "GET", "/echo");
    EXPECT_EQ(x.body.rfind("GET /echo HTTP/1.1", 0), 0u);
    InternetCloseHandle(session);
}

// ---- Connectivity check -------------------------------------------------------------

TEST(InternetCheckConnection, MakesARealConnection) {
    FaultServer server;
    const std::string port = std::to_string(server.Port());
    EXPECT_TRUE(InternetCheckConnectionA(("http://127.0.0.1:" + port + "/x").c_str(),
                                         FLAG_ICC_FORCE_CONNECTION, 0));
    EXPECT_TRUE(InternetCheckConnectionA(("ftp://127.0.0.1:" + port + "/").c_str(),
                                         FLAG_ICC_FORCE_CONNECTION, 0));
    const std::string closed = std::to_string(testing_support::FreePort());
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(InternetCheckConnectionA(("http://127.0.0.1:" + closed + "/").c_str(),
                                          FLAG_ICC_FORCE_CONNECTION, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_CANNOT_CONNECT));
    EXPECT_FALSE(InternetCheckConnectionA("http://server.invalid/", FLAG_ICC_FORCE_CONNECTION, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_NAME_NOT_RESOLVED));
    EXPECT_FALSE(InternetCheckConnectionA("127.0.0.1/x", FLAG_ICC_FORCE_CONNECTION, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_INVALID_URL));
    EXPECT_FALSE(InternetCheckConnectionA("gopher://127.0.0.1/", FLAG_ICC_FORCE_CONNECTION, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_UNRECOGNIZED_SCHEME));
}
