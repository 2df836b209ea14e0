// HTTP against a loopback nginx, each figure beside libcurl's easy API doing
// the same work in the same run:
//   Download: HttpClient::Download of a 50 MB file (as PrintLogo downloads a
//     picture) against curl_easy_perform of the same file into memory;
//   Send: QuillDoc::HttpSend round trips (a small form POST on a kept
//     connection), and the same through HttpClient alone, against
//     curl_easy_perform of the same POST with a reused handle.
// A figure and its peer run the same number of iterations per repetition,
// both on a kept connection; their repetitions take turns in random order,
// so a machine whose load changes during the run weighs on both alike. The
// end of the output compares the medians of the real times, with the
// spread of the repetitions and the machine's load before and after.
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <curl/curl.h>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "QuillDoc.h"
#include "net/HttpClient.h"
#include "platform/kernel/TextConvert.h"
#include "testing/HttpServers.h"
#include "testing/TestSupport.h"

namespace {

constexpr size_t kFileSize = 50u << 20;
constexpr int kRepetitions = 15;
constexpr benchmark::IterationCount kDownloads = 6;
constexpr benchmark::IterationCount kRoundTrips = 2000;
constexpr const char *kForm = "sp=KEY&name=value&count=12";
constexpr const char *kFormHeader = "Content-Type:application/x-www-form-urlencoded;charset=gb2312";

struct Servers {
    Servers() {
        const std::string root = testing_support::MakeTempDir("quillbay-bench-http-");
        setenv("QUILLBAY_HOME", (root + "/home").c_str(), 1);
        setenv("QUILLBAY_UI", "headless", 1);
        nginx = std::make_unique<testing_support::Nginx>();
        std::string file(kFileSize, '\0');
        for (size_t i = 0; i < file.size(); ++i)
            file[i] = static_cast<char>((i * 131) >> 7);
        testing_support::WriteFile(nginx->Root() + "/big.bin", file);
        base = "http://127.0.0.1:" + std::to_string(nginx->Port());
    }
    std::unique_ptr<testing_support::Nginx> nginx;
    std::string base;
};

Servers &Loopback() {
    static Servers servers;
    return servers;
}

size_t Collect(char *data, size_t size, size_t count, void *target) {
    static_cast<std::string *>(target)->append(data, size * count);
    return size * count;
}

void Download_HttpClient(benchmark::State &state) {
    const std::string url = Loopback().base + "/big.bin";
    HttpClient client; // kept, as PrintLogo keeps its client
    for (auto _ : state) {
        int n =
            client.Download(url.c_str(), 80, INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE);
        if (n != static_cast<int>(kFileSize))
            state.SkipWithError("download failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}

void Download_CurlEasy(benchmark::State &state) {
    const std::string url = Loopback().base + "/big.bin";
    CURL *easy = curl_easy_init();
    std::string body; // kept, as the client keeps its buffer
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L); // as the worker has it
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
    for (auto _ : state) {
        body.clear();
        if (curl_easy_perform(easy) != CURLE_OK || body.size() != kFileSize)
            state.SkipWithError("download failed");
    }
    curl_easy_cleanup(easy);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}

void Send_QuillDoc(benchmark::State &state) {
    IQuillDoc *doc = nullptr;
    QuillDoc::Create(nullptr, IID_IQuillDoc, reinterpret_cast<void **>(&doc));
    const std::u16string url = platform::Utf8ToWide(Loopback().base + "/post");
    BSTR address = SysAllocString(url.c_str());
    BSTR key = SysAllocString(u"KEY");
    BSTR params = SysAllocString(u"name=value&count=12");
    int connected = 0;
    doc->HttpConnect(address, &connected);
    if (!connected)
        state.SkipWithError("no connection");
    for (auto _ : state) {
        BSTR reply = nullptr;
        doc->HttpSend(key, params, &reply);
        if (!reply || SysStringLen(reply) != 6)
            state.SkipWithError("no reply");
        SysFreeString(reply);
    }
    SysFreeString(address);
    SysFreeString(key);
    SysFreeString(params);
    doc->Release();
}

// The same round trip through HttpClient alone, as HttpSend drives it.
void Send_HttpClient(benchmark::State &state) {
    const std::string url = Loopback().base + "/post";
    HttpClient client;
    client.OpenSession("OstrelCOM");
    if (client.Connect(url.c_str(), 80) != 0)
        state.SkipWithError("no connection");
    for (auto _ : state) {
        client.OpenRequest("POST", INTERNET_FLAG_RELOAD);
        client.AddHeaders(kFormHeader, HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
        if (client.SendText(kForm) != 0 || client.Body().Length() != 6)
            state.SkipWithError("no reply");
    }
}

void Send_CurlEasy(benchmark::State &state) {
    const std::string url = Loopback().base + "/post";
    CURL *easy = curl_easy_init();
    std::string body;
    curl_slist *headers = curl_slist_append(nullptr, kFormHeader);
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, kForm);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
    for (auto _ : state) {
        body.clear();
        if (curl_easy_perform(easy) != CURLE_OK || body != "posted")
            state.SkipWithError("no reply");
    }
    curl_slist_free_all(headers);
    curl_easy_cleanup(easy);
}

// The minimum and maximum of the repetitions, beside the median.
double Least(const std::vector<double> &v) {
    return *std::min_element(v.begin(), v.end());
}
double Most(const std::vector<double> &v) {
    return *std::max_element(v.begin(), v.end());
}

// The console's report, and at its end each figure against its peer.
class PeerReporter : public benchmark::ConsoleReporter {
public:
    PeerReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_None) {}
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs) {
            if (run.run_type == Run::RT_Aggregate && !run.error_occurred)
                m_figures[run.run_name.function_name][run.aggregate_name] =
                    run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Compare(const char *figure, const char *peer, const char *unit) {
        auto f = m_figures.find(figure), p = m_figures.find(peer);
        if (f == m_figures.end() || p == m_figures.end())
            return;
        auto &a = f->second, &b = p->second;
        printf("%-20s median %9.1f %s (%.1f-%.1f)  %-18s median %9.1f %s (%.1f-%.1f)  "
               "ratio %.2f\n",
               figure, a["median"], unit, a["min"], a["max"], peer, b["median"], unit, b["min"],
               b["max"], a["median"] / b["median"]);
    }

private:
    std::map<std::string, std::map<std::string, double>> m_figures;
};

void Figure(benchmark::internal::Benchmark *b, benchmark::TimeUnit unit,
            benchmark::IterationCount iterations) {
    b->Unit(unit)
        ->Iterations(iterations)
        ->Repetitions(kRepetitions)
        ->UseRealTime()
        ->DisplayAggregatesOnly()
        ->ComputeStatistics("min", Least)
        ->ComputeStatistics("max", Most);
}

void DownloadFigure(benchmark::internal::Benchmark *b) {
    Figure(b, benchmark::kMillisecond, kDownloads);
}

void SendFigure(benchmark::internal::Benchmark *b) {
    Figure(b, benchmark::kMicrosecond, kRoundTrips);
}

void PrintLoad(const char *when) {
    double load[3] = {};
    if (getloadavg(load, 3) == 3)
        printf("load average %s: %.2f %.2f %.2f\n", when, load[0], load[1], load[2]);
}

} // namespace

BENCHMARK(Download_HttpClient)->Apply(DownloadFigure);
BENCHMARK(Download_CurlEasy)->Apply(DownloadFigure);
BENCHMARK(Send_QuillDoc)->Apply(SendFigure);
BENCHMARK(Send_HttpClient)->Apply(SendFigure);
BENCHMARK(Send_CurlEasy)->Apply(SendFigure);

int main(int argc, char **argv) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    std::vector<char *> arguments(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    arguments.insert(arguments.begin() + 1, interleave);
    int count = static_cast<int>(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    Loopback();
    PrintLoad("before");
    PeerReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintLoad("after");
    reporter.Compare("Download_HttpClient", "Download_CurlEasy", "ms");
    reporter.Compare("Send_HttpClient", "Send_CurlEasy", "us");
    reporter.Compare("Send_QuillDoc", "Send_CurlEasy", "us");
    Loopback().nginx.reset();
    benchmark::Shutdown();
    return 0;
}
