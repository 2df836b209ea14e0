// HTTPS: certificates judged against each request's security flags, the
// client-certificate request, and the error dialogs.
#include <memory>

#include "InetTestSupport.h"
#include "platform/user/UiHost.h"
#include "testing/HttpServers.h"
#include "testing/TestSupport.h"

using namespace inet_test;
using testing_support::Nginx;

namespace {

class Tls : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The tests' CA is the one the platform trusts.
        setenv("SSL_CERT_FILE", testing_support::Certificates().caFile.c_str(), 1);
        s_nginx = std::make_unique<Nginx>();
    }
    static void TearDownTestSuite() { s_nginx.reset(); }
    void SetUp() override {
        std::string why;
        ASSERT_TRUE(s_nginx->Ready(why)) << why;
        m_session = OpenSession();
    }
    void TearDown() override { InternetCloseHandle(m_session); }

    // A GET of /conn over TLS with the given security flags added to the
    // request's own.
    Exchange Get(Nginx::Tls which, DWORD requestFlags, DWORD securityFlags = 0,
                 const char *host = "localhost") {
        HINTERNET connection =
            InternetConnectA(m_session, host, static_cast<INTERNET_PORT>(s_nginx->TlsPort(which)),
                             nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, m_recorder.Context());
        HINTERNET request =
            HttpOpenRequestA(connection, "GET", "/conn", nullptr, nullptr, nullptr,
                             INTERNET_FLAG_SECURE | requestFlags, m_recorder.Context());
        if (securityFlags) {
            DWORD flags = 0, length = sizeof(flags);
            InternetQueryOptionA(request, INTERNET_OPTION_SECURITY_FLAGS, &flags, &length);
            flags |= securityFlags;
            InternetSetOptionA(request, INTERNET_OPTION_SECURITY_FLAGS, &flags, sizeof(flags));
        }
        Exchange x;
        Send(request, m_recorder, "", x);
        if (!x.hung && !x.sendError)
            ReadBody(request, m_recorder, x);
        InternetCloseHandle(connection);
        return x;
    }

    static inline std::unique_ptr<Nginx> s_nginx;
    HINTERNET m_session = nullptr;
    Recorder m_recorder;
};

} // namespace

TEST_F(Tls, ATrustedCertificateForTheNameNeedsNoFlags) {
    Exchange x = Get(Nginx::kGood, 0);
    EXPECT_EQ(x.sendError, 0u);
    EXPECT_NE(x.body.find(' '), std::string::npos);
    x = Get(Nginx::kGood, 0, 0, "127.0.0.1"); // the address is named too
    EXPECT_EQ(x.sendError, 0u);
}

TEST_F(Tls, EachProblemNeedsItsOwnFlag) {
    EXPECT_EQ(Get(Nginx::kSelfSigned, 0).sendError, static_cast<DWORD>(ERROR_INTERNET_INVALID_CA));
    EXPECT_EQ(Get(Nginx::kSelfSigned, INTERNET_FLAG_IGNORE_CERT_DATE_INVALID).sendError,
              static_cast<DWORD>(ERROR_INTERNET_INVALID_CA));
    EXPECT_EQ(Get(Nginx::kSelfSigned, 0, SECURITY_FLAG_IGNORE_UNKNOWN_CA).sendError, 0u);

    EXPECT_EQ(Get(Nginx::kExpired, 0).sendError,
              static_cast<DWORD>(ERROR_INTERNET_SEC_CERT_DATE_INVALID));
    EXPECT_EQ(Get(Nginx::kExpired, 0, SECURITY_FLAG_IGNORE_UNKNOWN_CA).sendError,
              static_cast<DWORD>(ERROR_INTERNET_SEC_CERT_DATE_INVALID));
    EXPECT_EQ(Get(Nginx::kExpired, INTERNET_FLAG_IGNORE_CERT_DATE_INVALID).sendError, 0u);

    EXPECT_EQ(Get(Nginx::kOtherName, 0).sendError,
              static_cast<DWORD>(ERROR_INTERNET_SEC_CERT_CN_INVALID));
    EXPECT_EQ(Get(Nginx::kOtherName, INTERNET_FLAG_IGNORE_CERT_CN_INVALID).sendError, 0u);
}

TEST_F(Tls, AConnectionAcceptedLaxlyIsNotReusedForAStrictRequest) {
    EXPECT_EQ(Get(Nginx::kSelfSigned, 0, SECURITY_FLAG_IGNORE_UNKNOWN_CA).sendError, 0u);
    EXPECT_EQ(Get(Nginx::kSelfSigned, 0).sendError, static_cast<DWORD>(ERROR_INTERNET_INVALID_CA));
    EXPECT_EQ(Get(Nginx::kSelfSigned, 0, SECURITY_FLAG_IGNORE_UNKNOWN_CA).sendError, 0u);
}

TEST_F(Tls, TheDialogOfACertificateErrorCanAcceptIt) {
    auto *host = dynamic_cast<platform::ScriptedUiHost *>(&platform::UiHost::Current());
    ASSERT_NE(host, nullptr);
    host->Forget();
    HINTERNET connection = InternetConnectA(
        m_session, "localhost", static_cast<INTERNET_PORT>(s_nginx->TlsPort(Nginx::kSelfSigned)),
        nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, m_recorder.Context());
    HINTERNET request = HttpOpenRequestA(connection, "GET", "/conn", nullptr, nullptr, nullptr,
                                         INTERNET_FLAG_SECURE, m_recorder.Context());
    Exchange x;
    Send(request, m_recorder, "", x);
    ASSERT_EQ(x.sendError, static_cast<DWORD>(ERROR_INTERNET_INVALID_CA));
    host->Queue(IDNO);
    EXPECT_EQ(InternetErrorDlg(GetDesktopWindow(), request, x.sendError,
                               FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS, nullptr),
              static_cast<DWORD>(ERROR_CANCELLED));
    host->Queue(IDYES);
    EXPECT_EQ(InternetErrorDlg(GetDesktopWindow(), request, x.sendError,
                               FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS, nullptr),
              static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_EQ(host->Shown().size(), 2u);
    EXPECT_NE(host->Shown()[0].text.find("localhost:"), std::string::npos);
    Exchange again;
    Send(request, m_recorder, "", again);
    EXPECT_EQ(again.sendError, 0u);
    InternetCloseHandle(connection);
}

TEST_F(Tls, AServerThatWantsAClientCertificateIsRemembered) {
    const auto &c = testing_support::Certificates();
    testing_support::FaultServer server(
        {"--cert", c.good, "--key", c.goodKey, "--require-client-cert"});
    HINTERNET connection =
        InternetConnectA(m_session, "localhost", static_cast<INTERNET_PORT>(server.Port()), nullptr,
                         nullptr, INTERNET_SERVICE_HTTP, 0, m_recorder.Context());
    HINTERNET request = HttpOpenRequestA(connection, "GET", "/echo", nullptr, nullptr, nullptr,
                                         INTERNET_FLAG_SECURE, m_recorder.Context());
    Exchange first;
    Send(request, m_recorder, "", first);
    EXPECT_FALSE(first.hung);
    EXPECT_EQ(first.sendError, static_cast<DWORD>(ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED));
    // The next send fails at once, for the caller to show the dialog.
    SetLastError(0);
    EXPECT_FALSE(HttpSendRequestA(request, nullptr, 0, nullptr, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED));
    auto *host = dynamic_cast<platform::ScriptedUiHost *>(&platform::UiHost::Current());
    host->Forget();
    host->Queue(IDOK);
    EXPECT_EQ(InternetErrorDlg(GetDesktopWindow(), request, ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED,
                               7, nullptr),
              static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_EQ(host->Shown().size(), 1u);
    EXPECT_EQ(host->Shown()[0].caption, "Client Authentication");
    // Answered: the next send tries the server again.
    Exchange again;
    Send(request, m_recorder, "", again);
    EXPECT_EQ(again.sendError, static_cast<DWORD>(ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED));
    InternetCloseHandle(connection);
}
