// The bridge as its users' worst days bring it, as a real process on
// loopback: messages of the wrong types and nested without end, a page that
// never reads its replies, thousands of sockets that never send a request,
// kill -9 and SIGTERM in the middle of a burst of labels. Each time every
// message is answered, the other pages are served, and nothing is left
// behind.
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <set>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "BridgeFixture.h"
#include "LabelChecks.h"
#include "OriginPolicy.h"
#include "WebSocketConnection.h"
#include "platform/print/JobLog.h"

namespace bridge_test {
namespace {

using boost::beast::http::verb;
using nlohmann::json;

// A TCP connection to the bridge on loopback, or -1.
int Connect(unsigned short port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// A page on a WebSocket written by hand, so that it can send without ever
// reading: its frames are written without blocking until the bridge takes
// no more, and what the bridge sent is read only at the end.
class DeafPage {
public:
    DeafPage(unsigned short port, const std::string &token) : m_fd(Connect(port)) {
        const std::string handshake =
            "GET /session HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
            "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
            "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
            "Sec-WebSocket-Version: 13\r\nAuthorization: Bearer " +
            token + "\r\n\r\n";
        if (m_fd < 0 || write(m_fd, handshake.data(), handshake.size()) < 0)
            return;
        std::string reply;
        char c;
        while (reply.find("\r\n\r\n") == std::string::npos && read(m_fd, &c, 1) == 1)
            reply += c;
        m_open = reply.rfind("HTTP/1.1 101", 0) == 0;
    }
    ~DeafPage() {
        if (m_fd >= 0)
            close(m_fd);
    }
    bool Open() const { return m_open; }

    // Sends text messages until the bridge, having taken at least `least`
    // bytes, takes nothing more for two seconds (for a minute at most); how
    // many bytes it took.
    size_t SendUntilRefused(const std::string &message, size_t least) {
        const std::string frame = Frame(message);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        size_t sent = 0, at = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd p{m_fd, POLLOUT, 0};
            if (poll(&p, 1, 2000) <= 0) {
                if (sent > least)
                    break; // no room for two seconds: the bridge no longer reads
                continue;
            }
            const ssize_t n =
                send(m_fd, frame.data() + at, frame.size() - at, MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n < 0 && errno != EAGAIN)
                break;
            if (n > 0) {
                sent += static_cast<size_t>(n);
                at = (at + static_cast<size_t>(n)) % frame.size();
            }
        }
        return sent;
    }

    // Reads what the bridge sent, up to its close frame (for a minute at
    // most): the close's code and reason, or code 0 when there was none.
    std::pair<int, std::string> ReadToClose() {
        std::string bytes;
        char buffer[65536];
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        for (;;) {
            pollfd p{m_fd, POLLIN, 0};
            if (std::chrono::steady_clock::now() >= deadline || poll(&p, 1, 60000) <= 0)
                return {0, "no close frame within a minute"};
            const ssize_t n = read(m_fd, buffer, sizeof buffer);
            if (n <= 0)
                return {0, "ended without a close frame"};
            bytes.append(buffer, static_cast<size_t>(n));
            // Frames from the bridge are not masked.
            while (bytes.size() >= 2) {
                size_t length = bytes[1] & 0x7f, header = 2;
                if (length == 126 && bytes.size() >= 4) {
                    length = (static_cast<unsigned char>(bytes[2]) << 8) |
                             static_cast<unsigned char>(bytes[3]);
                    header = 4;
                } else if (length == 127 && bytes.size() >= 10) {
                    length = 0;
                    for (int i = 2; i < 10; ++i)
                        length = (length << 8) | static_cast<unsigned char>(bytes[i]);
                    header = 10;
                } else if (length >= 126) {
                    break;
                }
                if (bytes.size() < header + length)
                    break;
                if ((bytes[0] & 0x0f) == 8 && length >= 2)
                    return {(static_cast<unsigned char>(bytes[header]) << 8) |
                                static_cast<unsigned char>(bytes[header + 1]),
                            bytes.substr(header + 2, length - 2)};
                bytes.erase(0, header + length);
            }
        }
    }

private:
    // A masked text frame (the mask is zero: the payload goes as it is).
    static std::string Frame(const std::string &payload) {
        std::string frame = {static_cast<char>(0x81), static_cast<char>(0x80 | 127)};
        for (int shift = 56; shift >= 0; shift -= 8)
            frame += static_cast<char>((payload.size() >> shift) & 0xff);
        frame += std::string(4, '\0');
        return frame + payload;
    }

    int m_fd;
    bool m_open = false;
};

// An HTTP server on loopback that answers a POST only when the test lets
// it: a call of the object that posts to it is in flight until then. Other
// requests are answered at once.
class HeldServer {
public:
    HeldServer() : m_listener(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        bind(m_listener, reinterpret_cast<sockaddr *>(&address), size);
        listen(m_listener, 16);
        getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &size);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~HeldServer() {
        m_stop = true;
        Release();
        m_thread.join();
        for (auto &answer : m_answers)
            answer.join();
        close(m_listener);
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/held"; }
    // Waits (up to a minute) for a POST to arrive; whether one did.
    bool AwaitPost() {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, std::chrono::minutes(1), [this] { return m_posted; });
    }
    void Release() {
        std::lock_guard<std::mutex> guard(m_lock);
        m_released = true;
        m_changed.notify_all();
    }

private:
    void Serve() {
        while (!m_stop) {
            pollfd p{m_listener, POLLIN, 0};
            if (poll(&p, 1, 100) != 1)
                continue;
            const int fd = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0)
                m_answers.emplace_back([this, fd] { Answer(fd); });
        }
    }
    void Answer(int fd) {
        std::string request;
        char buffer[4096];
        pollfd p{fd, POLLIN, 0};
        while (request.find("\r\n\r\n") == std::string::npos && !m_stop && poll(&p, 1, 1000) == 1) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            request.append(buffer, static_cast<size_t>(n));
        }
        if (request.rfind("POST ", 0) == 0) {
            std::unique_lock<std::mutex> lock(m_lock);
            m_posted = true;
            m_changed.notify_all();
            m_changed.wait(lock, [this] { return m_released; });
        }
        const std::string reply =
            "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: close\r\n\r\nheld!";
        if (!request.empty())
            (void)!write(fd, reply.data(), reply.size());
        close(fd);
    }

    int m_listener;
    unsigned short m_port = 0;
    std::atomic<bool> m_stop{false};
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_posted = false, m_released = false;
    std::thread m_thread;
    std::vector<std::thread> m_answers;
};

// Waits up to a minute for `done`; whether it came.
template <typename Condition> bool AwaitUpTo(Condition done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

class BridgeRobustness : public BridgeFixture {
protected:
    std::vector<std::string> PartialFiles() const {
        return testing_support::ListFiles(m_dir + "/prints", ".part");
    }
};

// Sockets printing labels one after another until the bridge stops
// answering; the PDFs each page was told of.
class LabelBurst {
public:
    LabelBurst(unsigned short port, const Headers &headers, int pages) {
        for (int page = 0; page < pages; ++page)
            m_sockets.push_back(std::make_unique<BridgeSocket>(port, headers));
        for (int page = 0; page < pages; ++page)
            m_threads.emplace_back([this, page] { Print(*m_sockets[page], page); });
    }
    ~LabelBurst() { Join(); }
    void Join() {
        for (auto &thread : m_threads)
            thread.join();
        m_threads.clear();
    }
    int Printed() const { return m_printed; }
    std::set<std::string> Told() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_told;
    }
    // How each page's socket ended: its close code (0 when it did not).
    std::vector<int> Closes() const { return m_closes; }

private:
    void Print(BridgeSocket &socket, int page) {
        for (int label = 1;; ++label) {
            std::string error;
            const std::string pdf = PrintLabel(socket, page * 1000 + label, error);
            if (pdf.empty())
                break;
            std::lock_guard<std::mutex> guard(m_lock);
            m_told.insert(pdf);
            ++m_printed;
        }
        // The bridge answers shutting-down, then closes the socket.
        json last;
        AwaitUpTo([&] { return (last = socket.Request({{"op", "ping"}})).contains("closed"); });
        std::lock_guard<std::mutex> guard(m_lock);
        m_closes.push_back(last.value("closed", 0));
    }

    mutable std::mutex m_lock;
    std::vector<std::unique_ptr<BridgeSocket>> m_sockets;
    std::vector<std::thread> m_threads;
    std::atomic<int> m_printed{0};
    std::set<std::string> m_told;
    std::vector<int> m_closes;
};

} // namespace

TEST_F(BridgeRobustness, EveryBadMessageIsAnsweredAndTheSessionGoesOn) {
    Start();
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    struct Bad {
        std::string message, field;
    };
    const std::vector<Bad> bad = {
        {R"({"op":5})", "op"},
        {R"({"op":{}})", "op"},
        {R"({"op":"call","object":1,"member":7,"args":[]})", "member"},
        {R"({"op":"call","object":"1","member":"EncryptChar","args":["AB"]})", "object"},
        {R"({"op":"call","object":1,"member":"EncryptChar","args":[{"$":1}]})", "args[0].$"},
        {R"({"op":"call","object":1,"member":"EncryptChar","args":[{"$":"number","value":5}]})",
         "args[0].value"},
        {R"({"op":"create","progId":["Quillbay.QuillDoc"]})", "progId"},
        {R"({"op":"release","object":true})", "object"},
        {R"({"op":"set","printer":7})", ""},
        {R"({"op":"echo","value":)" + deep + "}", ""},
        {R"({"op":"call","object":1,"member":"EncryptChar","args":[)" + deep + "]}", ""},
    };
    BridgeSocket socket(Port(), Local());
    ASSERT_EQ(socket.Request({{"op", "create"}, {"progId", "Quillbay.QuillDoc"}})["value"]["id"],
              1);
    int id = 100;
    for (const Bad &b : bad) {
        socket.SendText("{\"id\":" + std::to_string(++id) + "," + b.message.substr(1));
        json reply = socket.Next();
        EXPECT_EQ(reply.value("id", 0), id) << b.message.substr(0, 80);
        EXPECT_EQ(reply["error"]["code"], "bad-request") << b.message.substr(0, 80) << reply;
        if (!b.field.empty()) {
            EXPECT_EQ(reply["error"]["field"], b.field) << reply;
        }
        ASSERT_EQ(socket.Call(1, "EncryptChar", {"AB"}), "8283")
            << "after " << b.message.substr(0, 80);
    }
    // The same over HTTP, in a session of its own, and a session that is
    // not a string.
    json created =
        PostJson(Port(), "/call", {{"op", "create"}, {"progId", "Quillbay.QuillDoc"}}, Token())
            .Json();
    const std::string session = created["session"];
    const std::string field = "{\"session\":\"" + session + "\",";
    for (const Bad &b : bad) {
        HttpReply reply =
            SendHttp(Port(), verb::post, "/call", field + b.message.substr(1), Local());
        EXPECT_EQ(reply.status, 400) << b.message.substr(0, 80);
        EXPECT_EQ(reply.ErrorCode(), "bad-request") << reply.body;
    }
    HttpReply number =
        SendHttp(Port(), verb::post, "/call", R"({"session":5,"op":"ping"})", Local());
    EXPECT_EQ(number.status, 400);
    EXPECT_EQ(number.Json()["error"]["field"], "session") << number.body;
    const json call = {{"session", session},
                       {"op", "call"},
                       {"object", 1},
                       {"member", "EncryptChar"},
                       {"args", {"AB"}}};
    EXPECT_EQ(PostJson(Port(), "/call", call, Token()).Json()["value"], "8283");
    EXPECT_EQ(Status()["sessions"], 2);
}

TEST_F(BridgeRobustness, APageThatNeverReadsIsBoundedAndClosedWhileAnotherIsServed) {
    Start();
    BridgeSocket reader(Port(), Local());
    ASSERT_EQ(reader.Request({{"op", "create"}, {"progId", "Quillbay.QuillDoc"}})["value"]["id"],
              1);
    const long before = Status()["residentBytes"];
    DeafPage deaf(Port(), Token());
    ASSERT_TRUE(deaf.Open());
    // 256 KB echoes as fast as the bridge takes them, never read.
    const json echo = {{"op", "echo"}, {"value", std::string(256 << 10, 'x')}};
    const size_t sent = deaf.SendUntilRefused(echo.dump(), bridge::kUnsentLimit);
    ASSERT_GT(sent, size_t(bridge::kUnsentLimit)) << "the bridge took less than its bound";
    // The bridge no longer reads it; the reading page is served meanwhile.
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(reader.Call(1, "EncryptChar", {"AB"}), "8283");
    const long during = Status()["residentBytes"];
#if !defined(UNDER_ADDRESS_SANITIZER)
    EXPECT_LT(during - before, 64L << 20) << "resident " << before << ", then " << during;
#endif
    // Past its patience the deaf page's session ends and its socket is
    // closed, saying why.
    ASSERT_TRUE(AwaitUpTo([&] { return Status()["sessions"] == 1; })) << "the deaf page's session";
    const auto [code, reason] = deaf.ReadToClose();
    EXPECT_EQ(code, 1008) << reason;
    EXPECT_NE(reason.find("unread"), std::string::npos) << reason;
    EXPECT_EQ(reader.Call(1, "EncryptChar", {"AB"}), "8283");
#if !defined(UNDER_ADDRESS_SANITIZER)
    EXPECT_LT(Status()["residentBytes"].get<long>() - before, 64L << 20);
#endif
}

TEST_F(BridgeRobustness, IdleSocketsNeverKeepANewPageOut) {
    // The test's own descriptors: the hard limit, raised where it may be.
    struct rlimit limit {};
    getrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_max < 4096 && geteuid() == 0)
        limit.rlim_max = 4096;
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    getrlimit(RLIMIT_NOFILE, &limit);
    const int idle = static_cast<int>(std::min<rlim_t>(2000, limit.rlim_cur - 200));
    ASSERT_GT(idle, 512) << "the test cannot open more sockets than the bridge's limit";
    Start();
    std::vector<int> sockets;
    for (int i = 0; i < idle; ++i) {
        const int fd = Connect(Port());
        ASSERT_GE(fd, 0) << "connection " << i << ": " << strerror(errno);
        sockets.push_back(fd);
    }
    // A new page gets its session and its calls answered at once.
    BridgeSocket page(Port(), Local());
    ASSERT_EQ(page.Greeting()["event"], "ready") << page.Greeting();
    EXPECT_EQ(page.Request({{"op", "create"}, {"progId", "Quillbay.QuillDoc"}})["value"]["id"], 1);
    EXPECT_EQ(page.Call(1, "EncryptChar", {"AB"}), "8283");
    EXPECT_EQ(SendHttp(Port(), verb::get, "/version", "", Local()).status, 200);
    // The idle ones were let go: those that made room at once, the others
    // after the first request's deadline.
    int ended = 0;
    for (int fd : sockets) {
        pollfd p{fd, POLLIN, 0};
        char c;
        ended += poll(&p, 1, 10000) == 1 && read(fd, &c, 1) <= 0;
        close(fd);
    }
    EXPECT_EQ(ended, idle);
    EXPECT_EQ(page.Call(1, "EncryptChar", {"AB"}), "8283");
}

TEST_F(BridgeRobustness, ConnectionsBeyondTheLimitAreToldWhy) {
    Start({"--max-connections", "8"});
    std::vector<std::unique_ptr<BridgeSocket>> pages;
    for (int i = 0; i < 8; ++i) {
        pages.push_back(std::make_unique<BridgeSocket>(Port(), Local()));
        ASSERT_EQ(pages.back()->Greeting()["event"], "ready");
    }
    // Eight pages in session hold every place: a ninth is refused, and
    // hears why; once one goes, it is served.
    HttpReply refused = SendHttp(Port(), verb::get, "/version", "", Local());
    EXPECT_EQ(refused.status, 503);
    EXPECT_EQ(refused.ErrorCode(), "limit") << refused.body;
    pages.pop_back();
    HttpReply served;
    EXPECT_TRUE(AwaitUpTo([&] {
        served = SendHttp(Port(), verb::get, "/version", "", Local());
        return served.status == 200; // once the bridge has seen the socket close
    })) << served.body;
}

TEST_F(BridgeRobustness, UnknownOriginsCannotFloodTheUserWithQuestions) {
    Allow("http://known.test");
    Start();
    for (int i = 0; i < 30; ++i) {
        const HttpReply reply = SendHttp(Port(), verb::get, "/version", "",
                                         {{"Origin", "http://site" + std::to_string(i) + ".test"}});
        EXPECT_EQ(reply.ErrorCode(), "origin-refused") << reply.body;
    }
    EXPECT_EQ(Questions().size(), bridge::OriginPolicy::kQuestionsPerMinute);
    EXPECT_EQ(SendHttp(Port(), verb::get, "/version", "", {{"Origin", "http://known.test"}}).status,
              200);
}

TEST_F(BridgeRobustness, AKilledBridgeLeavesNoPartialFileAndNoNameThatFailsAJob) {
    Start();
    {
        // A job open at the moment of death, and labels printing beside it.
        BridgeSocket open(Port(), Local());
        ASSERT_EQ(open.Request({{"op", "create"}, {"progId", "Quillbay.QuillDoc"}})["value"]["id"],
                  1);
        open.Call(1, "SetPaperSize", {1000, 1500});
        open.Call(1, "SetPrinter", {"1"});
        LabelBurst burst(Port(), Local(), 4);
        ASSERT_TRUE(AwaitUpTo([&] { return burst.Printed() >= 4; })) << "labels before the kill";
        m_bridge->Kill();
    }
    ASSERT_FALSE(PartialFiles().empty()) << "the death left no partial file to clean up";
    // Names the next bridge's jobs might have taken before, left by a
    // process of the same number that died.
    Start();
    EXPECT_EQ(PartialFiles(), std::vector<std::string>()) << m_bridge->Log();
    const std::string prints = m_dir + "/prints/";
    for (int serial = 1; serial <= 50; ++serial)
        testing_support::WriteFile(prints + ".job-" + std::to_string(m_bridge->Pid()) + "-" +
                                       std::to_string(serial) + ".pdf.part",
                                   "another's");
    BridgeSocket socket(Port(), Local());
    for (int label = 1; label <= 5; ++label) {
        std::string error;
        const std::string pdf = PrintLabel(socket, label, error);
        ASSERT_FALSE(pdf.empty()) << error;
        EXPECT_EQ(CheckLabel(pdf, label, LabelCheck::Text), "");
    }
    // The jobs took names of their own and left the others' files alone.
    EXPECT_EQ(PartialFiles().size(), 50u);
    EXPECT_EQ(testing_support::ReadFile(prints + ".job-" + std::to_string(m_bridge->Pid()) +
                                        "-1.pdf.part"),
              "another's");
}

TEST_F(BridgeRobustness, AJobWhoseFileCannotBeMadeFailsWhereThePageAndTheUserSeeIt) {
    testing_support::WriteFile(m_dir + "/prints", "a file where the print folder should be");
    Start();
    BridgeSocket socket(Port(), Local());
    std::string error;
    EXPECT_EQ(PrintLabel(socket, 1, error), "");
    std::string reason;
    for (const json &event : socket.Events()) {
        EXPECT_NE(event.value("stage", ""), "finished") << event;
        if (event.value("stage", "") == "failed")
            reason = event.value("reason", "");
    }
    EXPECT_NE(reason.find("(ERROR_PATH_NOT_FOUND)"), std::string::npos) << reason;
    const platform::print::JobRecord logged = platform::print::JobLog::Read().back();
    EXPECT_TRUE(logged.failed);
    EXPECT_NE(testing_support::ReadFile(m_dir + "/ui.log").find("notice\tNot printed"),
              std::string::npos);
}

TEST_F(BridgeRobustness, SigtermLetsCallsFinishAndTellsEveryPage) {
    HeldServer server;
    Start();
    BridgeSocket slow(Port(), Local()), idle(Port(), Local());
    ASSERT_EQ(slow.Request({{"op", "create"}, {"progId", "Quillbay.QuillDoc"}})["value"]["id"], 1);
    ASSERT_EQ(slow.Call(1, "HttpConnect", {server.Url()}), 1);
    LabelBurst burst(Port(), Local(), 4);
    ASSERT_TRUE(AwaitUpTo([&] { return burst.Printed() >= 8; })) << "labels before the stop";
    // A call in flight when the stop comes: its server holds the reply.
    slow.SendText(
        json{{"id", 7}, {"op", "call"}, {"object", 1}, {"member", "HttpSend"}, {"args", {"k", "v"}}}
            .dump());
    ASSERT_TRUE(server.AwaitPost());
    m_bridge->Terminate();
    // While it runs, requests are answered shutting-down.
    json answer;
    AwaitUpTo([&] {
        answer = idle.Request({{"op", "ping"}});
        return answer.contains("error") || answer.contains("closed");
    });
    EXPECT_EQ(answer["error"]["code"], "shutting-down") << answer;
    EXPECT_EQ(SendHttp(Port(), verb::get, "/version", "", Local()).status, 0)
        << "a new connection was taken";
    server.Release();
    json reply = slow.Next();
    EXPECT_EQ(reply.value("id", 0), 7) << reply;
    EXPECT_EQ(reply["value"], "held!") << reply;
    EXPECT_EQ(slow.Next()["closed"], 1001);
    EXPECT_EQ(idle.Next()["closed"], 1001);
    burst.Join();
    for (int code : burst.Closes())
        EXPECT_EQ(code, 1001);
    EXPECT_EQ(m_bridge->Wait(), 0) << m_bridge->Log();
    // Every label that printed was told to its page, and nothing partial
    // stayed behind.
    const std::vector<std::string> pdfs = PdfFiles(m_dir + "/prints");
    EXPECT_EQ(std::set<std::string>(pdfs.begin(), pdfs.end()), burst.Told());
    EXPECT_EQ(PartialFiles(), std::vector<std::string>());
}

} // namespace bridge_test
