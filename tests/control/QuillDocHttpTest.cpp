// HttpConnect and HttpSend, and PrintLogo's web addresses,
// against real servers on loopback.
#include <climits>
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
}

TEST_F(HttpMethods, TextTravelsInTheAnsiCodePage) {
    ASSERT_EQ(Connect(s_faults->Url("/echo")), 1);
    std::string echo = Send("编号", "名字=张三");
    EXPECT_EQ(echo.substr(echo.find("\r\n\r\n") + 4), "sp=编号&名字=张三");
    EXPECT_NE(echo.find("Content-Length: 17\r\n"), std::string::npos); // GBK: two bytes each
    ASSERT_EQ(Connect(s_faults->Url("/reply?hex=" + Hex(testing_support::Ansi("你好，世界")))), 1);
    EXPECT_EQ(Send("k", ""), "你好，世界");
    ASSERT_EQ(Connect(s_faults->Url("/reply?hex=6f6b00746865207265737400")), 1);
    EXPECT_EQ(Send("k", ""), "ok"); // up to the NUL
    // Up to the first NUL also when more chunks of the reply follow it.
    ASSERT_EQ(Connect(s_faults->Url("/reply?hex=" + Hex(std::string(10, 'a')) + "00" +
                                    Hex(std::string(2000, 'b')))),
              1);
    EXPECT_EQ(Send("k", ""), std::string(10, 'a'));
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
