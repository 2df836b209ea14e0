// Pages from sites on the internet, in Debian's headless Chromium and
// Firefox ESR: the page servers' ports are marked public in each browser
// (as a site on the internet is), under a host name of the test's own, over
// HTTP and HTTPS. The browsers refuse such a page any request to the bridge
// on loopback until the site is let through: by the administrator
// (quillbay-bridge --allow ORIGIN --machine, which writes the browsers'
// managed policies in their fixed places: in a /etc of the test's own that
// the tool and the browsers see and nothing else does),
// or in Chromium by the user's permission for that profile.
#include <unistd.h>

#include "BridgeFixture.h"
#include "LabelChecks.h"
#include "testing/HeadlessBrowser.h"
#include "testing/HeadlessFirefox.h"
#include "testing/PageServer.h"
#include "testing/PrivateEtc.h"

namespace bridge_test {
namespace {

using boost::beast::http::verb;
using nlohmann::json;
using testing_support::HeadlessBrowser;
using testing_support::HeadlessFirefox;
using testing_support::PageServer;

// A page of today: the client is a copy on the site's own server, so the
// page can tell why it cannot print when the browser keeps it from the
// bridge.
const char *kNewPage = R"(<html><head><meta charset="utf-8">
<script src="/quillbay.js" data-bridge="BRIDGE"></script>
<script>
window.done = (async function () {
    var status = await Quillbay.check(), printed;
    try {
        var bridge = await Quillbay.connect();
        var doc = await bridge.create("Quillbay.QuillDoc");
        await doc.SetPaperSize(1000, 1500);
        printed = "open " + await doc.SetPrinter("1");
        await doc.PrintText(5, 5, "From the internet", 0, 0, 12);
        printed += " close " + await doc.SetPrinter("0");
        bridge.close();
    } catch (e) {
        printed = "error " + e.code;
    }
    return status.state + " | " + printed;
})();
</script></head><body></body></html>
)";

// What the unchanged legacy page learnt, or how it was refused.
const char *kLegacyOutcome = "results.length ? results[1] : 'refused: ActiveXObject is ' + "
                             "typeof ActiveXObject";

class BridgeInternet : public BridgeFixture {
protected:
    void SetUp() override {
        BridgeFixture::SetUp();
        m_host = "shop-" + std::to_string(getpid()) + ".quillbay.test";
        const std::string cert = m_dir + "/cert.pem", key = m_dir + "/key.pem";
        ASSERT_EQ(
            testing_support::Run({"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                                  "ec_paramgen_curve:prime256v1", "-nodes", "-days", "1", "-subj",
                                  "/CN=" + m_host, "-addext", "subjectAltName=DNS:" + m_host,
                                  "-keyout", key, "-out", cert})
                .exitCode,
            0);
        m_http = std::make_unique<PageServer>();
        m_https = std::make_unique<PageServer>(cert, key);
        ASSERT_TRUE(m_http->Ready() && m_https->Ready());
        Start();
        const std::string client = SendHttp(Port(), verb::get, "/quillbay.js", "", Local()).body;
        ASSERT_NE(client.find("Quillbay"), std::string::npos);
        for (PageServer *server : {m_http.get(), m_https.get()}) {
            server->Put("/label.js", LabelScript(), "text/javascript; charset=utf-8");
            server->Put("/quillbay.js", client, "text/javascript; charset=utf-8");
            std::string page = kNewPage;
            page.replace(page.find("BRIDGE"), 6, m_bridge->Address());
            server->Put("/new.html", page);
            server->Put("/check.html", "<html><head><script src=\"/quillbay.js\" data-bridge=\"" +
                                           m_bridge->Address() +
                                           "\"></script><script>window.state = Quillbay.check()"
                                           ".then(function (s) { return s.state; });</script>"
                                           "</head></html>");
        }
    }
    void TearDown() override {
        m_etc.reset(); // the test's /etc goes, the browsers' policies with it
        BridgeFixture::TearDown();
    }

    // The test's own /etc, for the tool's and the browsers' policies: this
    // thread and the programs it starts from now on see it.
    void UseOwnEtc() {
        m_etc = std::make_unique<testing_support::PrivateEtc>();
        std::string why;
        ASSERT_TRUE(m_etc->Ready(why)) << why;
    }

    std::string Origin(const PageServer &server) const { return server.Url("", m_host); }
    std::string Url(const PageServer &server, const std::string &path) const {
        return server.Url(path, m_host);
    }
    // Runs the tool on the machine's list and the browsers' policies in
    // their fixed places (the test's own /etc).
    int Machine(const std::string &action, const std::string &origin) {
        return testing_support::Run({BRIDGE_PATH, action, origin, "--machine"}).exitCode;
    }
    void AllowForTheMachine() {
        for (const PageServer *server : {m_http.get(), m_https.get()})
            ASSERT_EQ(Machine("--allow", Origin(*server)), 0);
    }
    void ForgetForTheMachine() {
        for (const PageServer *server : {m_http.get(), m_https.get()})
            ASSERT_EQ(Machine("--forget", Origin(*server)), 0);
    }
    // Both page servers' ports count as public addresses.
    std::string PublicPorts(const char *suffix) const {
        return "127.0.0.1:" + std::to_string(m_http->Port()) + suffix +
               ",127.0.0.1:" + std::to_string(m_https->Port()) + suffix;
    }
    std::vector<std::string> ChromiumFlags() const {
        return {"--ip-address-space-overrides=" + PublicPorts("=public"),
                "--host-resolver-rules=MAP " + m_host + " 127.0.0.1",
                "--ignore-certificate-errors"};
    }
    json FirefoxPreferences() const {
        return {{"network.lna.address_space.public.override", PublicPorts("")},
                {"network.dns.localDomains", m_host}};
    }
    // The legacy label page, numbered, on a server.
    std::string LegacyPage(PageServer &server, int label) {
        server.Put("/legacy-" + std::to_string(label) + ".html",
                   LabelPage(m_bridge->Address(), label));
        return Url(server, "/legacy-" + std::to_string(label) + ".html");
    }
    json InChromium(HeadlessBrowser &browser, const std::string &url, const char *expression) {
        HeadlessBrowser::Page page = browser.Open(url);
        json value = browser.Evaluate(page, expression);
        browser.Close(page);
        return value;
    }
    json InFirefox(HeadlessFirefox &browser, const std::string &url, const char *expression) {
        EXPECT_TRUE(browser.Open(url)) << url;
        return browser.Evaluate(expression);
    }
    bool HaveRoot() const { return geteuid() == 0; }

    std::string m_host;
    std::unique_ptr<PageServer> m_http, m_https;
    std::unique_ptr<testing_support::PrivateEtc> m_etc;
};

} // namespace

TEST_F(BridgeInternet, ChromiumPrintsAPublicSiteOnlyWhileTheMachineAllowsIt) {
    if (!HaveRoot())
        GTEST_SKIP() << "needs root for a /etc of the test's own";
    ASSERT_NO_FATAL_FAILURE(UseOwnEtc());
    int label = 40;
    auto visit = [&](const std::string &legacy, const std::string &fresh) {
        HeadlessBrowser browser(ChromiumFlags()); // reads the policies as it starts
        if (!browser.Ready()) {
            ADD_FAILURE() << "headless Chromium did not start";
            return std::vector<std::string>();
        }
        for (PageServer *server : {m_http.get(), m_https.get()}) {
            ++label;
            char serial[16];
            snprintf(serial, sizeof serial, "%06d", label);
            const std::string expected =
                legacy.empty() ? std::string("serial ") + serial + " true" : legacy;
            // The browser's console says why a page was kept from the bridge.
            EXPECT_EQ(InChromium(browser, LegacyPage(*server, label), kLegacyOutcome), expected)
                << Url(*server, "") << " " << json(browser.Console());
            EXPECT_EQ(InChromium(browser, Url(*server, "/new.html"), "done"), fresh)
                << Url(*server, "") << " " << json(browser.Console());
        }
        return browser.Console();
    };
    // Refused before: the page's script from the bridge never runs.
    auto console = visit("refused: ActiveXObject is undefined",
                         "blocked-by-browser | error blocked-by-browser");
    bool named = false;
    for (const std::string &line : console)
        named = named || line.find("ActiveXObject is not defined") != std::string::npos;
    EXPECT_TRUE(named) << "the legacy page's error";
    EXPECT_TRUE(PdfFiles(m_dir + "/prints").empty());
    // Allowed for the machine: the unchanged pages print, and the bridge
    // asks nobody.
    AllowForTheMachine();
    visit("", "ready | open 1 close 1");
    auto pdfs = PdfFiles(m_dir + "/prints");
    ASSERT_EQ(pdfs.size(), 4u);
    EXPECT_EQ(CheckLabel(pdfs[0], 43, LabelCheck::Text), "");
    EXPECT_TRUE(Questions().empty());
    // Forgotten: refused again.
    ForgetForTheMachine();
    visit("refused: ActiveXObject is undefined", "blocked-by-browser | error blocked-by-browser");
    EXPECT_EQ(PdfFiles(m_dir + "/prints").size(), 4u);
}

TEST_F(BridgeInternet, FirefoxPrintsAPublicSiteOnlyWhileTheMachineAllowsIt) {
    if (!HaveRoot())
        GTEST_SKIP() << "needs root for a /etc of the test's own";
    ASSERT_NO_FATAL_FAILURE(UseOwnEtc());
    ASSERT_FALSE(HeadlessFirefox::Executable().empty()) << "firefox-esr is not installed";
    // While the browser asks the user, the page hears so.
    {
        HeadlessFirefox asking(FirefoxPreferences());
        ASSERT_TRUE(asking.Ready());
        EXPECT_EQ(InFirefox(asking, Url(*m_https, "/check.html"), "state"), "prompt");
    }
    // As a user who said no: refused at once.
    json refusing = FirefoxPreferences();
    refusing["permissions.default.loopback-network"] = 2;
    int label = 50;
    auto visit = [&](bool prints) {
        HeadlessFirefox browser(refusing); // reads the preferences as it starts
        ASSERT_TRUE(browser.Ready());
        for (PageServer *server : {m_http.get(), m_https.get()}) {
            ++label;
            char serial[16];
            snprintf(serial, sizeof serial, "%06d", label);
            EXPECT_EQ(InFirefox(browser, LegacyPage(*server, label), kLegacyOutcome),
                      prints ? std::string("serial ") + serial + " true"
                             : "refused: ActiveXObject is undefined")
                << Url(*server, "");
        }
    };
    visit(false);
    EXPECT_TRUE(PdfFiles(m_dir + "/prints").empty());
    AllowForTheMachine();
    visit(true);
    auto pdfs = PdfFiles(m_dir + "/prints");
    ASSERT_EQ(pdfs.size(), 2u);
    EXPECT_EQ(CheckLabel(pdfs[1], 54, LabelCheck::Text), "");
    EXPECT_TRUE(Questions().empty());
    ForgetForTheMachine();
    visit(false);
    EXPECT_EQ(PdfFiles(m_dir + "/prints").size(), 2u);
}

TEST_F(BridgeInternet, AUsersPermissionLetsTheSiteThroughInThatProfileOnly) {
    // The user allowed the site at the bridge; the browsers decide.
    Allow(Origin(*m_https));
    HeadlessBrowser granted(ChromiumFlags()), denied(ChromiumFlags());
    ASSERT_TRUE(granted.Ready() && denied.Ready());
    ASSERT_TRUE(granted.SetPermission("loopback-network", "granted", Origin(*m_https)));
    ASSERT_TRUE(denied.SetPermission("loopback-network", "denied", Origin(*m_https)));
    EXPECT_EQ(InChromium(granted, Url(*m_https, "/new.html"), "done"), "ready | open 1 close 1")
        << testing_support::ReadFile(m_dir + "/ui.log");
    EXPECT_EQ(InChromium(denied, Url(*m_https, "/new.html"), "done"),
              "blocked-by-browser | error blocked-by-browser");
    // The legacy page's synchronous calls tell the same, once the client
    // has read the browser's decision.
    json legacy =
        InChromium(denied, Url(*m_https, "/new.html"),
                   "done.then(function () { try { new ActiveXObject('Quillbay.QuillDoc'); "
                   "return 'created'; } catch (e) { return e.code; } })");
    EXPECT_EQ(legacy, "blocked-by-browser");
    EXPECT_EQ(PdfFiles(m_dir + "/prints").size(), 1u);
}

} // namespace bridge_test
