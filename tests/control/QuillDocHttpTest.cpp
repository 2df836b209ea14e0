// HttpConnect and HttpSend, and PrintLogo's web addresses,
// against real servers on loopback.
#include <climits>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "QuillDoc.h"
#include "QuillDocFixture.h"
#include "platform/user/UiHost.h"
#include "testing/HttpServers.h"
#include "testing/PdfPage.h"
#include "testing/TestAccount.h"
#include "testing/TestSupport.h"

using testing_support::FaultServer;
using testing_support::Nginx;

namespace {

std::string Hex(const std::string &bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

platform::ScriptedUiHost &Host() {
    return dynamic_cast<platform::ScriptedUiHost &>(platform::UiHost::Current());
}

class HttpMethods : public QuillDocFixture {
protected:
    static void SetUpTestSuite() {
        QuillDocFixture::SetUpTestSuite();
        s_nginx = std::make_unique<Nginx>();
        s_faults = std::make_unique<FaultServer>();
    }
    static void TearDownTestSuite() {
        s_nginx.reset();
        s_faults.reset();
        QuillDocFixture::TearDownTestSuite();
    }
    void SetUp() override {
        std::string why;
        ASSERT_TRUE(s_nginx->Ready(why)) << why;
        ASSERT_EQ(QuillDoc::Create(nullptr, IID_IQuillDoc, reinterpret_cast<void **>(&m_doc)),
                  S_OK);
    }
    void TearDown() override { m_doc->Release(); }

    int Connect(const std::string &url) {
        int n = -1;
        EXPECT_EQ(m_doc->HttpConnect(Arg(Wide(url)), &n), S_OK);
        return n;
    }
    // The reply as UTF-8.
    std::string Send(const std::string &key, const std::string &params) {
        BSTR reply = nullptr;
        EXPECT_EQ(m_doc->HttpSend(Arg(Wide(key)), Arg(Wide(params)), &reply), S_OK);
        return Utf8(reply);
    }
    std::string Slot() {
        BSTR text = nullptr;
        m_doc->GetDBResult(&text);
        return Utf8(text);
    }

    static std::string Utf8(BSTR text) {
        std::string utf8 = text ? platform::WideToUtf8(text, SysStringLen(text)) : "";
        SysFreeString(text);
        return utf8;
    }

    static inline std::unique_ptr<Nginx> s_nginx;
    static inline std::unique_ptr<FaultServer> s_faults;
    IQuillDoc *m_doc = nullptr;
};

} // namespace

TEST_F(HttpMethods, SendBeforeConnectAnswersEmptyAtOnce) {
    EXPECT_EQ(Send("KEY", "a=1"), "");
    EXPECT_EQ(Slot(), "");
}

TEST_F(HttpMethods, AnUnreachableServerPreparesNoConnection) {
    EXPECT_EQ(Connect("http://127.0.0.1:" + std::to_string(testing_support::FreePort()) + "/x"), 0);
    EXPECT_EQ(Send("KEY", "a=1"), "");
    EXPECT_EQ(Connect("http://server.invalid/x"), 0);
    // Reachable, but not an http:// or https:// address: no host.
    EXPECT_EQ(Connect("ftp://127.0.0.1:" + std::to_string(s_faults->Port()) + "/echo"), 0);
    EXPECT_EQ(Send("KEY", "a=1"), "");
}

TEST_F(HttpMethods, AFailedConnectDropsTheConnectionBeforeIt) {
    ASSERT_EQ(Connect(s_faults->Url("/echo")), 1);
    ASSERT_EQ(Send("KEY", "a=1").rfind("POST /echo", 0), 0u);
    // Unreachable: nothing goes to the server named before.
    EXPECT_EQ(Connect("http://127.0.0.1:" + std::to_string(testing_support::FreePort()) + "/x"), 0);
    EXPECT_EQ(Send("KEY", "a=1"), "");
    ASSERT_EQ(Connect(s_faults->Url("/echo")), 1);
    // Reachable but without a host of its own (no http:// at its start).
    EXPECT_EQ(Connect("ftp://127.0.0.1:" + std::to_string(s_faults->Port()) + "/echo"), 0);
    EXPECT_EQ(Send("KEY", "a=1"), "");
}

TEST_F(HttpMethods, OnlyTheAddressStartIsItsScheme) {
    // "https://" in the query names neither the host nor TLS: the form goes
    // in plain HTTP to the server at the address's start.
    const std::string other =
        "https://127.0.0.1:" + std::to_string(s_nginx->TlsPort(Nginx::kSelfSigned)) + "/post";
    ASSERT_EQ(Connect(s_faults->Url("/echo?next=" + other)), 1);
    const std::string echo = Send("KEY", "a=1");
    EXPECT_EQ(echo.rfind("POST /echo?next=" + other + " HTTP/1.1\r\n", 0), 0u) << echo;
    EXPECT_EQ(echo.substr(echo.find("\r\n\r\n") + 4), "sp=KEY&a=1");
}

TEST_F(HttpMethods, TheFormGoesAsItStandsWithItsHeader) {
    ASSERT_EQ(Connect(s_faults->Url("/echo")), 1);
    std::string echo = Send("KEY", "a=1&b=x y&c==");
    EXPECT_EQ(echo.rfind("POST /echo HTTP/1.1\r\n", 0), 0u);
    EXPECT_NE(echo.find("\r\nContent-Type:application/x-www-form-urlencoded;charset=gb2312\r\n"),
              std::string::npos);
    EXPECT_EQ(echo.substr(echo.find("\r\n\r\n") + 4), "sp=KEY&a=1&b=x y&c==");
    EXPECT_EQ(Slot(), echo);
    echo = Send("KEY", "");
    EXPECT_EQ(echo.substr(echo.find("\r\n\r\n") + 4), "sp=KEY&");
    echo = Send("a&b=c", "");
    EXPECT_EQ(echo.substr(echo.find("\r\n\r\n") + 4), "sp=a&b=c&");
    // The slot holds each reply in turn, however often it is read, and a
    // shorter reply keeps nothing of a longer one before it.
    EXPECT_EQ(Slot(), echo);
    EXPECT_EQ(Slot(), echo);
    const std::string longer = Send(std::string(3000, 'k'), "");
    echo = Send("KEY", "z");
    EXPECT_EQ(Slot(), echo);
    EXPECT_EQ(echo.substr(echo.find("\r\n\r\n") + 4), "sp=KEY&z");
    EXPECT_GT(longer.size(), 3000u);
}

TEST_F(HttpMethods, TextTravelsInTheAnsiCodePage) {
    ASSERT_EQ(Connect(s_faults->Url("/echo")), 1);
    std::string echo = Send("编号", "名字=张三");
    EXPECT_EQ(echo.substr(echo.find("\r\n\r\n") + 4), "sp=编号&名字=张三");
    EXPECT_NE(echo.find("Content-Length: 17\r\n"), std::string::npos); // GBK: two bytes each
    ASSERT_EQ(Connect(s_faults->Url("/reply?hex=" + Hex(testing_support::Ansi("你好，世界")))), 1);
    EXPECT_EQ(Send("k", ""), "你好，世界");
    // A rare character of a name in the code page's user-defined area:
    // U+E000 goes as AA A1, and AA A1 comes back as U+E000.
    ASSERT_EQ(Connect(s_faults->Url("/echo")), 1);
    echo = Send("k", "名=\uE000");
    EXPECT_EQ(echo.substr(echo.find("\r\n\r\n") + 4), "sp=k&名=\uE000");
    EXPECT_NE(echo.find("Content-Length: 10\r\n"), std::string::npos);
    ASSERT_EQ(Connect(s_faults->Url("/reply?hex=41aaa142")), 1);
    EXPECT_EQ(Send("k", ""), "A\uE000B");
    ASSERT_EQ(Connect(s_faults->Url("/reply?hex=6f6b00746865207265737400")), 1);
    EXPECT_EQ(Send("k", ""), "ok"); // up to the NUL
    // Up to the first NUL also when more chunks of the reply follow it.
    ASSERT_EQ(Connect(s_faults->Url("/reply?hex=" + Hex(std::string(10, 'a')) + "00" +
                                    Hex(std::string(2000, 'b')))),
              1);
    EXPECT_EQ(Send("k", ""), std::string(10, 'a'));
}

// ---- Cookies ----------------------------------------------------------------------

namespace {

// A Set-Cookie value as a query's parameter.
std::string Query(const std::string &text) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (isalnum(c) || c == '-' || c == '_' || c == '.')
            out += static_cast<char>(c);
        else
            out += {'%', digits[c >> 4], digits[c & 15]};
    }
    return out;
}

// The cookies a server's /cookie path received from an object's HttpSend.
std::string CookiesSent(IQuillDoc *doc, const std::string &url) {
    int n = 0;
    EXPECT_EQ(doc->HttpConnect(Arg(platform::Utf8ToWide(url)), &n), S_OK);
    EXPECT_EQ(n, 1) << url;
    BSTR reply = nullptr;
    EXPECT_EQ(doc->HttpSend(Arg(u"k"), Arg(u""), &reply), S_OK);
    std::string text = reply ? platform::WideToUtf8(reply, SysStringLen(reply)) : "";
    SysFreeString(reply);
    return text;
}

} // namespace

TEST_F(HttpMethods, ALoginsSessionCookieGoesWithTheNextPostsOfEveryObject) {
    const std::string login =
        s_faults->Url("/cookie/login/in?set=" + Query("sid=abc; Path=/cookie/login"));
    EXPECT_EQ(CookiesSent(m_doc, login), "");
    ASSERT_EQ(Connect(s_faults->Url("/cookie/login/post")), 1);
    EXPECT_EQ(Send("k", "a=1"), "sid=abc");
    EXPECT_EQ(Send("k", "a=2"), "sid=abc");
    IQuillDoc *second = nullptr;
    ASSERT_EQ(QuillDoc::Create(nullptr, IID_IQuillDoc, reinterpret_cast<void **>(&second)), S_OK);
    EXPECT_EQ(CookiesSent(second, s_faults->Url("/cookie/login/post")), "sid=abc");
    second->Release();
    // Neither another host name of the same server nor a path outside the
    // cookie's gets it.
    EXPECT_EQ(CookiesSent(m_doc, "http://localhost:" + std::to_string(s_faults->Port()) +
                                     "/cookie/login/post"),
              "");
    EXPECT_EQ(CookiesSent(m_doc, s_faults->Url("/cookie/logout")), "");
}

TEST_F(HttpMethods, CookiesKeepToTheirSchemeDomainAndTime) {
    const auto &c = testing_support::Certificates();
    ASSERT_TRUE(c.ok);
    FaultServer secure({"--cert", c.good, "--key", c.goodKey});
    const std::string https = "https://127.0.0.1:" + std::to_string(secure.Port());
    const std::string http = s_faults->Url(""), page = "/cookie/rules/page";
    auto set = [](const std::string &cookie) { return "/cookie/rules/set?set=" + Query(cookie); };
    CookiesSent(m_doc, https + set("s=1; Secure"));
    CookiesSent(m_doc, https + set("p=2"));
    // A Secure cookie never over plain HTTP, and never from it.
    EXPECT_EQ(CookiesSent(m_doc, http + page), "p=2");
    EXPECT_EQ(CookiesSent(m_doc, https + page), "s=1; p=2");
    CookiesSent(m_doc, http + set("t=3; Secure"));
    // Nor from another domain, a public suffix or another address.
    for (const char *domain : {"example.com", "com", "localhost", "127.0.0.2"})
        CookiesSent(m_doc, http + set(std::string("d=1; Domain=") + domain));
    EXPECT_EQ(CookiesSent(m_doc, http + page), "p=2");
    // A persistent cookie is kept in the account's file, closed to others,
    // until it expires.
    CookiesSent(m_doc, http + set("e=1; Max-Age=3600; HttpOnly"));
    EXPECT_EQ(CookiesSent(m_doc, http + page), "p=2; e=1");
    const std::string file = std::string(getenv("QUILLBAY_HOME")) + "/cookies";
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_NE(testing_support::ReadFile(file).find("\t/cookie/rules\t0\t1\t"), std::string::npos);
    CookiesSent(m_doc, http + set("e=; Expires=Thu, 01 Jan 1970 00:00:00 GMT"));
    CookiesSent(m_doc, http + set("old=1; Expires=Sun, 06 Nov 1994 08:49:37 GMT"));
    EXPECT_EQ(CookiesSent(m_doc, http + page), "p=2");
    EXPECT_EQ(testing_support::ReadFile(file).find("\t/cookie/rules\t"), std::string::npos);
}

// ---- Behind a proxy -----------------------------------------------------------------

namespace {

void SetConnectTimeout(DWORD milliseconds) {
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER,
                    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", 0, nullptr,
                    0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (milliseconds)
        RegSetValueExA(key, "ConnectTimeout", 0, REG_DWORD,
                       reinterpret_cast<const BYTE *>(&milliseconds), sizeof(milliseconds));
    else
        RegDeleteValueA(key, "ConnectTimeout");
    RegCloseKey(key);
}

} // namespace

TEST_F(HttpMethods, ServersBehindAMandatoryProxyAreReachedThroughIt) {
    // The servers take connections from the proxy's address alone: there is
    // no direct route to them.
    testing_support::Tinyproxy proxy("127.0.0.3");
    std::string why;
    ASSERT_TRUE(proxy.Ready(why)) << why;
    const auto &c = testing_support::Certificates();
    ASSERT_TRUE(c.ok);
    FaultServer plain({"--host", "127.0.0.2", "--only-from", "127.0.0.3"});
    FaultServer secure(
        {"--host", "127.0.0.2", "--only-from", "127.0.0.3", "--cert", c.good, "--key", c.goodKey});
    const std::string http = "http://127.0.0.2:" + std::to_string(plain.Port());
    const std::string https = "https://127.0.0.2:" + std::to_string(secure.Port());
    testing_support::ScopedEnvironment viaHttp("http_proxy", proxy.Url()),
        viaHttps("https_proxy", proxy.Url()), noBypass("no_proxy", "");
    ASSERT_EQ(Connect(http + "/echo"), 1);
    std::string echo = Send("k", "a=1");
    EXPECT_NE(echo.find("\r\nVia: "), std::string::npos) << echo; // the proxy's mark
    EXPECT_EQ(echo.substr(echo.find("\r\n\r\n") + 4), "sp=k&a=1");
    ASSERT_EQ(Connect(https + "/echo"), 1);
    echo = Send("k", "b=2");
    EXPECT_EQ(echo.substr(echo.find("\r\n\r\n") + 4), "sp=k&b=2") << echo;
    // What the proxy cannot reach is unreachable.
    const std::string closed = "127.0.0.2:" + std::to_string(testing_support::FreePort());
    EXPECT_EQ(Connect("http://" + closed + "/x"), 0);
    EXPECT_EQ(Connect("https://" + closed + "/x"), 0);
    EXPECT_EQ(Send("k", ""), "");
    // The user's Internet Settings name a proxy as well as the environment.
    {
        testing_support::ScopedEnvironment noHttp("http_proxy", ""), noHttps("https_proxy", "");
        const std::string server = proxy.Url().substr(7);
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER,
                                  "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings",
                                  0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        const DWORD on = 1;
        RegSetValueExA(key, "ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&on),
                       sizeof(on));
        RegSetValueExA(key, "ProxyServer", 0, REG_SZ,
                       reinterpret_cast<const BYTE *>(server.c_str()),
                       static_cast<DWORD>(server.size() + 1));
        IQuillDoc *other = nullptr;
        ASSERT_EQ(QuillDoc::Create(nullptr, IID_IQuillDoc, reinterpret_cast<void **>(&other)),
                  S_OK);
        EXPECT_EQ(CookiesSent(other, http + "/cookie/proxied?set=p%3D1"), "");
        EXPECT_EQ(CookiesSent(other, https + "/cookie/proxied"), "p=1"); // any port, any scheme
        other->Release();
        RegDeleteValueA(key, "ProxyEnable");
        RegDeleteValueA(key, "ProxyServer");
        RegCloseKey(key);
    }
    // Without the proxy the check finds no route (within a short connect
    // time-out: the servers never answer the attempt).
    testing_support::ScopedEnvironment bypass("no_proxy", "127.0.0.2");
    SetConnectTimeout(500);
    EXPECT_FALSE(InternetCheckConnectionA((http + "/echo").c_str(), FLAG_ICC_FORCE_CONNECTION, 0));
    SetConnectTimeout(0);
}

TEST_F(HttpMethods, ErrorPagesAreReplies) {
    ASSERT_EQ(Connect(s_faults->Url("/status?code=404")), 1);
    EXPECT_EQ(Send("k", ""), "status page 404");
}

TEST_F(HttpMethods, SendsShareOneConnectionWhileTheServerKeepsIt) {
    ASSERT_EQ(Connect("http://127.0.0.1:" + std::to_string(s_nginx->Port()) + "/conn"), 1);
    std::string first = Send("k", "a=1");
    const std::string number = first.substr(0, first.find(' '));
    EXPECT_EQ(first, number + " 1");
    EXPECT_EQ(Send("k", "a=2"), number + " 2");
    EXPECT_EQ(Send("k", "a=3"), number + " 3");
}

TEST_F(HttpMethods, AClosedConnectionLastsUntilTheNextConnect) {
    ASSERT_EQ(Connect(s_faults->Url("/close")), 1);
    EXPECT_EQ(Send("k", ""), "closing");
    EXPECT_EQ(Send("k", ""), "");
    EXPECT_EQ(Send("k", ""), "");
    ASSERT_EQ(Connect(s_faults->Url("/close")), 1);
    EXPECT_EQ(Send("k", ""), "closing");
}

TEST_F(HttpMethods, ASilentServerTimesOutIntoAnEmptyReply) {
    testing_support::SetReceiveTimeout(300);
    ASSERT_EQ(Connect(s_faults->Url("/silent")), 1); // the session opens here
    testing_support::SetReceiveTimeout(0);
    EXPECT_EQ(Send("k", ""), "");
    ASSERT_EQ(Connect(s_faults->Url("/echo")), 1);
    EXPECT_EQ(Send("k", "").rfind("POST /echo", 0), 0u);
}

// ---- PrintLogo from the web ---------------------------------------------------------

class WebPictures : public HttpMethods {
protected:
    void SetUp() override {
        HttpMethods::SetUp();
        setenv("QUILLBAY_PRINTER", "Quillbay PDF", 1);
        m_prints = testing_support::MakeTempDir("web-logo-");
        setenv("QUILLBAY_PRINT_DIR", m_prints.c_str(), 1);
        m_doc->SetPaperSize(2100, 2970);
        testing_support::WriteFile(
            s_nginx->Root() + "/logo.png",
            testing_support::ReadFile(testing_support::Fixture("pictures/basn2c08.png")));
        testing_support::WriteFile(
            s_nginx->Root() + "/logo.gif",
            testing_support::ReadFile(testing_support::Fixture("pictures/all-reds.gif")));
    }
    void TearDown() override {
        HttpMethods::TearDown();
        testing_support::RemoveTree(m_prints);
    }
    std::string Web(const std::string &path) {
        return "http://127.0.0.1:" + std::to_string(s_nginx->Port()) + path;
    }
    // a/logo.png and b/logo.gif on the server: two pictures whose downloads
    // both get the temporary name "log".
    void PutLogosWithOneName() {
        testing_support::Run({"/bin/mkdir", "-p", s_nginx->Root() + "/a", s_nginx->Root() + "/b"});
        testing_support::WriteFile(
            s_nginx->Root() + "/a/logo.png",
            testing_support::ReadFile(testing_support::Fixture("pictures/testorig.jpg")));
        testing_support::WriteFile(
            s_nginx->Root() + "/b/logo.gif",
            testing_support::ReadFile(testing_support::Fixture("pictures/basn2c08.png")));
    }
    // Prints the picture in a job of its own; the job's PDF.
    std::string PrintJob(const std::string &url, const std::string &file) {
        int n = 0;
        m_doc->SetPrinter(Arg(u"1"), &n);
        EXPECT_EQ(m_doc->PrintLogo(Arg(Wide(url)), Arg(Wide(file)), 20, 30, 0, 0, 40, 0), S_OK);
        m_doc->SetPrinter(Arg(u"0"), &n);
        return testing_support::NewEntry(m_prints, m_printed);
    }
    std::string m_prints;
    std::vector<std::string> m_printed; // the jobs' files so far
};

TEST_F(WebPictures, APictureFromTheWebPrintsAsTheSameFileWould) {
    const std::string fromWeb = PrintJob(Web("/logo.png"), "");
    const std::string temporary = std::string(getenv("TMPDIR")) + "/log";
    EXPECT_NE(access(temporary.c_str(), F_OK), 0) << "the temporary file is gone";
    const std::string fromFile = PrintJob("", testing_support::Fixture("pictures/basn2c08.png"));
    ASSERT_NE(fromWeb, fromFile);
    testing_support::PdfPage web(fromWeb, 150), local(fromFile, 150);
    ASSERT_TRUE(web.Ok() && local.Ok());
    ASSERT_EQ(web.Width(), local.Width());
    ASSERT_EQ(web.Height(), local.Height());
    auto a = web.Region(0, 0, web.Width() - 1, web.Height() - 1);
    auto b = local.Region(0, 0, local.Width() - 1, local.Height() - 1);
    EXPECT_TRUE(a == b);
    int left, top, right, bottom;
    EXPECT_TRUE(web.DarkBox(0, 0, web.Width() - 1, web.Height() - 1, left, top, right, bottom));
}

TEST_F(WebPictures, SecureAddressesAreDownloadedToo) {
    EXPECT_EQ(m_doc->PrintLogo(
                  Arg(Wide("https://localhost:" +
                           std::to_string(s_nginx->TlsPort(Nginx::kSelfSigned)) + "/logo.gif")),
                  Arg(u""), 0, 0, 0, 0, 0, 0),
              S_OK);
    EXPECT_EQ(static_cast<QuillDoc *>(m_doc)->PictureObject()->Width(), 16);
    // Capitals are a file path.
    EXPECT_EQ(m_doc->PrintLogo(Arg(Wide("HTTP://127.0.0.1/logo.gif")), Arg(u""), 0, 0, 0, 0, 0, 0),
              S_FALSE);
}

TEST_F(WebPictures, AFailedDownloadWarnsWithTheAddressAndCode) {
    Host().Forget();
    const std::string url =
        "http://127.0.0.1:" + std::to_string(testing_support::FreePort()) + "/logo.gif";
    EXPECT_EQ(m_doc->PrintLogo(Arg(Wide(url)), Arg(u""), 0, 0, 0, 0, 0, 0), S_FALSE);
    auto shown = Host().Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "不能下载图象" + url + "，错误代码：12029");
    EXPECT_EQ(shown[0].caption, "错误");
    // An empty body is a failed download too (-4: code 4).
    EXPECT_EQ(m_doc->PrintLogo(Arg(Wide(s_faults->Url("/empty"))), Arg(u""), 0, 0, 0, 0, 0, 0),
              S_FALSE);
    ASSERT_EQ(Host().Shown().size(), 2u);
    EXPECT_EQ(Host().Shown()[1].text, "不能下载图象" + s_faults->Url("/empty") + "，错误代码：4");
    // A body that is no picture fails to load, without a message.
    EXPECT_EQ(
        m_doc->PrintLogo(Arg(Wide(s_faults->Url("/status?code=404"))), Arg(u""), 0, 0, 0, 0, 0, 0),
        S_FALSE);
    EXPECT_EQ(Host().Shown().size(), 2u);
}

TEST_F(WebPictures, TwoProcessesWithTheSameThreeLetterNameEachGetTheirOwn) {
    PutLogosWithOneName();
    int outA = -1, outB = -1;
    int a = testing_support::Spawn({LOGO_WORKER_PATH, Web("/a/logo.png"), "227", "40"}, &outA);
    int b = testing_support::Spawn({LOGO_WORKER_PATH, Web("/b/logo.gif"), "32", "40"}, &outB);
    for (auto [pid, out] : {std::pair{a, outA}, std::pair{b, outB}}) {
        const testing_support::ProcessResult ended = testing_support::Finish(pid, out);
        EXPECT_EQ(ended.output, "0\n");
        EXPECT_EQ(ended.exitCode, 0);
    }
}

TEST_F(WebPictures, TheDownloadLeavesWhatIsAtItsNameAsItWas) {
    // What another program put at the download's name (the first three
    // letters, "log"): a link to a file of the user's, and a file.
    const std::string tmp = getenv("TMPDIR");
    const std::string victim = m_prints + "/victim.txt";
    testing_support::WriteFile(victim, "the user's own text\n");
    ASSERT_EQ(symlink(victim.c_str(), (tmp + "/log").c_str()), 0);
    EXPECT_EQ(m_doc->PrintLogo(Arg(Wide(Web("/logo.gif"))), Arg(u""), 0, 0, 0, 0, 0, 0), S_OK);
    EXPECT_EQ(static_cast<QuillDoc *>(m_doc)->PictureObject()->Width(), 16);
    EXPECT_EQ(testing_support::ReadFile(victim), "the user's own text\n");
    char target[PATH_MAX] = {};
    ASSERT_GT(readlink((tmp + "/log").c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), victim);
    ASSERT_EQ(unlink((tmp + "/log").c_str()), 0);
    testing_support::WriteFile(tmp + "/log", "a file of someone's\n");
    EXPECT_EQ(m_doc->PrintLogo(Arg(Wide(Web("/logo.png"))), Arg(u""), 0, 0, 0, 0, 0, 0), S_OK);
    EXPECT_EQ(static_cast<QuillDoc *>(m_doc)->PictureObject()->Width(), 32);
    EXPECT_EQ(testing_support::ReadFile(tmp + "/log"), "a file of someone's\n");
    // Only the picture's own files went, each after its use.
    std::vector<std::string> downloads;
    for (const std::string &entry : testing_support::FolderEntries(tmp)) {
        if (entry.rfind("log", 0) == 0)
            downloads.push_back(entry);
    }
    EXPECT_EQ(downloads, std::vector<std::string>{"log"});
    unlink((tmp + "/log").c_str());
}

namespace {

// Every name under a folder, at any depth.
std::vector<std::string> NamesUnder(const std::string &folder) {
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    return names;
}

} // namespace

TEST_F(WebPictures, FoldersOutsideTheCodePageAreNeverMadeOrNamed) {
    // GBK has neither 폴더 nor ø: TMPDIR and the home folder cannot be named
    // in it; the session's runtime folder can.
    const std::string base = testing_support::MakeTempDir("outside-code-page-");
    const std::string korean = base + "/폴더", home = base + "/home/søren", run = base + "/run";
    for (const std::string &folder : {korean, base + "/home", home, run})
        ASSERT_TRUE(testing_support::MakeFolder(folder, 0700));
    testing_support::ScopedEnvironment tmpdir("TMPDIR", korean), user("HOME", home),
        state("QUILLBAY_HOME", ""), data("XDG_DATA_HOME", ""), session("XDG_RUNTIME_DIR", run);
    BSTR url = nullptr;
    ASSERT_EQ(m_doc->GetBarCodeImg(1, Arg(u"6901234567892"), &url), S_OK);
    const std::string address = Utf8(url);
    EXPECT_EQ(address, "file://" + run + "/quillbay/tmp/tmpbarcode1.jpg");
    // The address opens: the file is there, a JPEG.
    EXPECT_EQ(testing_support::ReadFile(address.substr(7)).substr(0, 3), "\xFF\xD8\xFF");
    const std::string job = PrintJob(Web("/logo.png"), "");
    testing_support::PdfPage page(job, 150);
    int left, top, right, bottom;
    ASSERT_TRUE(page.Ok()) << job;
    EXPECT_TRUE(page.DarkBox(0, 0, page.Width() - 1, page.Height() - 1, left, top, right, bottom));
    // Without the runtime folder nothing will do: the image and the picture
    // fail, and still no folder is made of a name that lost characters.
    {
        testing_support::ScopedEnvironment noSession("XDG_RUNTIME_DIR", "");
        url = nullptr;
        EXPECT_EQ(m_doc->GetBarCodeImg(1, Arg(u"6901234567892"), &url), S_FALSE);
        EXPECT_EQ(url, nullptr);
        Host().Forget();
        EXPECT_EQ(m_doc->PrintLogo(Arg(Wide(Web("/logo.gif"))), Arg(u""), 0, 0, 0, 0, 0, 0),
                  S_FALSE);
    }
    for (const std::string &name : NamesUnder(base))
        EXPECT_EQ(name.find('?'), std::string::npos) << name;
    EXPECT_TRUE(testing_support::FolderEntries(korean).empty());
    // The user's state folder holds no temporary folder either.
    EXPECT_FALSE(std::filesystem::exists(home + "/.local/share/quillbay/tmp"));
    testing_support::RemoveTree(base);
}

TEST_F(WebPictures, TwoAccountsWithTheSameThreeLetterNameEachPrintTheirOwn) {
    testing_support::TestAccount first("logoa"), second("logob");
    if (!first.Made() || !second.Made())
        GTEST_SKIP() << (first.Made() ? second.Why() : first.Why());
    // The accounts run the built worker: a build folder closed to other
    // accounts leaves nothing to run.
    if (first.Run({"/usr/bin/test", "-x", LOGO_WORKER_PATH}).exitCode != 0)
        GTEST_SKIP() << "the build folder is closed to other accounts: " << LOGO_WORKER_PATH;
    PutLogosWithOneName();
    // Each account has its session's runtime folder and its state, as a
    // login gives them; no TMPDIR.
    struct Run {
        const testing_support::TestAccount &account;
        std::string url, width;
        int pid = -1, out = -1;
    } runs[] = {{first, Web("/a/logo.png"), "227"}, {second, Web("/b/logo.gif"), "32"}};
    for (Run &run : runs) {
        const std::string home = run.account.Home();
        ASSERT_EQ(run.account.Run({"/bin/mkdir", "-m", "0700", home + "/run"}).exitCode, 0);
        run.pid = run.account.Spawn(
            {LOGO_WORKER_PATH, run.url, run.width, "40"},
            {"TMPDIR", "XDG_RUNTIME_DIR=" + home + "/run", "QUILLBAY_HOME=" + home + "/state",
             "QUILLBAY_MACHINE_HOME=" + home + "/machine", "QUILLBAY_UI=headless"},
            &run.out);
        ASSERT_GT(run.pid, 0);
    }
    for (Run &run : runs) {
        const testing_support::ProcessResult ended = testing_support::Finish(run.pid, run.out);
        EXPECT_EQ(ended.output, "0\n") << run.account.Name();
        EXPECT_EQ(ended.exitCode, 0) << run.account.Name();
        // The downloads went to the account's own folder, closed to others.
        struct stat st {};
        const std::string tmp = run.account.Home() + "/run/quillbay/tmp";
        ASSERT_EQ(lstat(tmp.c_str(), &st), 0) << tmp;
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_mode & 07777, 0700u);
        EXPECT_EQ(st.st_uid, run.account.Uid());
        EXPECT_TRUE(testing_support::FolderEntries(tmp).empty());
    }
}
