// Real pages in Debian's headless Chromium, served from another loopback
// origin, drive the object through the bridge: a page script written for
// the object runs unchanged (and prints what the script host prints), the
// asynchronous API, an <object> tag page, refusals in the page, and a
// bridge killed under a page and started again.
#include <thread>

#include "BridgeFixture.h"
#include "LabelChecks.h"
#include "testing/HeadlessBrowser.h"
#include "testing/PageServer.h"
#include "testing/PdfPage.h"

namespace bridge_test {
namespace {

using nlohmann::json;
using testing_support::HeadlessBrowser;
using testing_support::PageServer;

class BridgeBrowser : public BridgeFixture {
protected:
    static void SetUpTestSuite() {
        BridgeFixture::SetUpTestSuite();
        s_pages = new PageServer();
        // The HTTPS test's page server has a certificate of its own.
        s_browser = new HeadlessBrowser({"--ignore-certificate-errors"});
        ASSERT_TRUE(s_browser->Ready()) << "headless Chromium did not start";
        s_pages->Put("/label.js", LabelScript(), "text/javascript; charset=utf-8");
        Allow(s_pages->Url(""));
    }
    static void TearDownTestSuite() {
        delete s_browser;
        delete s_pages;
    }

    // Opens a page and gives the value of `expression` there.
    json Run(const std::string &url, const std::string &expression) {
        HeadlessBrowser::Page page = s_browser->Open(url);
        json value = s_browser->Evaluate(page, expression);
        s_browser->Close(page);
        return value;
    }
    // The script host's output for a file written into the test's folder.
    std::string ScriptHost(const std::string &name, const std::string &text) {
        testing_support::WriteFile(m_dir + "/" + name, text);
        setenv("QUILLBAY_PRINT_DIR", (m_dir + "/script-prints").c_str(), 1);
        auto result = testing_support::Run({SCRIPT_HOST_PATH, m_dir + "/" + name});
        setenv("QUILLBAY_PRINT_DIR", (m_dir + "/prints").c_str(), 1);
        EXPECT_EQ(result.exitCode, 0) << result.output;
        return result.output;
    }
    std::string Console() const {
        std::string text;
        for (const std::string &line : s_browser->Console())
            text += line + "\n";
        return text;
    }

    static PageServer *s_pages;
    static HeadlessBrowser *s_browser;
};

PageServer *BridgeBrowser::s_pages = nullptr;
HeadlessBrowser *BridgeBrowser::s_browser = nullptr;

const char *kAsyncPage = R"(<html><head><meta charset="utf-8">
<script src="BRIDGE/quillbay.js"></script>
<script>
window.done = (async function () {
    var jobs = [], results = [];
    Quillbay.addEventListener("job", function (e) {
        jobs.push(e.detail.stage + (e.detail.where ? " " + e.detail.where : ""));
    });
    var status = await Quillbay.check({ minVersion: "0.1" });
    var later = await Quillbay.check({ minVersion: "999.0" });
    var bridge = await Quillbay.connect();
    var doc = await bridge.create("Quillbay.QuillDoc");
    await doc.SetPaperSize(1000, 1500);
    results.push("open " + await doc.SetPrinter("1"));
    var serial = await doc.BeginCharOf("2", 6, "0");
    await doc.SetFont("黑体", 1);
    await doc.PrintText(5, 5, "发货单 Label " + serial, 0, 0, 16);
    await doc.SetFont("宋体", 0);
    await doc.PrintText(5, 20, "收货人：张三  电话：13800000000", 0, 0, 10);
    await doc.PrintBarCode(3, "2026" + serial, 5, 30, 0, 0, 60, 18);
    await doc.PrintBarCode(2, "SO-" + serial + "|张三|北京市海淀区", 5, 60, 0, 0, 70, 30);
    results.push("image " + /^file:\/\/.*\.jpg$/.test(await doc.GetBarCodeImg(1, "6901234567892")));
    results.push("close " + await doc.SetPrinter("0"));
    try { await doc.GetCode("x", 9); } catch (e) { results.push(e.code + " " + e.message); }
    results.push("same " + (doc === await bridge.create("Quillbay.QuillDoc")));
    bridge.close();
    try { await doc.GetDBResult(); } catch (e) { results.push("after close " + e.code); }
    return { state: status.state, later: later.state, version: status.version,
             methods: status.classes[0].methods.map(function (m) { return m.name; }),
             results: results, jobs: jobs };
})();
</script></head><body></body></html>
)";

// A page that lists the printers, previews a job, shows its picture and
// reads its PDF from the bridge, then prints it.
const char *kPreviewPage = R"(<html><head><meta charset="utf-8">
<script src="BRIDGE/quillbay.js"></script>
<script>
window.done = (async function () {
    var results = [], finished = [];
    var bridge = await Quillbay.connect();
    bridge.addEventListener("job", function (e) {
        if (e.detail.stage === "finished") finished.push(e.detail);
    });
    var printers = await bridge.printers();
    results.push(printers[0].name + " " + printers[0].default);
    try { await bridge.usePrinter("no such printer"); } catch (e) { results.push(e.code); }
    results.push("settings " + JSON.stringify(await bridge.preview(true)));
    var doc = await bridge.create("Quillbay.QuillDoc");
    async function print(text) {
        await doc.SetPaperSize(1000, 1500);
        await doc.SetPrinter("1");
        await doc.PrintText(5, 5, text, 0, 0, 16);
        await doc.SetPrinter("0");
    }
    await print("预览 preview");
    var preview = finished[0].preview;
    var pdf = await fetch(preview.pdf).then(function (r) { return r.arrayBuffer(); });
    results.push("pdf " + String.fromCharCode.apply(null, new Uint8Array(pdf.slice(0, 5))));
    var image = document.createElement("img");
    image.src = preview.png;
    document.body.appendChild(image);
    await image.decode();
    results.push("png " + (image.naturalWidth > 0));
    await bridge.preview(false);
    await print("printed");
    results.push("printed " + ("where" in finished[1]) + " " + ("preview" in finished[1]));
    results.push("copies " + (await bridge.useCopies(2)).copies);
    // A receipt printer's bytes for the PDF printer: refused, nothing sent.
    try { await bridge.printRaw(null, new Uint8Array([0x1b, 0x40, 0xff])); }
    catch (e) { results.push(e.code); }
    bridge.close();
    return results;
})();
</script></head><body></body></html>
)";

const char *kObjectTagPage = R"(<html><head><meta charset="utf-8">
<script src="BRIDGE/quillbay.js"></script>
<object id="quill" classid="clsid:AE9D5D26-B784-4C47-8830-86B5D0CA1F7C" width="0" height="0"></object>
<script type="text/javascript">
var results = [];
results.push("early " + quill.BeginCharOf("3", 4, "0"));
function printed() {
    quill.SetPaperSize(1000, 1500);
    results.push("open " + quill.SetPrinter("1"));
    quill.SetFont("宋体", 0);
    quill.PrintText(5, 5, "对象标签 Object tag", 0, 0, 16);
    quill.PrintBarCode(3, "20260003", 5, 30, 0, 0, 60, 18);
    results.push("close " + quill.SetPrinter("0"));
}
</script></head>
<body onload="printed()ONLOAD"><script>results.push("body " + quill.GetDBResult());</script></body></html>
)";

std::string Replace(std::string text, const std::string &from, const std::string &to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

} // namespace

TEST_F(BridgeBrowser, RunsAnUnchangedPageScriptAsTheScriptHostDoes) {
    Start();
    s_pages->Put("/legacy.html", LabelPage(m_bridge->Address(), 1));
    json results = Run(s_pages->Url("/legacy.html"), "results.join('\\n')");
    std::string host = ScriptHost("label.js", LabelScript() + "\nprint(results.join('\\n'));\n");
    ASSERT_TRUE(results.is_string()) << results << Console();
    EXPECT_EQ(results.get<std::string>() + "\n", host);
    EXPECT_NE(host.find("threw GetCode failed: HRESULT 0x80020005 80020005"), std::string::npos)
        << host;
    // The same page, the same PDF.
    auto bridgePdfs = PdfFiles(m_dir + "/prints"), hostPdfs = PdfFiles(m_dir + "/script-prints");
    ASSERT_EQ(bridgePdfs.size(), 1u);
    ASSERT_EQ(hostPdfs.size(), 1u);
    EXPECT_EQ(CheckLabel(bridgePdfs[0], 1), "");
    EXPECT_TRUE(SamePixels(bridgePdfs[0], hostPdfs[0]));
    // The page's objects went with its session when it closed.
    for (int i = 0; i < 50 && Status()["objects"] != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(Status()["objects"], 0);
}

TEST_F(BridgeBrowser, NewPagesUseTheAsynchronousApi) {
    Start();
    s_pages->Put("/async.html", Replace(kAsyncPage, "BRIDGE", m_bridge->Address()));
    json done = Run(s_pages->Url("/async.html"), "done");
    ASSERT_TRUE(done.is_object()) << done << Console();
    EXPECT_EQ(done["state"], "ready");
    EXPECT_EQ(done["later"], "too-old");
    EXPECT_EQ(done["methods"].size(), 18u);
    EXPECT_EQ(done["methods"][3], "BeginCharOf");
    EXPECT_EQ(done["results"], json({"open 1", "image true", "close 1",
                                     "call-failed GetCode failed: HRESULT 0x80020005", "same false",
                                     "after close closed"}));
    auto pdfs = PdfFiles(m_dir + "/prints");
    ASSERT_EQ(pdfs.size(), 1u);
    EXPECT_EQ(CheckLabel(pdfs[0], 2), "");
    EXPECT_EQ(done["jobs"], json({"started", "page", "finished " + pdfs[0]}));
}

TEST_F(BridgeBrowser, APageListsPrintersPreviewsAndPrints) {
    Start();
    s_pages->Put("/preview.html", Replace(kPreviewPage, "BRIDGE", m_bridge->Address()));
    json done = Run(s_pages->Url("/preview.html"), "done");
    ASSERT_TRUE(done.is_array()) << done << Console();
    EXPECT_EQ(done, json({"Quillbay PDF true", "no-printer",
                          "settings {\"copies\":1,\"preview\":true,\"printer\":null}", "pdf %PDF-",
                          "png true", "printed true false", "copies 2", "document-printer"}))
        << Console();
    // Only the printed job reached the PDF printer's folder.
    EXPECT_EQ(PdfFiles(m_dir + "/prints").size(), 1u);
}

TEST_F(BridgeBrowser, PagesServedOverHttpsReachTheBridge) {
    // Loopback is a secure context: an HTTPS page loads the client and calls
    // the bridge over plain HTTP and WebSocket on 127.0.0.1.
    const std::string cert = m_dir + "/cert.pem", key = m_dir + "/key.pem";
    ASSERT_EQ(testing_support::Run({"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                                    "ec_paramgen_curve:prime256v1", "-nodes", "-days", "1", "-subj",
                                    "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                                    "-keyout", key, "-out", cert})
                  .exitCode,
              0);
    PageServer secure(cert, key);
    ASSERT_TRUE(secure.Ready());
    Allow(secure.Url(""));
    Start();
    secure.Put("/label.js", LabelScript(), "text/javascript; charset=utf-8");
    secure.Put("/legacy.html", LabelPage(m_bridge->Address(), 7));
    secure.Put("/async.html", Replace(kAsyncPage, "BRIDGE", m_bridge->Address()));
    EXPECT_EQ(Run(secure.Url("/legacy.html"), "results[1]"), "serial 000007 true") << Console();
    json done = Run(secure.Url("/async.html"), "done");
    ASSERT_TRUE(done.is_object()) << done << Console();
    EXPECT_EQ(done["results"][0], "open 1");
    EXPECT_EQ(PdfFiles(m_dir + "/prints").size(), 2u);
}

TEST_F(BridgeBrowser, BindsObjectTagsAsThePageMeetsThem) {
    Start();
    const std::string page = Replace(kObjectTagPage, "BRIDGE", m_bridge->Address());
    s_pages->Put("/tag.html", Replace(page, "ONLOAD", ""));
    json results = Run(s_pages->Url("/tag.html"), "results.join('\\n')");
    std::string host =
        ScriptHost("tag.html", Replace(page, "ONLOAD", "; print(results.join('\\n'))"));
    ASSERT_TRUE(results.is_string()) << results << Console();
    EXPECT_EQ(results.get<std::string>() + "\n", host);
    EXPECT_EQ(host, "early 0003\nbody 0003\nopen 1\nclose 1\n");
    auto pdfs = PdfFiles(m_dir + "/prints"), hostPdfs = PdfFiles(m_dir + "/script-prints");
    ASSERT_EQ(pdfs.size(), 1u);
    ASSERT_EQ(hostPdfs.size(), 1u);
    EXPECT_TRUE(SamePixels(pdfs[0], hostPdfs[0]));
    EXPECT_NE(testing_support::PdfText(pdfs[0]).find("对象标签"), std::string::npos);
}

TEST_F(BridgeBrowser, ARefusedPageGetsAClearErrorAndAnAllowedOneWorks) {
    // The first new origin is blocked by the user, the second allowed.
    Start({}, "2,0");
    PageServer other;
    const std::string page =
        "<html><head><script src=\"" + m_bridge->Address() +
        "/quillbay.js\"></script><script>var outcome;"
        "try { outcome = new ActiveXObject('Quillbay.QuillDoc').EncryptChar('AB'); }"
        "catch (e) { outcome = e.code + ': ' + e.message; }</script></head></html>";
    s_pages->Put("/consent.html", page);
    other.Put("/consent.html", page);
    const std::string refusedOrigin = s_pages->Url("", "localhost");
    json refused = Run(s_pages->Url("/consent.html", "localhost"),
                       "Quillbay.ready.then(function (s) { return s.state + ' | ' + outcome; })");
    EXPECT_EQ(refused, "refused | origin-refused: quillbay-bridge: the user has not allowed " +
                           refusedOrigin + " to use the print object");
    json allowed = Run(other.Url("/consent.html"), "outcome");
    EXPECT_EQ(allowed, "8283");
    EXPECT_EQ(Questions().size(), 2u);
    EXPECT_TRUE(PdfFiles(m_dir + "/prints").empty());
}

TEST_F(BridgeBrowser, APageLosingTheBridgeGetsAnErrorAndARestartedBridgeServesTheNext) {
    Start();
    const unsigned short port = Port();
    const std::string address = m_bridge->Address();
    s_pages->Put(
        "/loop.html",
        "<html><head><script src=\"" + m_bridge->Address() +
            "/quillbay.js\"></script><script>var outcome = 'finished', printed = 0;"
            "try { var d = new ActiveXObject('Quillbay.QuillDoc');"
            "  for (var i = 0; i < 500; i++) { d.SetPaperSize(1000, 1500); d.SetPrinter('1');"
            "    d.PrintText(5, 5, 'Loop ' + i, 0, 0, 12); d.SetPrinter('0'); printed++; } }"
            "catch (e) { outcome = e.code + ': ' + e.message; }</script></head></html>");
    HeadlessBrowser::Page page =
        s_browser->Open(s_pages->Url("/loop.html"), std::chrono::seconds(30), false);
    for (int i = 0; i < 300 && PdfFiles(m_dir + "/prints").empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_FALSE(PdfFiles(m_dir + "/prints").empty()) << m_bridge->Log();
    m_bridge->Kill();
    json outcome = s_browser->Evaluate(page, "outcome + ' after ' + printed");
    s_browser->Close(page);
    ASSERT_TRUE(outcome.is_string()) << outcome;
    EXPECT_EQ(outcome.get<std::string>().rfind(
                  "unreachable: quillbay-bridge is not reachable at " + address, 0),
              0u)
        << outcome;
    // Started again on its port, the bridge serves the next page load.
    Start({}, "", port);
    ASSERT_EQ(Port(), port);
    s_pages->Put("/after.html", LabelPage(m_bridge->Address(), 5));
    json results = Run(s_pages->Url("/after.html"), "results[1]");
    EXPECT_EQ(results, "serial 000005 true");
}

} // namespace bridge_test
