// The cookie store: the browsers' rules for domains, dates and paths, and
// the application's own calls against requests to a real server.
#include "InetTestSupport.h"
#include "platform/inet/CookieJar.h"
#include "testing/HttpServers.h"

using namespace inet_test;
using platform::inet::Cookie;
using platform::inet::CookieUrl;
using testing_support::FaultServer;

namespace {

bool Parse(const std::string &text, const std::string &host, Cookie &cookie,
           const std::string &path = "/a/b") {
    return platform::inet::ParseSetCookie(text, CookieUrl{host, path, true}, 1000000000, cookie);
}

} // namespace

TEST(CookieRules, DomainsDatesAndPathsAsBrowsersTakeThem) {
    Cookie c;
    ASSERT_TRUE(Parse("a=1; Domain=.Shop.test", "www.shop.test", c));
    EXPECT_FALSE(c.hostOnly);
    EXPECT_EQ(c.domain, "shop.test");
    EXPECT_EQ(c.path, "/a"); // the default path
    EXPECT_TRUE(platform::inet::DomainMatches("x.shop.test", c.domain));
    EXPECT_FALSE(platform::inet::DomainMatches("xshop.test", c.domain));
    // Public suffixes, of the list's own (co.uk, github.io) and unlisted ones.
    EXPECT_FALSE(Parse("a=1; Domain=test", "www.shop.test", c));
    EXPECT_FALSE(Parse("a=1; Domain=co.uk", "www.example.co.uk", c));
    EXPECT_TRUE(Parse("a=1; Domain=example.co.uk", "www.example.co.uk", c));
    EXPECT_FALSE(Parse("a=1; Domain=github.io", "me.github.io", c));
    ASSERT_TRUE(Parse("a=1; Domain=github.io", "github.io", c));
    EXPECT_TRUE(c.hostOnly); // a suffix's own host keeps it to itself
    EXPECT_FALSE(Parse("a=1; Domain=other.test", "www.shop.test", c));
    EXPECT_FALSE(Parse("a=1; Domain=0.0.1", "127.0.0.1", c));
    // The prefixes' promises.
    EXPECT_FALSE(Parse("__Host-a=1; Secure; Domain=shop.test", "www.shop.test", c));
    EXPECT_TRUE(Parse("__Host-a=1; Secure; Path=/", "www.shop.test", c));
    EXPECT_FALSE(Parse("__Secure-a=1", "www.shop.test", c));
    // Max-Age wins over Expires; the three date forms of the web.
    ASSERT_TRUE(Parse("a=1; Max-Age=60; Expires=Sun, 06 Nov 1994 08:49:37 GMT", "h.test", c));
    EXPECT_EQ(c.expires, 1000000060);
    for (const char *date : {"Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT",
                             "Sun Nov  6 08:49:37 1994"}) {
        int64_t seconds = 0;
        EXPECT_TRUE(platform::inet::ParseCookieDate(date, seconds)) << date;
        EXPECT_EQ(seconds, 784111777) << date;
    }
    int64_t seconds = 0;
    EXPECT_FALSE(platform::inet::ParseCookieDate("30 Feb 2020 00:00:00", seconds));
    EXPECT_FALSE(Parse("novalue", "h.test", c));
    EXPECT_FALSE(Parse("=1", "h.test", c));
    EXPECT_TRUE(platform::inet::PathMatches("/a/b", "/a"));
    EXPECT_FALSE(platform::inet::PathMatches("/ab", "/a"));
}

TEST(Cookies, TheApplicationSeesAndSetsAllButHttpOnlyOnes) {
    FaultServer server;
    HINTERNET session = OpenSession();
    Recorder recorder;
    HINTERNET connection =
        InternetConnectA(session, "127.0.0.1", static_cast<INTERNET_PORT>(server.Port()), nullptr,
                         nullptr, INTERNET_SERVICE_HTTP, 0, recorder.Context());
    ASSERT_NE(connection, nullptr);
    const std::string url = server.Url("/cookie/api/page");
    ASSERT_TRUE(InternetSetCookieA(url.c_str(), nullptr, "a=1"));
    ASSERT_TRUE(InternetSetCookieA(url.c_str(), "b", "2; Path=/cookie"));
    EXPECT_EQ(Fetch(connection, recorder, "GET", "/cookie/api/x?set=h%3D3%3B%20HttpOnly").body,
              "a=1; b=2");
    EXPECT_EQ(Fetch(connection, recorder, "GET", "/cookie/api/x").body,
              "a=1; h=3; b=2"); // longer paths first
    // A redirect's target gets the cookies of its own address.
    EXPECT_EQ(Fetch(connection, recorder, "GET", "/redirect?code=302&to=/cookie/api/x").body,
              "a=1; h=3; b=2");
    // The application's own view leaves the HttpOnly one out.
    DWORD size = 0;
    ASSERT_TRUE(InternetGetCookieA(url.c_str(), nullptr, nullptr, &size));
    EXPECT_EQ(size, 9u);
    char text[4] = {};
    size = sizeof text;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(InternetGetCookieA(url.c_str(), nullptr, text, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    std::string cookies(size, '\0');
    ASSERT_TRUE(InternetGetCookieA(url.c_str(), nullptr, cookies.data(), &size));
    EXPECT_STREQ(cookies.c_str(), "a=1; b=2");
    // It can neither set nor replace an HttpOnly cookie.
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(InternetSetCookieA(url.c_str(), "h", "4"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_OPERATION));
    EXPECT_FALSE(InternetSetCookieA(url.c_str(), nullptr, "j=5; HttpOnly"));
    // A request that asks for no cookies sends none and keeps none; the
    // application's own header goes with the store's.
    EXPECT_EQ(Fetch(connection, recorder, "GET", "/cookie/api/x?set=k%3D6",
                    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_COOKIES, "", "Cookie: own=0")
                  .body,
              "own=0");
    EXPECT_EQ(Fetch(connection, recorder, "GET", "/cookie/api/x", INTERNET_FLAG_RELOAD, "",
                    "Cookie: own=0")
                  .body,
              "own=0; a=1; h=3; b=2");
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(InternetGetCookieA(server.Url("/elsewhere").c_str(), nullptr, nullptr, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    EXPECT_FALSE(InternetGetCookieA("ftp://127.0.0.1/cookie", nullptr, nullptr, &size));
    InternetCloseHandle(session);
}
