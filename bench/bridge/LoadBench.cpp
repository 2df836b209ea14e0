// Fifty pages printing at once on one bridge, against an echo of the same
// pages in the same run. Each page is a WebSocket session speaking the
// protocol as the client does: it prints LABELS labels call by call (the
// label of label.js, a PDF each), then sends as many echo messages as it
// made calls. For both: calls per second over all pages, and the median
// and 99th percentile of a call's round trip; and the bridge's memory.
//
//   bench_bridge_load [LABELS] [BIN]
//
// LABELS per page (default 20); BIN, a build's bin folder whose
// quillbay-bridge, quillbay-regsvr and quillbay.so are measured (default
// this build's), so that two builds are compared with the same pages.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BridgeClient.h"
#include "testing/BridgeProcess.h"
#include "testing/TestSupport.h"

namespace {

using bridge_test::BridgeSocket;
using nlohmann::json;

constexpr int kPages = 50;

struct Figures {
    double callsPerSecond = 0, median = 0, p99 = 0;
    size_t calls = 0;
    int failures = 0;
};

double Percentile(std::vector<double> &sorted, double fraction) {
    return sorted.empty()
               ? 0
               : sorted[std::min(sorted.size() - 1, static_cast<size_t>(fraction * sorted.size()))];
}

// Runs `work` on every page at once; the figures of the round trips it
// added.
template <typename Work>
Figures AllAtOnce(std::vector<std::unique_ptr<BridgeSocket>> &pages, Work work) {
    std::vector<size_t> before;
    for (auto &page : pages)
        before.push_back(page->RoundTrips().size());
    std::atomic<int> failures{0}, ready{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (size_t i = 0; i < pages.size(); ++i)
        threads.emplace_back([&, i] {
            ++ready;
            while (!go)
                std::this_thread::yield();
            failures += work(*pages[i], static_cast<int>(i));
        });
    while (ready < static_cast<int>(pages.size()))
        std::this_thread::yield();
    const auto start = std::chrono::steady_clock::now();
    go = true;
    for (auto &thread : threads)
        thread.join();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::vector<double> trips;
    for (size_t i = 0; i < pages.size(); ++i)
        trips.insert(trips.end(), pages[i]->RoundTrips().begin() + before[i],
                     pages[i]->RoundTrips().end());
    std::sort(trips.begin(), trips.end());
    Figures figures;
    figures.calls = trips.size();
    figures.callsPerSecond = trips.size() / seconds;
    figures.median = Percentile(trips, 0.5);
    figures.p99 = Percentile(trips, 0.99);
    figures.failures = failures;
    return figures;
}

void Print(const char *what, const Figures &f) {
    printf("  %-28s %7zu calls %9.0f calls/s   median %7.0f us   p99 %8.0f us%s\n", what, f.calls,
           f.callsPerSecond, f.median, f.p99,
           f.failures ? ("   " + std::to_string(f.failures) + " FAILED").c_str() : "");
}

long Resident(unsigned short port, const std::string &token) {
    json status = bridge_test::SendHttp(port, boost::beast::http::verb::get, "/status", "",
                                        bridge_test::TokenHeader(token))
                      .Json();
    return status.is_object() ? status.value("residentBytes", 0L) : 0;
}

} // namespace

int main(int argc, char **argv) {
    const int labels = argc > 1 ? atoi(argv[1]) : 20;
    const std::string bin = argc > 2 ? argv[2] : "";
    const std::string bridgePath = bin.empty() ? BRIDGE_PATH : bin + "/quillbay-bridge";
    const std::string regsvr = bin.empty() ? REGSVR_PATH : bin + "/quillbay-regsvr";
    const std::string module = bin.empty() ? QUILLBAY_MODULE_PATH : bin + "/quillbay.so";
    const std::string dir = testing_support::MakeTempDir("bench-bridge-load-");
    setenv("QUILLBAY_HOME", (dir + "/home").c_str(), 1);
    setenv("QUILLBAY_PRINT_DIR", (dir + "/prints").c_str(), 1);
    setenv("QUILLBAY_PRINTER", "Quillbay PDF", 1);
    setenv("QUILLBAY_UI", "headless", 1);
    testing_support::Run({regsvr, "/s", module});
    testing_support::BridgeProcess bridge(bridgePath);
    if (!bridge.Ready()) {
        printf("the bridge did not start: %s\n", bridge.Log().c_str());
        return 1;
    }
    const bridge_test::Headers local = bridge_test::TokenHeader(bridge.Token());
    std::vector<std::unique_ptr<BridgeSocket>> pages;
    for (int i = 0; i < kPages; ++i)
        pages.push_back(std::make_unique<BridgeSocket>(bridge.Port(), local));
    const long warm = Resident(bridge.Port(), bridge.Token());
    printf("%s: %d pages at once, %d labels each\n", bridgePath.c_str(), kPages, labels);
    const Figures printed = AllAtOnce(pages, [labels](BridgeSocket &page, int number) {
        int failed = 0;
        for (int label = 1; label <= labels; ++label) {
            std::string error;
            failed += bridge_test::PrintLabel(page, number * 1000 + label, error).empty();
        }
        return failed;
    });
    const size_t callsEach = printed.calls / kPages;
    const Figures echoed = AllAtOnce(pages, [callsEach](BridgeSocket &page, int) {
        int failed = 0;
        for (size_t i = 0; i < callsEach; ++i)
            failed +=
                page.Request({{"op", "echo"}, {"value", "000001"}}).value("value", "") != "000001";
        return failed;
    });
    Print("labels (every call)", printed);
    Print("echo (the same pages)", echoed);
    printf("  labels against echo: %.2fx the calls per second, %.2fx the p99\n",
           printed.callsPerSecond / echoed.callsPerSecond, printed.p99 / echoed.p99);
    printf("  the bridge's memory: %.1f MB with the pages open, %.1f MB after\n", warm / 1048576.0,
           Resident(bridge.Port(), bridge.Token()) / 1048576.0);
    pages.clear();
    bridge.Stop();
    testing_support::RemoveTree(dir);
    return printed.failures || echoed.failures ? 1 : 0;
}
