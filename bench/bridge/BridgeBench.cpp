// The bridge from a page in headless Chromium, against peers in the same
// run:
//  - a method call's round trip by synchronous XMLHttpRequest (the legacy
//    client's ActiveXObject) against a plain loopback echo on the same
//    server (POST /echo), and over a WebSocket (the asynchronous API, and
//    the bare protocol) against an echo message on the same socket;
//  - a whole label printed from a page (session, object, every call, the
//    PDF written) against the same script run by quillbay-script.
//
//   bench_bridge [CALLS] [LABELS]      (defaults 500 and 10)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "testing/BridgeProcess.h"
#include "testing/HeadlessBrowser.h"
#include "testing/PageServer.h"
#include "testing/TestSupport.h"

namespace {

using nlohmann::json;
using testing_support::HeadlessBrowser;

// The page that measures: each path CALLS times, after a warm-up; the
// medians in microseconds end up in `measured`.
const char *kRoundTrips = R"(
function median(list) { list.sort(function (a, b) { return a - b; }); return list[list.length >> 1]; }
// Ten batches (the page's clock is coarse); the median batch's mean.
function timeSync(n, step) {
    var times = [], per = Math.max(1, n / 10 | 0);
    for (var b = 0; b < 10; b++) {
        var t = performance.now();
        for (var i = 0; i < per; i++) step();
        times.push((performance.now() - t) / per);
    }
    return median(times) * 1000;
}
async function timeAsync(n, step) {
    var times = [], per = Math.max(1, n / 10 | 0);
    for (var b = 0; b < 10; b++) {
        var t = performance.now();
        for (var i = 0; i < per; i++) await step();
        times.push((performance.now() - t) / per);
    }
    return median(times) * 1000;
}
function rawSocket() {
    return new Promise(function (resolve) {
        var socket = new WebSocket(Quillbay.bridge.replace(/^http/, "ws") + "/session");
        var waiting = null;
        socket.onmessage = function (e) {
            if (!waiting) return resolve(send);
            var w = waiting; waiting = null; w(JSON.parse(e.data));
        };
        function send(message) {
            return new Promise(function (done) { waiting = done; socket.send(JSON.stringify(message)); });
        }
    });
}
window.measured = (async function () {
    var n = CALLS, body = JSON.stringify({ op: "echo", value: "000001" });
    var doc = new ActiveXObject("Quillbay.QuillDoc");
    var r = {};
    // Warm both paths first.
    timeSync(20, function () { doc.BeginCharOf("1", 6, "0"); });
    r.syncEcho = timeSync(n, function () {
        var x = new XMLHttpRequest(); x.open("POST", Quillbay.bridge + "/echo", false); x.send(body);
    });
    r.syncCall = timeSync(n, function () { doc.BeginCharOf("1", 6, "0"); });
    var send = await rawSocket();
    await send({ id: 0, op: "create", progId: "Quillbay.QuillDoc" });
    await timeAsync(20, function () { return send({ id: 1, op: "echo", value: "000001" }); });
    r.socketEcho = await timeAsync(n, function () { return send({ id: 1, op: "echo", value: "000001" }); });
    r.socketCall = await timeAsync(n, function () {
        return send({ id: 2, op: "call", object: 1, member: "BeginCharOf", args: ["1", 6, "0"] });
    });
    var bridge = await Quillbay.connect();
    var asyncDoc = await bridge.create("Quillbay.QuillDoc");
    await timeAsync(20, function () { return asyncDoc.BeginCharOf("1", 6, "0"); });
    r.promiseCall = await timeAsync(n, function () { return asyncDoc.BeginCharOf("1", 6, "0"); });
    return r;
})();
)";

// The label of label.js through the asynchronous API, as a new page would
// print it; `took` is its time from the first request on.
const char *kAsyncLabel = R"(
window.took = (async function () {
    var t0 = performance.now();
    var bridge = await Quillbay.connect();
    var quill = await bridge.create("Quillbay.QuillDoc");
    await quill.SetPaperSize(1000, 1500);
    await quill.SetPrinter("1");
    var serial = await quill.BeginCharOf("1", 6, "0");
    await quill.GetDBResult();
    await quill.SetFont("黑体", 1);
    await quill.PrintText(5, 5, "发货单 Label " + serial, 0, 0, 16);
    await quill.DrawLine(5, 15, 95, 15, 0, 0, 3, 0);
    await quill.SetFont("宋体", 0);
    await quill.PrintText(5, 20, "收货人：张三  电话：13800000000", 0, 0, 10);
    await quill.PrintBarCode(3, "2026" + serial, 5, 30, 0, 0, 60, 18);
    await quill.PrintBarCode(2, "SO-" + serial + "|张三|北京市海淀区", 5, 60, 0, 0, 70, 30);
    await quill.DrawLine(5, 100, 95, 100, 0, 0, 1, 0x808080);
    await quill.GetBarCodeImg(1, "6901234567892");
    await quill.SetPrinter("0");
    bridge.close();
    return performance.now() - t0;
})();
)";

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

std::string Replace(std::string text, const std::string &from, const std::string &to) {
    size_t at = text.find(from);
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

void RoundTrips(HeadlessBrowser &browser, testing_support::PageServer &pages,
                const std::string &bridge, int calls) {
    pages.Put("/roundtrips.html",
              "<html><head><script src=\"" + bridge + "/quillbay.js\"></script><script>" +
                  Replace(kRoundTrips, "CALLS", std::to_string(calls)) + "</script></head></html>");
    auto page = browser.Open(pages.Url("/roundtrips.html"));
    json r = browser.Evaluate(page, "measured", std::chrono::seconds(300));
    browser.Close(page);
    if (!r.is_object() || !r.contains("syncEcho")) {
        printf("round trips failed: %s\n", r.dump().c_str());
        return;
    }
    printf("call round trip, %d calls in 10 batches, the median batch's mean, microseconds:\n",
           calls);
    printf("  synchronous XHR   echo %8.0f   call (ActiveXObject) %8.0f   %.2fx\n",
           r["syncEcho"].get<double>(), r["syncCall"].get<double>(),
           r["syncCall"].get<double>() / r["syncEcho"].get<double>());
    printf("  WebSocket         echo %8.0f   call (protocol)      %8.0f   %.2fx\n",
           r["socketEcho"].get<double>(), r["socketCall"].get<double>(),
           r["socketCall"].get<double>() / r["socketEcho"].get<double>());
    printf("                                   call (Promise API)   %8.0f   %.2fx\n",
           r["promiseCall"].get<double>(),
           r["promiseCall"].get<double>() / r["socketEcho"].get<double>());
}

void Labels(HeadlessBrowser &browser, testing_support::PageServer &pages, const std::string &bridge,
            const std::string &dir, int labels) {
    const std::string label = testing_support::ReadFile(BRIDGE_FIXTURES_DIR "/label.js");
    pages.Put("/label.js", label, "text/javascript; charset=utf-8");
    pages.Put("/label.html", "<html><head><script src=\"" + bridge +
                                 "/quillbay.js\"></script><script>var t0 = performance.now();"
                                 "</script><script src=\"/label.js\"></script><script>var took = "
                                 "performance.now() - t0, loaded = performance.now();</script>"
                                 "</head></html>");
    pages.Put("/label-async.html", "<html><head><meta charset=\"utf-8\"><script src=\"" + bridge +
                                       "/quillbay.js\"></script><script>" + kAsyncLabel +
                                       "</script></head></html>");
    std::vector<double> page, navigation, promises, script;
    for (int i = 0; i < labels; ++i) {
        auto tab = browser.Open(pages.Url("/label.html"));
        json r = browser.Evaluate(tab, "[took, loaded]");
        browser.Close(tab);
        if (r.is_array()) {
            page.push_back(r[0].get<double>());
            navigation.push_back(r[1].get<double>());
        }
        tab = browser.Open(pages.Url("/label-async.html"));
        r = browser.Evaluate(tab, "took");
        browser.Close(tab);
        if (r.is_number())
            promises.push_back(r.get<double>());
    }
    testing_support::WriteFile(dir + "/label.js", label);
    for (int i = 0; i < labels; ++i) {
        auto start = std::chrono::steady_clock::now();
        testing_support::Run({SCRIPT_HOST_PATH, dir + "/label.js"});
        script.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    printf("a whole label (session, object, calls, PDF written), median of %d, milliseconds:\n",
           labels);
    printf("  legacy page (ActiveXObject), its script   %8.1f   %+.1f\n", Median(page),
           Median(page) - Median(script));
    printf("  legacy page, from navigation              %8.1f\n", Median(navigation));
    printf("  new page (Promise API), its script        %8.1f   %+.1f\n", Median(promises),
           Median(promises) - Median(script));
    printf("  quillbay-script, whole process            %8.1f\n", Median(script));
}

} // namespace

int main(int argc, char **argv) {
    const int calls = argc > 1 ? atoi(argv[1]) : 500, labels = argc > 2 ? atoi(argv[2]) : 10;
    const std::string dir = testing_support::MakeTempDir("bench-bridge-");
    setenv("QUILLBAY_HOME", (dir + "/home").c_str(), 1);
    setenv("QUILLBAY_PRINT_DIR", (dir + "/prints").c_str(), 1);
    setenv("QUILLBAY_PRINTER", "Quillbay PDF", 1);
    setenv("QUILLBAY_UI", "headless", 1);
    testing_support::Run({REGSVR_PATH, "/s", QUILLBAY_MODULE_PATH});
    testing_support::PageServer pages;
    testing_support::Run({BRIDGE_PATH, "--allow", pages.Url("")});
    testing_support::BridgeProcess bridge(BRIDGE_PATH);
    HeadlessBrowser browser;
    if (!bridge.Ready() || !browser.Ready()) {
        printf("the bridge or Chromium did not start (Chromium: apt-get install chromium)\n");
        return 1;
    }
    RoundTrips(browser, pages, bridge.Address(), calls);
    Labels(browser, pages, bridge.Address(), dir, labels);
    testing_support::RemoveTree(dir);
    return 0;
}
